#include "directory.h"

#include "text/codepage.h"
#include "text/pathcodec.h"
#include "textlines.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <span>
#include <string>
#include <string_view>
#include <sys/stat.h>

namespace kelvara {

namespace {

bool isDotOrDotDot(const char* name)
{
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Calls `visit(dir, entry)` for each entry; stops early when it returns false.
template <typename Visit> std::optional<FileError> forEachEntry(const QString& directory, Visit visit)
{
    const QByteArray path = pathToBytes(directory);
    beforeOpening(path.constData());
    DIR* dir = ::opendir(path.constData());
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
// UTF-16 unit folded on its own, a low surrogate after a high one as part of their character, and
// written as UTF-8 writes a character of that value: one byte for ASCII, and bytes that compare in the
// order of the units. Computed once per name, it turns every comparison of the sort into a plain
// comparison of bytes, none of them 0.
void appendSortKey(const QString& text, std::string& keys)
{
    size_t at = keys.size();
    keys.resize(at + 3 * size_t(text.size()));
    char16_t last = 0;
    for (const QChar c : text) {
        const char16_t unit = c.unicode();
        char16_t folded;
        if (unit < 0x80)
            folded = unit >= 'A' && unit <= 'Z' ? char16_t(unit + 32) : unit;
        else if (QChar::isLowSurrogate(unit) && QChar::isHighSurrogate(last))
            folded = QChar::lowSurrogate(QChar::toCaseFolded(QChar::surrogateToUcs4(last, unit)));
        else
            folded = QChar(unit).toCaseFolded().unicode();
        if (folded < 0x80)
            keys[at++] = char(folded);
        else
            at += size_t(encodeUtf8(folded, keys.data() + at));
        last = unit;
    }
    keys.resize(at);
}

// A name to sort: its index, and the 8 bytes of its key the sort compares at the moment.
struct SortedName
{
    quint64 digit;
    quint32 index;
};

// The sort keys of all names end to end, and where each ends: no allocation per name.
struct SortKeys
{
    std::string bytes;
    std::vector<size_t> ends;

    std::string_view operator()(size_t k) const
    {
        const size_t start = k == 0 ? 0 : ends[k - 1];
        return std::string_view(bytes.data() + start, ends[k] - start);
    }
};

// The key's 8 bytes from `offset` on as one number, zeros past its end: as no key byte is 0, the
// numbers compare as the keys do there, and a key that ends sorts before the longer ones.
quint64 digitAt(std::string_view key, size_t offset)
{
    quint64 digit = 0;
    for (size_t i = offset; i < offset + 8; ++i)
        digit = digit << 8 | (i < key.size() ? quint8(key[i]) : 0);
    return digit;
}

// Sorts names whose keys agree before `offset` by the rest of their keys, 8 bytes at a time, and
// names with equal keys by their bytes. Each step compares numbers held side by side; the keys are
// read once per step, and only for the names still tied.
void sortFrom(std::span<SortedName> names, size_t offset, const SortKeys& key,
              const std::vector<DirectoryEntry>& listed)
{
    for (SortedName& name : names)
        name.digit = digitAt(key(name.index), offset);
    std::sort(names.begin(), names.end(),
              [](const SortedName& a, const SortedName& b) { return a.digit < b.digit; });
    for (size_t first = 0; first < names.size();) {
        size_t end = first + 1;
        while (end < names.size() && names[end].digit == names[first].digit)
            ++end;
        const std::span<SortedName> tied = names.subspan(first, end - first);
        // Keys with equal digits that all end within them are equal.
        const auto goesOn = [&](const SortedName& name) { return key(name.index).size() > offset + 8; };
        if (tied.size() > 1 && std::any_of(tied.begin(), tied.end(), goesOn))
            sortFrom(tied, offset + 8, key, listed);
        else if (tied.size() > 1)
            std::sort(tied.begin(), tied.end(), [&](const SortedName& a, const SortedName& b) {
                return listed[a.index].name < listed[b.index].name;
            });
        first = end;
    }
}

std::optional<FileError> listOfType(const QString& directory, mode_t type, std::vector<DirectoryEntry>& out)
{
    out.clear();
    // The sort moves indices rather than entries.
    std::vector<DirectoryEntry> listed;
    SortKeys keys;
    auto error = forEachEntry(directory, [&](DIR* dir, const dirent* entry) {
        if (entry->d_name[0] != '.' && followedType(dir, entry) == type) { // no dot-files
            QByteArray name(entry->d_name);
            QString text = pathFromBytes(name);
            appendSortKey(text, keys.bytes);
            keys.ends.push_back(keys.bytes.size());
            listed.push_back({std::move(name), std::move(text)});
        }
        return true;
    });
    if (error)
        return error;
    std::vector<SortedName> order(listed.size());
    for (size_t k = 0; k < order.size(); ++k)
        order[k].index = quint32(k);
    sortFrom(order, 0, keys, listed);
    out.reserve(listed.size());
    for (const SortedName& sorted : order)
        out.push_back(std::move(listed[sorted.index]));
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

bool isWithin(const QString& path, const QString& dir)
{
    if (dir == QStringLiteral("/"))
        return path.startsWith(QLatin1Char('/'));
    return path == dir || (path.startsWith(dir) && path.at(dir.size()) == QLatin1Char('/'));
}

bool isDirectory(const QString& path)
{
    struct stat st;
    return !path.isEmpty() && ::stat(pathToBytes(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace kelvara
