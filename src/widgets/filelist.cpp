#include "filelist.h"

#include "text/pathcodec.h"

#include <QAccessible>
#include <QEvent>
#include <QScopedValueRollback>
#include <algorithm>
#include <utility>

namespace kelvara {

FileListModel::FileListModel(QObject* parent)
    : QAbstractListModel(parent), ListedFiles(QString()), selection_(this)
{
    connect(&selection_, &QItemSelectionModel::selectionChanged, this, &FileListModel::mirror);
    connect(&selection_, &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) { setCurrentEntry(current.row()); });
}

int FileListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : entryCount();
}

QVariant FileListModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    return displayPath(entryText(index.row()));
}

Qt::ItemFlags FileListModel::flags(const QModelIndex& index) const
{
    return index.isValid() ? Qt::ItemIsSelectable | Qt::ItemIsEnabled : Qt::NoItemFlags;
}

void FileListModel::adopt(std::vector<DirectoryEntry>&& listed)
{
    const QScopedValueRollback quiet(fromCode_, true);
    // A reset of the model clears the selection model and its current entry without telling.
    beginResetModel();
    ListedFiles::adopt(std::move(listed));
    runFirst_ = runLast_ = -1;
    runSettled_ = true;
    endResetModel();
}

void FileListModel::setEntrySelected(int k, bool selected)
{
    if (selected)
        return selectRange(k, k);
    if (k < 0 || k >= entryCount())
        return;
    const QScopedValueRollback quiet(fromCode_, true);
    runFirst_ = runLast_ = -1;
    selection_.select(index(k), QItemSelectionModel::Deselect);
}

void FileListModel::selectRange(int first, int last)
{
    last = std::min(last, entryCount() - 1);
    if (first < 0 || first > last)
        return;
    const QScopedValueRollback quiet(fromCode_, true);
    // Selecting an entry finishes the selection model's current range and starts a new one with the
    // entry. When code selects the entries one after the other into an empty selection, the current
    // range grows by them instead, and settleRun() cuts it as the entry-by-entry selection would have
    // before the user can act on it. The entries after the run are not selected, so growing it by all
    // of them at once selects what selecting them one by one would.
    for (int k = first; k <= last; ++k) {
        if (runLast_ >= 0 && k == runLast_ + 1) {
            selection_.select(QItemSelection(index(runFirst_), index(last)),
                              QItemSelectionModel::Select | QItemSelectionModel::Current);
            runLast_ = last;
            runSettled_ = false;
            break;
        }
        selection_.select(index(k), QItemSelectionModel::Select);
        runFirst_ = runLast_ = selectedEntryCount() == 1 ? k : -1;
        runSettled_ = true;
    }
    selection_.setCurrentIndex(index(last), QItemSelectionModel::NoUpdate);
}

// The selection model's current range is the one that the user's Shift ranges replace: with entries
// selected one by one it holds only the last of them, the others are finished ranges.
void FileListModel::settleRun()
{
    if (runSettled_ || runLast_ <= runFirst_)
        return;
    const QScopedValueRollback quiet(fromCode_, true);
    selection_.select(QItemSelection(index(runFirst_), index(runLast_ - 1)),
                      QItemSelectionModel::ClearAndSelect);
    selection_.select(index(runLast_), QItemSelectionModel::Select);
    runSettled_ = true;
}

void FileListModel::mirror(const QItemSelection& selected, const QItemSelection& deselected)
{
    for (const QItemSelectionRange& range : deselected)
        markRange(range.top(), range.bottom(), false);
    for (const QItemSelectionRange& range : selected)
        markRange(range.top(), range.bottom(), true);
    if (!fromCode_) { // the user's change replaced what the selection model held as the current range
        runFirst_ = runLast_ = -1;
        runSettled_ = true;
    }
}

FileList::FileList(QWidget* parent) : QListView(parent), files_(new FileListModel(this))
{
    setModel(files_);
    QItemSelectionModel* made = selectionModel(); // the view's own, which files_ replaces
    setSelectionModel(files_->selection());
    delete made;
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setUniformItemSizes(true);
}

// What code changes, the view repaints, scrolls to and tells assistive technology about once events
// are processed (as when a dialog opens mid-command) rather than entry by entry: at every step,
// working out the rows to repaint, scrolling and one event per entry cost more than the step itself.
void FileList::selectionChanged(const QItemSelection& selected, const QItemSelection& deselected)
{
    if (files_->changingFromCode())
        return afterCodeChange(false);
    QListView::selectionChanged(selected, deselected);
    if (inUserInput_)
        userChanged_ = true; // click() follows the event
    else
        emit click();
}

void FileList::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    if (files_->changingFromCode())
        afterCodeChange(true);
    else
        QListView::currentChanged(current, previous);
}

void FileList::afterCodeChange(bool currentMoved)
{
    viewport()->update();
    scrollPending_ = scrollPending_ || currentMoved;
    if (codeChangePending_)
        return;
    codeChangePending_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            codeChangePending_ = false;
            if (std::exchange(scrollPending_, false) && currentIndex().isValid())
                scrollTo(currentIndex());
            announceSelection();
        },
        Qt::QueuedConnection);
}

void FileList::announceSelection()
{
    QAccessibleEvent changed(this, QAccessible::SelectionWithin);
    QAccessible::updateAccessibility(&changed);
}

template <typename Handle> auto FileList::userInput(bool press, Handle handle)
{
    if (inUserInput_)
        return handle();
    inUserInput_ = true;
    userChanged_ = false;
    const auto handled = handle();
    inUserInput_ = false;
    if (press || userChanged_)
        emit click();
    return handled;
}

// Mouse input reaches the list through its viewport.
bool FileList::viewportEvent(QEvent* event)
{
    bool press = false;
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        press = true;
        [[fallthrough]];
    case QEvent::MouseMove:
    case QEvent::MouseButtonRelease:
        files_->settleRun();
        return userInput(press, [&] { return QListView::viewportEvent(event); });
    default:
        return QListView::viewportEvent(event);
    }
}

void FileList::keyPressEvent(QKeyEvent* event)
{
    files_->settleRun();
    userInput(true, [&] {
        QListView::keyPressEvent(event);
        return true;
    });
}

} // namespace kelvara
