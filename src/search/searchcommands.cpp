#include "searchcommands.h"

namespace kelvara {

namespace {

void searchWithRetry(SearchPass& pass, FileSelection& files, int k, MainState& state, RowSink& rows,
                     FileErrorHandler& errors)
{
    while (const std::optional<FileError> error =
               pass.searchFile(files.directoryPath(), files.entryText(k), state, rows)) {
        if (!errors.retry(*error, state.filePath))
            return;
    }
}

void startSearch(MainState& state)
{
    state.modeMarker = QStringLiteral("ak");
    state.hitCount = 0;
}

} // namespace

void rereadFileList(FileSelection& files, FileErrorHandler& errors)
{
    while (const std::optional<FileError> error = files.reread()) {
        if (!errors.retry(*error, files.directoryPath()))
            return;
    }
}

void normalizeSelection(FileSelection& files, FileErrorHandler& errors)
{
    const int n = files.entryCount();
    if (n < 1)
        return;
    const int selectedBeforeLast = files.selectedEntryCount() - (files.isEntrySelected(n - 1) ? 1 : 0);
    if (selectedBeforeLast < n - 1)
        return;
    rereadFileList(files, errors);
    if (files.entryCount() > 0)
        files.setEntrySelected(0, true);
}

void searchMarkedFiles(FileSelection& files, const SearchText& search, MainState& state, RowSink& rows,
                       FileErrorHandler& errors)
{
    SearchPass pass(search);
    const int n = files.entryCount();
    for (int k = 0; k < n; ++k)
        if (files.isEntrySelected(k))
            searchWithRetry(pass, files, k, state, rows, errors);
}

void searchSelectedFiles(FileSelection& files, const SearchText& search, MainState& state, RowSink& rows,
                         FileErrorHandler& errors)
{
    startSearch(state);
    normalizeSelection(files, errors);
    rows.clear();
    searchMarkedFiles(files, search, state, rows, errors);
}

void searchAllFiles(FileSelection& files, const SearchText& search, MainState& state, RowSink& rows,
                    FileErrorHandler& errors)
{
    startSearch(state);
    rows.clear();
    rereadFileList(files, errors);
    SearchPass pass(search);
    const int n = files.entryCount();
    for (int k = 0; k < n; ++k) {
        files.setEntrySelected(k, true);
        searchWithRetry(pass, files, k, state, rows, errors);
    }
}

} // namespace kelvara
