#include "searchcommands.h"

#include "io/descriptor.h"
#include "io/directory.h"
#include "text/pathcodec.h"

namespace kelvara {

namespace {

// The working directory, opened once per command; its files are opened relative to it. When it
// cannot be opened, each file is opened by its path and reports its own error.
class WorkingDirectory
{
public:
    explicit WorkingDirectory(const QString& path) : path_(path) { openDirectory(path, fd_); }

    int fd() const { return fd_.isOpen() ? fd_.get() : AT_FDCWD; }
    const QString& path() const { return path_; }
    PassFile file(const FileSelection& files, int k) const
    {
        QString text = files.entryText(k);
        return {fd_.isOpen() ? files.entryName(k) : pathToBytes(joinPath(path_, text)), std::move(text), k};
    }

private:
    QString path_;
    Descriptor fd_;
};

void startSearch(MainState& state)
{
    state.modeMarker = QStringLiteral("ak");
    state.hitCount = 0;
}

// Searches the entries for which `chosen` holds, in list order; `onFile` before each file's rows.
template <typename Chosen>
void searchEntries(FileSelection& files, const SearchText& search, MainState& state, RowSink& rows,
                   FileErrorHandler& errors, PassControl* control, Chosen chosen,
                   const std::function<void(const PassFile&)>& onFile = {})
{
    const WorkingDirectory directory(files.directoryPath());
    std::vector<PassFile> toSearch;
    const int n = files.entryCount();
    toSearch.reserve(size_t(n));
    for (int k = 0; k < n; ++k)
        if (chosen(k))
            toSearch.push_back(directory.file(files, k));
    PassControl defaults;
    SearchPass pass(search, control ? *control : defaults);
    pass.run(directory.path(), directory.fd(), toSearch, state, rows, errors, onFile);
}

} // namespace

void rereadFileList(FileSelection& files, FileErrorHandler& errors)
{
    while (const std::optional<FileError> error = files.reread()) {
        if (!errors.askRetry(*error, files.directoryPath()))
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
