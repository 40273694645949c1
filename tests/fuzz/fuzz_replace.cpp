// A replace over two files against the plain model of a copy: the rows are the rewritten lines, a file whose
// code page cannot write the replacement gets no copy, sources stay as they were, no temporary file is left.

#include "fuzz.h"
#include "io/textlines.h"
#include "replace/replacecommands.h"

using namespace kelvara;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    FuzzedDataProvider provider(data, size);
    const bool caseSensitive = provider.ConsumeBool();
    const auto text = [&] { return QString::fromStdString(provider.ConsumeRandomLengthString(32)); };
    const QString search = text(), replacement = text();
    const std::optional<QString> only = provider.ConsumeBool() ? std::optional(text()) : std::nullopt;
    const std::string sources[2] = {fuzz::filler(provider, LineBlockReader::InitialBufferSize + 32 * 1024) +
                                        provider.ConsumeRandomLengthString(4096),
                                    provider.ConsumeRemainingBytesAsString()};
    if (search.isEmpty())
        return 0; // refused before anything is done

    const std::string dir = fuzz::tempDir() + "/work", uj = dir + "/uj", names[2] = {"a.txt", "b.txt"};
    std::filesystem::remove_all(uj);
    std::filesystem::create_directories(dir);
    for (int i = 0; i < 2; ++i)
        fuzz::writeFile(dir + '/' + names[i], sources[i]);

    ListedFiles files(QString::fromStdString(dir));
    assert(!files.reread() && files.entryCount() == 2);
    files.setEntrySelected(0, true);
    files.setEntrySelected(1, true);
    const ReplaceText replaceText(search, replacement, caseSensitive);
    MainState state;
    test::Rows rows;
    test::ScriptedErrors errors;
    if (only)
        replaceInSelectedLine(files, replaceText, *only, state, rows, errors);
    else
        replaceMarkedFiles(files, replaceText, state, rows, errors);

    QStringList expectedRows;
    int copies = 0;
    for (int k = 0; k < 2; ++k) {
        const std::string name = files.entryText(k).toStdString();
        const std::string& source = sources[name == names[0] ? 0 : 1];
        const test::Copy copy = test::plainCopy(source, search, replacement, caseSensitive, only);
        expectedRows += test::block(QString::fromStdString(uj + '/' + name)) + copy.rows;
        assert(fuzz::readFile(dir + '/' + name) == source);
        assert(fuzz::readFile(uj + '/' + name) == copy.bytes);
        copies += copy.bytes.has_value();
    }
    // The copies checked above and nothing else, no temporary file among them.
    assert(std::distance(std::filesystem::directory_iterator(uj), {}) == copies);
    assert(rows.rows == expectedRows);
    assert(errors.paths.isEmpty() && errors.messages.size() == 2 - copies);
    return 0;
}
