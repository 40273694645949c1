#pragma once

#include "directory.h"
#include "fileerror.h"

#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace kelvara {

// The files of the working directory as a list with a selection: what the commands read and
// change of the file list.
class FileSelection
{
public:
    virtual ~FileSelection() = default;
    virtual QString directoryPath() const = 0;
    virtual int entryCount() const = 0;
    // All the entries as listed, shared: they stay as they are while they are held, whatever is
    // listed meanwhile.
    virtual std::shared_ptr<const std::vector<DirectoryEntry>> entries() const = 0;
    virtual QString entryText(int k) const = 0;
    // The entry's name as the file system holds it, for opening it relative to the directory.
    virtual QByteArray entryName(int k) const = 0;
    virtual bool isEntrySelected(int k) const = 0;
    virtual int selectedEntryCount() const = 0;
    // Selecting an entry also makes it the current one.
    virtual void setEntrySelected(int k, bool selected) = 0;
    // The index of the current entry, -1 when there is none.
    virtual int currentEntry() const = 0;
    // Lists the directory again; every selection is cleared.
    virtual std::optional<FileError> reread() = 0;
};

// The file list of a directory, as listFiles() gives it, with one flag per entry, the number of
// selected entries and the current entry: every read a command makes costs O(1). kelvara-cli uses
// it as it is; the window's file list model keeps these in step with what its view shows.
class ListedFiles : public FileSelection
{
public:
    explicit ListedFiles(const QString& directory) : directory_(directory) {}

    QString directoryPath() const override { return directory_; }
    int entryCount() const override { return int(entries_->size()); }
    std::shared_ptr<const std::vector<DirectoryEntry>> entries() const override { return entries_; }
    QString entryText(int k) const override;
    QByteArray entryName(int k) const override;
    bool isEntrySelected(int k) const override;
    int selectedEntryCount() const override { return selectedCount_; }
    void setEntrySelected(int k, bool selected) override;
    int currentEntry() const override { return current_; }
    std::optional<FileError> reread() override { return rereadThrough(listFiles); }
    // Lists the directory again through `list`, which has listFiles()'s signature and may run it
    // elsewhere (a window lists on another thread while it handles its events). The list is empty
    // meanwhile.
    using Lister = std::function<std::optional<FileError>(const QString&, std::vector<DirectoryEntry>&)>;
    std::optional<FileError> rereadThrough(const Lister& list);
    // Lists `directory` from now on; the path stays when it cannot be listed, for reread().
    std::optional<FileError> setDirectory(const QString& directory)
    {
        directory_ = directory;
        return reread();
    }

protected:
    // Takes `listed` as the entries, none selected, no current entry.
    virtual void adopt(std::vector<DirectoryEntry>&& listed);
    // Sets the flags of the entries first..last that exist; the current entry stays.
    void markRange(int first, int last, bool selected);
    void setCurrentEntry(int k) { current_ = k; }

private:
    QString directory_;
    // Never changed once made: a reread puts a new list here, and a pass that holds the old one reads it
    // from its threads as it was. The last holder frees it.
    std::shared_ptr<const std::vector<DirectoryEntry>> entries_ =
        std::make_shared<std::vector<DirectoryEntry>>();
    std::vector<bool> selected_;
    int selectedCount_ = 0;
    int current_ = -1;
};

// What a command does with a file step that failed: a user who can answer is asked whether to try
// the step again; one who cannot (a script) is only told, and the step is given up.
class FileErrorHandler
{
public:
    virtual ~FileErrorHandler() = default;
    // Tells the user and asks: true to try the step again.
    virtual bool askRetry(const FileError& error, const QString& path)
    {
        report(error, path);
        return false;
    }

protected:
    // Tells the user that the step failed on `path`, where no one is asked.
    virtual void report(const FileError&, const QString&) {}
};

} // namespace kelvara
