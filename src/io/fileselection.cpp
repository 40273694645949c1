#include "fileselection.h"

#include <QThreadPool>
#include <algorithm>
#include <memory>
#include <utility>

namespace kelvara {

QString ListedFiles::entryText(int k) const
{
    return k >= 0 && k < entryCount() ? (*entries_)[size_t(k)].text : QString();
}

QByteArray ListedFiles::entryName(int k) const
{
    return k >= 0 && k < entryCount() ? (*entries_)[size_t(k)].name : QByteArray();
}

bool ListedFiles::isEntrySelected(int k) const
{
    return k >= 0 && k < entryCount() && selected_[size_t(k)];
}

void ListedFiles::setEntrySelected(int k, bool selected)
{
    if (k < 0 || k >= entryCount())
        return;
    markRange(k, k, selected);
    if (selected)
        current_ = k;
}

void ListedFiles::markRange(int first, int last, bool selected)
{
    last = std::min(last, entryCount() - 1);
    for (int k = std::max(first, 0); k <= last; ++k) {
        if (selected_[size_t(k)] != selected) {
            selected_[size_t(k)] = selected;
            selectedCount_ += selected ? 1 : -1;
        }
    }
}

std::optional<FileError> ListedFiles::rereadThrough(const Lister& list)
{
    // The old entries go first, to be freed on a thread of the pool while this one lists: freeing them
    // after the listing would take the cores that read the files next.
    adopt({});
    std::vector<DirectoryEntry> listed;
    std::optional<FileError> error = list(directory_, listed);
    if (error)
        listed.clear();
    adopt(std::move(listed));
    return error;
}

void ListedFiles::adopt(std::vector<DirectoryEntry>&& listed)
{
    // Freeing the names of a large directory one by one takes tens of milliseconds, which the command that
    // lists again would wait for: a thread of the pool lets go of them, and the last one holding them
    // frees them.
    std::shared_ptr<const std::vector<DirectoryEntry>> retired =
        std::exchange(entries_, std::make_shared<const std::vector<DirectoryEntry>>(std::move(listed)));
    if (retired->size() >= 4096)
        QThreadPool::globalInstance()->start([retired = std::move(retired)]() mutable { retired.reset(); });
    selected_.assign(entries_->size(), false);
    selectedCount_ = 0;
    current_ = -1;
}

} // namespace kelvara
