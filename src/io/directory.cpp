#include "directory.h"

#include "text/pathcodec.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <exception>
#include <fcntl.h>
#include <numeric>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <thread>

namespace kelvara {

namespace {

bool isDotName(const char* name)
{
    return name[0] == '.';
}

bool isDotOrDotDot(const char* name)
{
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Calls `visit(dir, entry)` for each entry; stops early when it returns false.
template <typename Visit> std::optional<FileError> forEachEntry(const QString& directory, Visit visit)
{
    DIR* dir = ::opendir(pathToBytes(directory).constData());
    if (!dir)
        return FileError::fromErrno(errno);
    std::optional<FileError> error;
    for (;;) {
        errno = 0; // readdir() returns null both at the end and on error
        const dirent* entry = ::readdir(dir);
        if (!entry) {
            if (errno != 0)
                error = FileError::fromErrno(errno);
            break;
        }
        if (!visit(dir, entry))
            break;
    }
    ::closedir(dir);
    return error;
}

// The file type of an entry after following links; 0 when that cannot be told (a dangling link).
mode_t followedType(DIR* dir, const dirent* entry)
{
    switch (entry->d_type) {
    case DT_REG:
        return S_IFREG;
    case DT_DIR:
        return S_IFDIR;
    case DT_LNK:
    case DT_UNKNOWN:
        break;
    default:
        return S_IFIFO; // a FIFO, socket or device: neither of the kinds wanted
    }
    struct stat st;
    if (::fstatat(::dirfd(dir), entry->d_name, &st, 0) != 0)
        return 0;
    return st.st_mode & S_IFMT;
}

// Appends the key that orders names as QString::compare(a, b, Qt::CaseInsensitive) does: each
// UTF-16 unit folded on its own, a low surrogate after a high one as part of their character.
// Computed once per name, it turns every comparison of the sort into a plain one.
void appendSortKey(const QString& text, std::u16string& keys)
{
    const size_t at = keys.size();
    keys.resize(at + size_t(text.size()));
    char16_t* out = keys.data() + at;
    char16_t last = 0;
    for (const QChar c : text) {
        const char16_t unit = c.unicode();
        if (unit < 0x80)
            *out++ = unit >= 'A' && unit <= 'Z' ? char16_t(unit + 32) : unit;
        else if (QChar::isLowSurrogate(unit) && QChar::isHighSurrogate(last))
            *out++ = QChar::lowSurrogate(QChar::toCaseFolded(QChar::surrogateToUcs4(last, unit)));
        else
            *out++ = QChar(unit).toCaseFolded().unicode();
        last = unit;
    }
}

// Names of a part of a directory, decoded and in their order. The keys stand end to end in one
// buffer, so there is no allocation per key, and the sort moves indices rather than entries.
class SortedPart
{
public:
    void sort(std::vector<QByteArray>::iterator from, std::vector<QByteArray>::iterator to)
    {
        for (auto name = from; name != to; ++name) {
            QString text = pathFromBytes(*name);
            appendSortKey(text, keys_);
            keyEnds_.push_back(keys_.size());
            entries_.push_back({std::move(*name), std::move(text)});
        }
        order_.resize(entries_.size());
        std::iota(order_.begin(), order_.end(), quint32(0));
        std::sort(order_.begin(), order_.end(), [this](quint32 a, quint32 b) { return before(a, *this, b); });
    }
    size_t size() const { return order_.size(); }
    // Whether the k-th entry in order goes before the j-th of `other`.
    bool goesBefore(size_t k, const SortedPart& other, size_t j) const
    {
        return before(order_[k], other, other.order_[j]);
    }
    DirectoryEntry take(size_t k) { return std::move(entries_[order_[k]]); }

private:
    QStringView key(quint32 k) const
    {
        const size_t start = k == 0 ? 0 : keyEnds_[k - 1];
        return QStringView(keys_.data() + start, qsizetype(keyEnds_[k] - start));
    }
    bool before(quint32 a, const SortedPart& other, quint32 b) const
    {
        const int byKey = key(a).compare(other.key(b), Qt::CaseSensitive);
        return byKey != 0 ? byKey < 0 : entries_[a].name < other.entries_[b].name;
    }

    std::vector<DirectoryEntry> entries_;
    std::u16string keys_;
    std::vector<size_t> keyEnds_;
    std::vector<quint32> order_;
};

std::optional<FileError> listOfType(const QString& directory, mode_t type, std::vector<DirectoryEntry>& out)
{
    out.clear();
    std::vector<QByteArray> names;
    auto error = forEachEntry(directory, [&](DIR* dir, const dirent* entry) {
        if (!isDotName(entry->d_name) && followedType(dir, entry) == type)
            names.emplace_back(entry->d_name);
        return true;
    });
    if (error)
        return error;
    // A large directory is decoded and sorted in two halves at once, which are then merged: the
    // files cannot be searched before their order is known.
    SortedPart low, high;
    const auto middle = names.begin() + std::ptrdiff_t(names.size() / 2);
    std::exception_ptr failed;
    {
        std::jthread helper;
        if (names.size() >= 2048) {
            try {
                helper = std::jthread([&] {
                    try {
                        high.sort(middle, names.end());
                    } catch (...) {
                        failed = std::current_exception();
                    }
                });
            } catch (const std::system_error&) {
            }
        }
        low.sort(names.begin(), middle);
        if (!helper.joinable())
            high.sort(middle, names.end());
    }
    if (failed)
        std::rethrow_exception(failed);
    out.reserve(names.size());
    for (size_t k = 0, j = 0; k < low.size() || j < high.size();)
        out.push_back(j == high.size() || (k < low.size() && low.goesBefore(k, high, j)) ? low.take(k++)
                                                                                         : high.take(j++));
    return std::nullopt;
}

} // namespace

std::optional<FileError> listFiles(const QString& directory, std::vector<DirectoryEntry>& files)
{
    return listOfType(directory, S_IFREG, files);
}

std::optional<FileError> listSubdirectories(const QString& directory, std::vector<DirectoryEntry>& dirs)
{
    return listOfType(directory, S_IFDIR, dirs);
}

std::optional<FileError> firstOrdinaryEntry(const QString& directory, QString& name)
{
    name.clear();
    return forEachEntry(directory, [&](DIR* dir, const dirent* entry) {
        if (isDotOrDotDot(entry->d_name))
            return true;
        bool isDir = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat st;
            if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                return true; // gone meanwhile
            isDir = S_ISDIR(st.st_mode);
        }
        if (isDir)
            return true;
        name = pathFromBytes(QByteArray(entry->d_name));
        return false;
    });
}

QString joinPath(const QString& directory, const QString& name)
{
    QString path;
    path.reserve(directory.size() + 1 + name.size()); // made once per file: one allocation
    path += directory;
    if (!directory.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    path += name;
    return path;
}

bool isDirectory(const QString& path)
{
    struct stat st;
    return !path.isEmpty() && ::stat(pathToBytes(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace kelvara
