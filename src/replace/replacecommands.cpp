#include "replacecommands.h"

#include "outputdirectory.h"
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

// Makes the output directory ready. False, after telling why, when no copy can go into it.
bool prepareOutput(FileSelection& files, MainState& state, ReplaceErrors& errors)
{
    while (const std::optional<FileError> error = ensureOutputDirectory(files.directoryPath(), state)) {
        if (!errors.retry(*error, state.outDirPath))
            return false;
    }
    // uj may be a link back to the working directory itself; its copies would replace the sources.
    if (isSameFile(state.outDirPath, files.directoryPath())) {
        errors.tell(QStringLiteral("Az uj könyvtár azonos a megnyitott könyvtárral, a másolatok felülírnák "
                                   "az eredeti fájlokat."));
        return false;
    }
    return true;
}

ReplaceSummary processMarkedFiles(FileSelection& files, ReplacePass& pass, MainState& state, RowSink& rows,
                                  ReplaceErrors& errors)
{
    if (prepareOutput(files, state, errors)) {
        const int n = files.entryCount();
        for (int k = 0; k < n; ++k)
            if (files.isEntrySelected(k))
                pass.replaceFile(files.directoryPath(), files.entryText(k), state, rows, errors);
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
    const QString name = files.currentEntryText();
    if (prepareOutput(files, state, errors) && !name.isEmpty())
        pass.replaceFile(files.directoryPath(), name, state, rows, errors);
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
    if (prepareOutput(files, state, errors)) {
        const int n = files.entryCount();
        for (int k = 0; k < n; ++k) {
            files.setEntrySelected(k, true);
            pass.replaceFile(files.directoryPath(), files.currentEntryText(), state, rows, errors);
        }
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
