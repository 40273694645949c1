#pragma once

#include "io/fileselection.h"

#include <QAbstractListModel>
#include <QItemSelectionModel>
#include <QListView>

namespace kelvara {

// The files of the window's working directory: the entries as a view reads them (only the rows on
// screen are ever asked for) and, as commands see it, their selection.
//
// The selection lives in the selection model the view shows, which code changes through
// setEntrySelected() and selectRange() and the user through the view. After each change mirror()
// brings the flags and the count of ListedFiles in step, and the current entry follows the model's,
// so a command reads them in O(1). Every step a command repeats per file costs O(1): the entries code
// selects one after the other stay one range of the selection model rather than one range each (the
// run, see selectRange()).
class FileListModel : public QAbstractListModel, public ListedFiles
{
public:
    explicit FileListModel(QObject* parent);

    QItemSelectionModel* selection() { return &selection_; }
    // True while code changes the selection, which the view then repaints once, later.
    bool changingFromCode() const { return fromCode_; }

    int rowCount(const QModelIndex& parent) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    void setEntrySelected(int k, bool selected) override;
    // Selects entries first..last as selecting them one after the other would, at the cost of one
    // when they follow the run.
    void selectRange(int first, int last);
    // Cuts the run as the entry-by-entry selection would have left it; the view calls it before the
    // user's input.
    void settleRun();

protected:
    // New entries, no selection, no current entry. Called once the listing is in hand: the view shows
    // the old entries until then.
    void adopt(std::vector<DirectoryEntry>&& listed) override;

private:
    void mirror(const QItemSelection& selected, const QItemSelection& deselected);

    QItemSelectionModel selection_;
    // The entries runFirst_..runLast_, and no others, are selected, by code one after the other; -1
    // when there is no such run. Any other change of the selection ends it.
    int runFirst_ = -1;
    int runLast_ = -1;
    // False while the selection model holds the run as its current range (see settleRun()).
    bool runSettled_ = true;
    bool fromCode_ = false;
};

// The file list of one directory: its regular files by name, with extended multiple selection
// (Shift for ranges, Ctrl to add or remove one entry). click() comes after every press of a mouse
// button or a key in the list, whether the selection changed or not, and when the user changes the
// selection otherwise (dragging); selections made from code raise nothing. Those are told to
// assistive technology once the command that made them is over, not entry by entry.
class FileList : public QListView
{
    Q_OBJECT

public:
    explicit FileList(QWidget* parent = nullptr);

    // The entries and their selection, as commands read and change them.
    FileListModel& files() const { return *files_; }

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
    // Runs the view's handling of a user's input event, then raises click() once when the event
    // was a press or changed the selection.
    template <typename Handle> auto userInput(bool press, Handle handle);
    void afterCodeChange(bool currentMoved);

    FileListModel* files_;
    bool scrollPending_ = false;
    bool codeChangePending_ = false;
    // Inside a user's input event; userChanged_ when it changed the selection.
    bool inUserInput_ = false;
    bool userChanged_ = false;
};

} // namespace kelvara
