#include "fileselection.h"

namespace kelvara {

QString ListedFiles::entryText(int k) const
{
    return k >= 0 && k < entryCount() ? entries_[size_t(k)].text : QString();
}

QByteArray ListedFiles::entryName(int k) const
{
    return k >= 0 && k < entryCount() ? entries_[size_t(k)].name : QByteArray();
}

bool ListedFiles::isEntrySelected(int k) const
{
    return k >= 0 && k < entryCount() && selected_[size_t(k)];
}

void ListedFiles::setEntrySelected(int k, bool selected)
{
    if (k < 0 || k >= entryCount())
        return;
    selected_[size_t(k)] = selected;
    if (selected)
        current_ = k;
}

std::optional<FileError> ListedFiles::reread()
{
    entries_.clear();
    std::optional<FileError> error = listFiles(directory_, entries_);
    if (error)
        entries_.clear();
    selected_.assign(entries_.size(), false);
    current_ = -1;
    return error;
}

} // namespace kelvara
