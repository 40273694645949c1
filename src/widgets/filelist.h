#pragma once

#include "io/directory.h"
#include "io/fileerror.h"
#include "io/fileselection.h"

#include <QListView>
#include <optional>
#include <vector>

namespace kelvara {

class FileListModel;

// The file list of one directory: its regular files by name, with extended multiple selection
// (Shift for ranges, Ctrl to add or remove one entry). click() comes after every press of a mouse
// button or a key in the list, whether the selection changed or not, and when the user changes the
// selection otherwise (dragging); selections made from code raise nothing. Those are told to
// assistive technology once the command that made them is over, not entry by entry.
//
// Every step a command repeats per file costs O(1): the list keeps one flag per entry and the number
// of selected entries, mirrored from the changes of the view's selection, and the entries a command
// selects one after the other stay one range of that selection rather than one range each.
class FileList : public QListView, public FileSelection
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
    int count() const { return int(entries_.size()); }

    QString directoryPath() const override { return path_; }
    int entryCount() const override { return count(); }
    QString entryText(int k) const override;
    QByteArray entryName(int k) const override;
    bool isEntrySelected(int k) const override;
    int selectedEntryCount() const override { return selectedCount_; }
    void setEntrySelected(int k, bool selected) override;
    // Selects entries first..last as selecting them one after the other would, at the cost of one.
    void selectRange(int first, int last);
    int currentEntry() const override { return currentIndex().row(); }
    std::optional<FileError> reread() override { return refresh(); }
    // The text of the current entry, empty when there is none.
    QString currentText() const;

signals:
    void click();

protected:
    // Tells assistive technology that code changed the selection, in one event for all the entries.
    virtual void announceSelection();
    void selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    bool viewportEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void settleRun();
    void mirror(const QItemSelection& selected, const QItemSelection& deselected);
    // Runs the view's handling of a user's input event, then raises click() once when the event
    // was a press or changed the selection.
    template <typename Handle> auto userInput(bool press, Handle handle);
    void afterCodeChange(bool currentMoved);

    FileListModel* model_;
    std::vector<DirectoryEntry> entries_;
    std::vector<bool> selected_;
    int selectedCount_ = 0;
    // The entries runFirst_..runLast_, and no others, were selected by code one after the other; -1
    // when there is no such run.
    int runFirst_ = -1;
    int runLast_ = -1;
    // False while the selection model holds the run as its current range (see settleRun()).
    bool runSettled_ = true;
    bool scrollPending_ = false;
    bool codeChangePending_ = false;
    QString path_;
    bool settingFromCode_ = false;
    // Inside a user's input event; userChanged_ when it changed the selection.
    bool inUserInput_ = false;
    bool userChanged_ = false;
};

} // namespace kelvara
