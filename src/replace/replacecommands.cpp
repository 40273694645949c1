#include "replacecommands.h"

#include "outputdirectory.h"
#include "platform/pathcodec.h"
#include "search/searchcommands.h"

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

// Opens the working directory and its uj for the whole command. False, after telling why, when no
// copy can go into uj.
bool prepareOutput(FileSelection& files, MainState& state, ReplaceErrors& errors, ReplaceDirectories& dirs)
{
    using Kind = OutputDirectoryProblem::Kind;
    while (const std::optional<OutputDirectoryProblem> problem =
               openOutputDirectory(files.directoryPath(), state, dirs)) {
        switch (problem->kind) {
        case Kind::FileError:
            if (!errors.retry(problem->error, problem->path))
                return false;
            break;
        case Kind::Link:
            errors.tell(QStringLiteral("Az uj nem könyvtár, hanem hivatkozás, ezért a másolatok nem "
                                       "kerülhetnek bele:\n") +
                        displayPath(problem->path));
            return false;
        case Kind::Same:
            // For example the working directory mounted once more at uj.
            errors.tell(QStringLiteral("Az uj könyvtár azonos a megnyitott könyvtárral, a másolatok "
                                       "felülírnák az eredeti fájlokat."));
            return false;
        }
    }
    return true;
}

ReplaceSummary processMarkedFiles(FileSelection& files, ReplacePass& pass, MainState& state, RowSink& rows,
                                  ReplaceErrors& errors)
{
    ReplaceDirectories dirs;
    if (prepareOutput(files, state, errors, dirs)) {
        const int n = files.entryCount();
        for (int k = 0; k < n; ++k)
            if (files.isEntrySelected(k))
                pass.replaceFile(dirs, files.entryText(k), files.entryName(k), state, rows, errors);
        pass.finish(state, rows, errors);
    }
    return {true, pass.rewrittenLines()};
}

} // namespace

ReplaceSummary replaceInCurrentFile(FileSelection& files, const ReplaceText& text, MainState& state,
                                    RowSink& rows, ReplaceErrors& errors)
{
    if (refuseEmptySearch(text, errors))
        return {};
    rows.clear();
    ReplacePass pass(text);
    ReplaceDirectories dirs;
    const int k = files.currentEntry();
    if (prepareOutput(files, state, errors, dirs) && k >= 0) {
        pass.replaceFile(dirs, files.entryText(k), files.entryName(k), state, rows, errors);
        pass.finish(state, rows, errors);
    }
    return {true, pass.rewrittenLines()};
}

ReplaceSummary replaceInAllFiles(FileSelection& files, const ReplaceText& text, MainState& state,
                                 RowSink& rows, ReplaceErrors& errors)
{
    if (refuseEmptySearch(text, errors))
        return {};
    rows.clear();
    rereadFileList(files, errors);
    ReplacePass pass(text);
    ReplaceDirectories dirs;
    if (prepareOutput(files, state, errors, dirs)) {
        const int n = files.entryCount();
        for (int k = 0; k < n; ++k) {
            files.setEntrySelected(k, true);
            pass.replaceFile(dirs, files.entryText(k), files.entryName(k), state, rows, errors);
        }
        pass.finish(state, rows, errors);
    }
    return {true, pass.rewrittenLines()};
}

ReplaceSummary replaceInSelectedFiles(FileSelection& files, const ReplaceText& text, MainState& state,
                                      RowSink& rows, ReplaceErrors& errors)
{
    if (refuseEmptySearch(text, errors))
        return {};
    if (files.entryCount() >= 2 && files.isEntrySelected(0)) {
        rereadFileList(files, errors);
        if (files.entryCount() > 0)
            files.setEntrySelected(0, true);
    }
    rows.clear();
    ReplacePass pass(text);
    return processMarkedFiles(files, pass, state, rows, errors);
}

ReplaceSummary replaceInSelectedLine(FileSelection& files, const ReplaceText& text,
                                     const QString& selectedRow, MainState& state, RowSink& rows,
                                     ReplaceErrors& errors)
{
    if (refuseEmptySearch(text, errors))
        return {};
    state.modeMarker = QStringLiteral("ujak");
    ReplacePass pass(text);
    pass.onlyLinesEqualTo(selectedRow);
    return processMarkedFiles(files, pass, state, rows, errors);
}

ReplaceSummary replaceMarkedFiles(FileSelection& files, const ReplaceText& text, MainState& state,
                                  RowSink& rows, ReplaceErrors& errors)
{
    if (refuseEmptySearch(text, errors))
        return {};
    ReplacePass pass(text);
    return processMarkedFiles(files, pass, state, rows, errors);
}

} // namespace kelvara
