#include "replacecommands.h"

#include "io/tempfiles.h"
#include "outputdirectory.h"
#include "search/searchcommands.h"
#include "text/pathcodec.h"

#include <cerrno>
#include <unistd.h>

namespace kelvara {

namespace {

// A replace needs something to look for; without it the command does nothing at all.
bool refuseEmptySearch(const ReplaceText& text, ReplaceErrors& errors)
{
    if (!text.search().isEmpty())
        return false;
    errors.tell(QStringLiteral("Nincs megadva keresett szöveg."));
    return true;
}

// Opens the working directory and its uj for the whole command, and removes what killed runs left in
// uj (off the calling thread: listing uj may take long). False, after telling why, when no copy can
// go into uj.
bool prepareOutput(FileSelection& files, MainState& state, ReplaceErrors& errors, ReplaceDirectories& dirs,
                   PassControl& control)
{
    using Kind = OutputDirectoryProblem::Kind;
    while (const std::optional<OutputDirectoryProblem> problem =
               openOutputDirectory(files.directoryPath(), state, dirs)) {
        switch (problem->kind) {
        case Kind::FileError:
            if (!errors.askRetry(problem->error, problem->path))
                return false;
            break;
        case Kind::Link:
            errors.tell(QStringLiteral("Az uj nem könyvtár, hanem hivatkozás, ezért a másolatok nem "
                                       "kerülhetnek bele:\n") +
                        displayPath(problem->path));
            return false;
        case Kind::NotDirectory:
            errors.tell(QStringLiteral("Az uj nem könyvtár, hanem ") + fileTypeName(problem->seen) +
                        QStringLiteral(", ezért a másolatok nem kerülhetnek bele:\n") +
                        displayPath(problem->path));
            return false;
        case Kind::Same:
            // For example the working directory mounted once more at uj.
            errors.tell(QStringLiteral("Az uj könyvtár azonos a megnyitott könyvtárral, a másolatok "
                                       "felülírnák az eredeti fájlokat."));
            return false;
        }
    }
    control.runPulsing([&] { removeAbandonedTemporaries(dirs.output.get()); });
    return true;
}

// Makes the copies just written safe from a power loss before the command says it is done.
void flushOutput(const ReplaceDirectories& dirs, const MainState& state, ReplaceErrors& errors,
                 PassControl& control)
{
    for (;;) {
        int error = 0;
        control.runPulsing([&] { error = ::syncfs(dirs.output.get()) == 0 ? 0 : errno; });
        if (error == 0 || !errors.askRetry(FileError::fromErrno(error), state.outDirPath))
            return;
    }
}

// Writes the copies of the entries for which `chosen` holds, in list order, into uj; `onFile`
// before each file's header block.
template <typename Chosen>
ReplaceSummary replaceEntries(FileSelection& files, const ReplaceText& text, const LineFilter& filter,
                              MainState& state, RowSink& rows, ReplaceErrors& errors, PassControl* control,
                              Chosen chosen, const std::function<void(const PassFile&)>& onFile = {})
{
    // The directories are opened before the pass and closed after it: no thread of the pass outlives
    // them.
    ReplaceDirectories dirs;
    PassControl defaults;
    PassControl& how = control ? *control : defaults;
    ReplacePass pass(text, filter, how);
    if (prepareOutput(files, state, errors, dirs, how)) {
        const std::shared_ptr<const std::vector<DirectoryEntry>> listed = files.entries();
        std::vector<PassFile> toWrite;
        toWrite.reserve(listed->size());
        for (size_t k = 0; k < listed->size(); ++k)
            if (chosen(int(k)))
                toWrite.push_back({&(*listed)[k], int(k)});
        pass.run(dirs, toWrite, state, rows, errors, onFile);
        if (!how.stopped())
            flushOutput(dirs, state, errors, how);
    }
    return {true, pass.rewrittenLines()};
}

} // namespace

ReplaceSummary replaceInCurrentFile(FileSelection& files, const ReplaceText& text, MainState& state,
                                    RowSink& rows, ReplaceErrors& errors, PassControl* control)
{
    if (refuseEmptySearch(text, errors))
        return {};
    rows.clear();
    const int current = files.currentEntry();
    return replaceEntries(files, text, {}, state, rows, errors, control, [&](int k) { return k == current; });
}

// Each entry is selected as its turn comes, so a replace that is stopped selects the files it wrote.
ReplaceSummary replaceInAllFiles(FileSelection& files, const ReplaceText& text, MainState& state,
                                 RowSink& rows, ReplaceErrors& errors, PassControl* control)
{
    if (refuseEmptySearch(text, errors))
        return {};
    rows.clear();
    rereadFileList(files, errors);
    return replaceEntries(
        files, text, {}, state, rows, errors, control, [](int) { return true; },
        [&](const PassFile& file) { files.setEntrySelected(file.entry, true); });
}

ReplaceSummary replaceInSelectedFiles(FileSelection& files, const ReplaceText& text, MainState& state,
                                      RowSink& rows, ReplaceErrors& errors, PassControl* control)
{
    if (refuseEmptySearch(text, errors))
        return {};
    if (files.entryCount() >= 2 && files.isEntrySelected(0)) {
        rereadFileList(files, errors);
        if (files.entryCount() > 0)
            files.setEntrySelected(0, true);
    }
    rows.clear();
    return replaceMarkedFiles(files, text, state, rows, errors, control);
}

ReplaceSummary replaceInSelectedLine(FileSelection& files, const ReplaceText& text,
                                     const QString& selectedRow, MainState& state, RowSink& rows,
                                     ReplaceErrors& errors, PassControl* control)
{
    if (refuseEmptySearch(text, errors))
        return {};
    state.modeMarker = QStringLiteral("ujak");
    const LineFilter filter{true, encode(selectedRow, CodePage::Utf8),
                            encode(selectedRow, CodePage::Windows1250), isAscii(selectedRow)};
    return replaceEntries(files, text, filter, state, rows, errors, control,
                          [&](int k) { return files.isEntrySelected(k); });
}

ReplaceSummary replaceMarkedFiles(FileSelection& files, const ReplaceText& text, MainState& state,
                                  RowSink& rows, ReplaceErrors& errors, PassControl* control)
{
    if (refuseEmptySearch(text, errors))
        return {};
    return replaceEntries(files, text, {}, state, rows, errors, control,
                          [&](int k) { return files.isEntrySelected(k); });
}

} // namespace kelvara
