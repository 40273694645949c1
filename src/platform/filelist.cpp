#include "filelist.h"

#include "pathcodec.h"

#include <QScopedValueRollback>

namespace kelvara {

FileList::FileList(QWidget* parent) : QListWidget(parent)
{
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setUniformItemSizes(true);
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (!settingFromCode_)
            emit click();
    });
}

std::optional<FileError> FileList::setPath(const QString& directory)
{
    path_ = directory;
    return refresh();
}

std::optional<FileError> FileList::refresh()
{
    const QScopedValueRollback quiet(settingFromCode_, true);
    clear();
    entries_.clear();
    std::optional<FileError> error = listFiles(path_, entries_);
    if (error)
        entries_.clear();
    for (const DirectoryEntry& entry : entries_)
        addItem(displayPath(entry.text));
    return error;
}

QString FileList::entryText(int k) const
{
    return k >= 0 && size_t(k) < entries_.size() ? entries_[size_t(k)].text : QString();
}

QByteArray FileList::entryName(int k) const
{
    return k >= 0 && size_t(k) < entries_.size() ? entries_[size_t(k)].name : QByteArray();
}

bool FileList::isEntrySelected(int k) const
{
    const QListWidgetItem* entry = item(k);
    return entry && entry->isSelected();
}

void FileList::setEntrySelected(int k, bool selected)
{
    const QModelIndex index = model()->index(k, 0);
    if (!index.isValid())
        return;
    const QScopedValueRollback quiet(settingFromCode_, true);
    if (selected)
        selectionModel()->setCurrentIndex(index, QItemSelectionModel::Select);
    else
        selectionModel()->select(index, QItemSelectionModel::Deselect);
}

QString FileList::currentText() const
{
    return entryText(currentRow());
}

} // namespace kelvara
