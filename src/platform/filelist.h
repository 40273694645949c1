#pragma once

#include "directory.h"
#include "fileerror.h"
#include "fileselection.h"

#include <QListWidget>
#include <optional>
#include <vector>

namespace kelvara {

// The file list of one directory: its regular files by name, with extended multiple selection
// (Shift for ranges, Ctrl to add or remove one entry). click() comes when the user changes the
// selection; selections made from code raise nothing.
class FileList : public QListWidget, public FileSelection
{
    Q_OBJECT

public:
    explicit FileList(QWidget* parent = nullptr);

    QString path() const { return path_; }
    // Lists the files of `directory`. When it cannot be listed the list stays empty and the error
    // comes back; the path is kept, so refresh() tries the same directory again.
    std::optional<FileError> setPath(const QString& directory);
    // Reads the directory again: new entries, no selection, no current entry.
    std::optional<FileError> refresh();

    QString directoryPath() const override { return path_; }
    int entryCount() const override { return count(); }
    QString entryText(int k) const override;
    QByteArray entryName(int k) const override;
    bool isEntrySelected(int k) const override;
    void setEntrySelected(int k, bool selected) override;
    QString currentEntryText() const override { return currentText(); }
    std::optional<FileError> reread() override { return refresh(); }
    // The text of the current entry, empty when there is none.
    QString currentText() const;

signals:
    void click();

private:
    std::vector<DirectoryEntry> entries_;
    QString path_;
    bool settingFromCode_ = false;
};

} // namespace kelvara
