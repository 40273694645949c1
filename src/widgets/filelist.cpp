#include "filelist.h"

#include "text/pathcodec.h"

#include <QAbstractListModel>
#include <QAccessible>
#include <QEvent>
#include <QScopedValueRollback>
#include <algorithm>
#include <utility>

namespace kelvara {

// The entries of a FileList as the view reads them; only the rows on screen are ever asked for.
class FileListModel : public QAbstractListModel
{
public:
    FileListModel(const std::vector<DirectoryEntry>& entries, QObject* parent)
        : QAbstractListModel(parent), entries_(entries)
    {}

    int rowCount(const QModelIndex& parent) const override
    {
        return parent.isValid() ? 0 : int(entries_.size());
    }
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (role != Qt::DisplayRole || !checkIndex(index, CheckIndexOption::IndexIsValid))
            return {};
        return displayPath(entries_[size_t(index.row())].text);
    }
    Qt::ItemFlags flags(const QModelIndex& index) const override
    {
        return index.isValid() ? Qt::ItemIsSelectable | Qt::ItemIsEnabled : Qt::NoItemFlags;
    }
    // Wraps the change of the entries, which the list makes itself.
    template <typename Change> void reset(Change change)
    {
        beginResetModel();
        change();
        endResetModel();
    }

private:
    const std::vector<DirectoryEntry>& entries_;
};

FileList::FileList(QWidget* parent) : QListView(parent), model_(new FileListModel(entries_, this))
{
    setModel(model_);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setUniformItemSizes(true);
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, &FileList::mirror);
}

std::optional<FileError> FileList::setPath(const QString& directory)
{
    path_ = directory;
    return refresh();
}

std::optional<FileError> FileList::refresh()
{
    const QScopedValueRollback quiet(settingFromCode_, true);
    std::vector<DirectoryEntry> listed;
    std::optional<FileError> error = listFiles(path_, listed);
    if (error)
        listed.clear();
    // A reset of the model clears the view's selection and current entry without telling.
    model_->reset([&] {
        entries_ = std::move(listed);
        selected_.assign(entries_.size(), false);
        selectedCount_ = 0;
        runFirst_ = runLast_ = -1;
        runSettled_ = true;
    });
    return error;
}

QString FileList::entryText(int k) const
{
    return k >= 0 && k < count() ? entries_[size_t(k)].text : QString();
}

QByteArray FileList::entryName(int k) const
{
    return k >= 0 && k < count() ? entries_[size_t(k)].name : QByteArray();
}

bool FileList::isEntrySelected(int k) const
{
    return k >= 0 && k < count() && selected_[size_t(k)];
}

void FileList::setEntrySelected(int k, bool selected)
{
    if (k < 0 || k >= count())
        return;
    const QScopedValueRollback quiet(settingFromCode_, true);
    const QModelIndex index = model_->index(k);
    if (!selected) {
        runFirst_ = runLast_ = -1;
        selectionModel()->select(index, QItemSelectionModel::Deselect);
        return;
    }
    // Selecting an entry finishes the selection model's current range and starts a new one with the
    // entry. When code selects the entries one after the other into an empty selection, the current
    // range grows by the entry instead, and settleRun() cuts it as the entry-by-entry selection
    // would have before the user can act on it.
    if (runLast_ >= 0 && k == runLast_ + 1 && !selected_[size_t(k)] &&
        selectedCount_ == runLast_ - runFirst_ + 1) {
        selectionModel()->select(QItemSelection(model_->index(runFirst_), index),
                                 QItemSelectionModel::Select | QItemSelectionModel::Current);
        runLast_ = k;
        runSettled_ = false;
    } else {
        selectionModel()->select(index, QItemSelectionModel::Select);
        runFirst_ = runLast_ = selectedCount_ == 1 ? k : -1;
        runSettled_ = true;
    }
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
}

void FileList::selectRange(int first, int last)
{
    last = std::min(last, count() - 1);
    if (first < 0 || first > last)
        return;
    setEntrySelected(first, true);
    if (last == first)
        return;
    const auto rest = selected_.begin() + first + 1, end = selected_.begin() + last + 1;
    if (runLast_ != first || std::find(rest, end, true) != end) {
        for (int k = first + 1; k <= last; ++k)
            setEntrySelected(k, true);
        return;
    }
    // Each entry would grow the run of entries selected one after the other (see setEntrySelected()).
    const QScopedValueRollback quiet(settingFromCode_, true);
    selectionModel()->select(QItemSelection(model_->index(runFirst_), model_->index(last)),
                             QItemSelectionModel::Select | QItemSelectionModel::Current);
    runLast_ = last;
    runSettled_ = false;
    selectionModel()->setCurrentIndex(model_->index(last), QItemSelectionModel::NoUpdate);
}

// What code changes, the view repaints, scrolls to and tells assistive technology about once events
// are processed (as when a dialog opens mid-command) rather than entry by entry: at every step,
// working out the rows to repaint, scrolling and one event per entry cost more than the step itself.
void FileList::selectionChanged(const QItemSelection& selected, const QItemSelection& deselected)
{
    if (settingFromCode_)
        afterCodeChange(false);
    else
        QListView::selectionChanged(selected, deselected);
}

void FileList::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    if (settingFromCode_)
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

// The selection model's current range is the one that the user's Shift ranges replace: with entries
// selected one by one it holds only the last of them, the others are finished ranges.
void FileList::settleRun()
{
    if (runSettled_ || runLast_ <= runFirst_)
        return;
    const QScopedValueRollback quiet(settingFromCode_, true);
    selectionModel()->select(QItemSelection(model_->index(runFirst_), model_->index(runLast_ - 1)),
                             QItemSelectionModel::ClearAndSelect);
    selectionModel()->select(model_->index(runLast_), QItemSelectionModel::Select);
    runSettled_ = true;
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
        settleRun();
        return userInput(press, [&] { return QListView::viewportEvent(event); });
    default:
        return QListView::viewportEvent(event);
    }
}

void FileList::keyPressEvent(QKeyEvent* event)
{
    settleRun();
    userInput(true, [&] {
        QListView::keyPressEvent(event);
        return true;
    });
}

QString FileList::currentText() const
{
    return entryText(currentEntry());
}

void FileList::mirror(const QItemSelection& selected, const QItemSelection& deselected)
{
    const auto set = [this](const QItemSelection& ranges, bool value) {
        for (const QItemSelectionRange& range : ranges) {
            const int last = std::min(range.bottom(), count() - 1);
            for (int k = std::max(range.top(), 0); k <= last; ++k) {
                if (selected_[size_t(k)] != value) {
                    selected_[size_t(k)] = value;
                    selectedCount_ += value ? 1 : -1;
                }
            }
        }
    };
    set(deselected, false);
    set(selected, true);
    if (!settingFromCode_) {
        // The user's change replaced what the selection model held as the current range.
        runFirst_ = runLast_ = -1;
        runSettled_ = true;
        if (inUserInput_)
            userChanged_ = true; // click() follows the event
        else
            emit click();
    }
}

} // namespace kelvara
