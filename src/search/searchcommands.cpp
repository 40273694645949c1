#include "searchcommands.h"

#include "io/descriptor.h"
#include "io/directory.h"
#include "text/pathcodec.h"

namespace kelvara {

namespace {

void startSearch(MainState& state)
{
    state.modeMarker = QStringLiteral("ak");
    state.hitCount = 0;
}

// The selection rule of the search in the selected files: when every entry before the last one is
// selected (so also with a single entry), the list is read again and only its first entry selected.
void normalizeSelection(FileSelection& files, FileErrorHandler& errors)
{
    const int n = files.entryCount();
    if (n < 1 || files.selectedEntryCount() - (files.isEntrySelected(n - 1) ? 1 : 0) < n - 1)
        return;
    rereadFileList(files, errors);
    if (files.entryCount() > 0)
        files.setEntrySelected(0, true);
}

// Searches the entries for which `chosen` holds, in list order; `onFile` before each file's rows.
template <typename Chosen>
void searchEntries(FileSelection& files, const SearchText& search, MainState& state, RowSink& rows,
                   FileErrorHandler& errors, PassControl* control, Chosen chosen,
                   const std::function<void(const PassFile&)>& onFile = {})
{
    // The working directory, opened once per command; its files are opened relative to it. When it
    // cannot be opened, each file is opened by its path and reports its own error.
    const QString directory = files.directoryPath();
    Descriptor dirFd;
    openDirectory(directory, dirFd);
    std::shared_ptr<const std::vector<DirectoryEntry>> listed = files.entries();
    if (!dirFd.isOpen()) {
        auto byPath = std::make_shared<std::vector<DirectoryEntry>>(*listed);
        for (DirectoryEntry& entry : *byPath)
            entry.name = pathToBytes(joinPath(directory, entry.text));
        listed = std::move(byPath);
    }
    std::vector<PassFile> toSearch;
    toSearch.reserve(listed->size());
    for (size_t k = 0; k < listed->size(); ++k)
        if (chosen(int(k)))
            toSearch.push_back({&(*listed)[k], int(k)});
    PassControl defaults;
    SearchPass pass(search, control ? *control : defaults);
    pass.run(directory, dirFd.isOpen() ? dirFd.get() : AT_FDCWD, toSearch, state, rows, errors, onFile);
}

} // namespace

void rereadFileList(FileSelection& files, FileErrorHandler& errors)
{
    while (const std::optional<FileError> error = files.reread()) {
        if (!errors.askRetry(*error, files.directoryPath()))
            return;
    }
}

void searchMarkedFiles(FileSelection& files, const SearchText& search, MainState& state, RowSink& rows,
                       FileErrorHandler& errors, PassControl* control)
{
    searchEntries(files, search, state, rows, errors, control,
                  [&](int k) { return files.isEntrySelected(k); });
}

void searchSelectedFiles(FileSelection& files, const SearchText& search, MainState& state, RowSink& rows,
                         FileErrorHandler& errors, PassControl* control)
{
    startSearch(state);
    normalizeSelection(files, errors);
    rows.clear();
    searchMarkedFiles(files, search, state, rows, errors, control);
}

// Each entry is selected as its turn comes, so a search that is stopped selects the files it searched.
void searchAllFiles(FileSelection& files, const SearchText& search, MainState& state, RowSink& rows,
                    FileErrorHandler& errors, PassControl* control)
{
    startSearch(state);
    rows.clear();
    rereadFileList(files, errors);
    searchEntries(
        files, search, state, rows, errors, control, [](int) { return true; },
        [&](const PassFile& file) { files.setEntrySelected(file.entry, true); });
}

} // namespace kelvara
