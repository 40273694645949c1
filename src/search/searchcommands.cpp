#include "searchcommands.h"

#include "platform/descriptor.h"
#include "platform/directory.h"
#include "platform/pathcodec.h"

namespace kelvara {

namespace {

// The working directory, opened once per command; its files are opened relative to it. When it
// cannot be opened, each file is opened by its path and reports its own error.
class WorkingDirectory
{
public:
    explicit WorkingDirectory(const QString& path) : path_(path) { openDirectory(path, fd_); }

    void search(SearchPass& pass, FileSelection& files, int k, MainState& state, RowSink& rows,
                FileErrorHandler& errors) const
    {
        const QString entry = files.entryText(k);
        const QByteArray name = fd_.isOpen() ? files.entryName(k) : pathToBytes(joinPath(path_, entry));
        const int dirFd = fd_.isOpen() ? fd_.get() : AT_FDCWD;
        while (const std::optional<FileError> error =
                   pass.searchFile(dirFd, name, path_, entry, state, rows)) {
            if (!errors.retry(*error, state.filePath))
                return;
        }
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
    const WorkingDirectory directory(files.directoryPath());
    const int n = files.entryCount();
    for (int k = 0; k < n; ++k)
        if (files.isEntrySelected(k))
            directory.search(pass, files, k, state, rows, errors);
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
    const WorkingDirectory directory(files.directoryPath());
    const int n = files.entryCount();
    for (int k = 0; k < n; ++k) {
        files.setEntrySelected(k, true);
        directory.search(pass, files, k, state, rows, errors);
    }
}

} // namespace kelvara
