// A replace over two files in a temporary directory against a model: each line holding the search
// text (and, for the selected-line replace, equal to the selected line) has its first occurrence
// replaced, every line ends in CR LF, the rows are the rewritten lines, a file whose code page cannot
// write the replacement gets no copy, the sources stay as they were and no temporary file is left.

#include "fuzz.h"
#include "platform/textlines.h"
#include "replace/replacecommands.h"
#include "support/rows.h"

#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

using namespace kelvara;

namespace {

struct Errors : ReplaceErrors
{
    bool retry(const FileError&, const QString&) override
    {
        FUZZ_CHECK(!"no file error expected");
        return false;
    }
    void tell(const QString&) override { ++told; }
    int told = 0;
};

struct Model
{
    bool written = true;
    std::string copy;
    QStringList rows;
};

Model replaced(const std::string& content, const QString& search, const QString& replacement,
               bool caseSensitive, const std::optional<QString>& filter)
{
    const CodePage codePage = fuzz::isUtf8(content) ? CodePage::Utf8 : CodePage::Windows1250;
    const auto fold = [&](std::string_view s) {
        return caseSensitive ? std::string(s) : foldText(s, codePage);
    };
    const std::optional<std::string> needle = encode(search, codePage);
    const std::optional<std::string> replacementBytes = encode(replacement, codePage);
    const std::string foldedNeedle = needle ? fold(*needle) : std::string();
    Model model;
    for (std::string_view line : fuzz::splitLines(content)) {
        std::string out(line);
        const size_t at = needle && !needle->empty() && needle->find('\r') == std::string::npos &&
                                  (!filter || decode(line, codePage) == *filter)
                              ? fold(line).find(foldedNeedle)
                              : std::string::npos;
        if (at != std::string::npos) {
            if (!replacementBytes)
                return {false, {}, {}};
            out.replace(at, needle->size(), *replacementBytes);
            model.rows.append(decode(out, codePage));
        }
        model.copy += out + "\r\n";
    }
    return model;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    FuzzedDataProvider provider(data, size);
    const bool caseSensitive = provider.ConsumeBool();
    const auto text = [&] { return QString::fromUtf8(fuzz::bytes(provider.ConsumeRandomLengthString(32))); };
    const QString search = text();
    const QString replacement = text();
    std::optional<QString> filter;
    if (provider.ConsumeBool())
        filter = text();
    const std::string sources[2] = {fuzz::filler(provider, LineBlockReader::InitialBufferSize + 32 * 1024) +
                                        provider.ConsumeRandomLengthString(4096),
                                    provider.ConsumeRemainingBytesAsString()};
    if (search.isEmpty())
        return 0; // refused before anything is done

    const std::string dir = fuzz::tempDir() + "/work";
    const std::string uj = dir + "/uj";
    static const bool made = ::mkdir(dir.c_str(), 0755) == 0;
    FUZZ_CHECK(made);
    if (::access(uj.c_str(), F_OK) == 0)
        fuzz::emptyDir(uj);
    const std::string names[2] = {"a.txt", "b.txt"};
    for (int i = 0; i < 2; ++i)
        fuzz::writeFile(dir + '/' + names[i], sources[i]);

    ListedFiles files(QString::fromStdString(dir));
    FUZZ_CHECK(!files.reread() && files.entryCount() == 2);
    files.setEntrySelected(0, true);
    files.setEntrySelected(1, true);
    const ReplaceText replaceText(search, replacement, caseSensitive);
    MainState state;
    test::Rows rows;
    Errors errors;
    if (filter)
        replaceInSelectedLine(files, replaceText, *filter, state, rows, errors);
    else
        replaceMarkedFiles(files, replaceText, state, rows, errors);

    QStringList expectedRows;
    std::vector<std::string> expectedCopies;
    int refused = 0;
    for (int k = 0; k < 2; ++k) {
        const std::string name = files.entryText(k).toStdString();
        const int i = name == names[0] ? 0 : 1;
        expectedRows += test::block(QString::fromStdString(uj + '/' + name));
        const Model model = replaced(sources[i], search, replacement, caseSensitive, filter);
        expectedRows += model.rows;
        std::string copy, source;
        FUZZ_CHECK(fuzz::readFile(dir + '/' + name, source) && source == sources[i]);
        if (model.written) {
            expectedCopies.push_back(name);
            FUZZ_CHECK(fuzz::readFile(uj + '/' + name, copy) && copy == model.copy);
        } else {
            ++refused;
        }
    }
    std::sort(expectedCopies.begin(), expectedCopies.end());
    FUZZ_CHECK(fuzz::listDir(uj) == expectedCopies); // no temporary file left
    FUZZ_CHECK(rows.rows == expectedRows);
    FUZZ_CHECK(errors.told == refused);
    return 0;
}
