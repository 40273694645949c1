#include "directory.h"

#include "text/codepage.h"
#include "text/pathcodec.h"
#include "textlines.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <sys/stat.h>

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

std::optional<FileError> listOfType(const QString& directory, mode_t type, std::vector<DirectoryEntry>& out)
{
    out.clear();
    // The keys of all names end to end, and where each ends: no allocation per name, and the sort
    // moves indices rather than entries.
    std::vector<DirectoryEntry> listed;
    std::string keys;
    std::vector<size_t> keyEnds;
    auto error = forEachEntry(directory, [&](DIR* dir, const dirent* entry) {
        if (!isDotName(entry->d_name) && followedType(dir, entry) == type) {
            QByteArray name(entry->d_name);
            QString text = pathFromBytes(name);
            appendSortKey(text, keys);
            keyEnds.push_back(keys.size());
            listed.push_back({std::move(name), std::move(text)});
        }
        return true;
    });
    if (error)
        return error;
    const auto key = [&](size_t k) {
        const size_t start = k == 0 ? 0 : keyEnds[k - 1];
        return std::string_view(keys.data() + start, keyEnds[k] - start);
    };
    // Most comparisons are settled by the first 8 bytes of the keys, held beside the index: the keys
    // themselves are looked at only past a common start.
    struct Sorted
    {
        quint64 head;
        quint32 index;
    };
    std::vector<Sorted> order(listed.size());
    for (size_t k = 0; k < order.size(); ++k) {
        const std::string_view all = key(k);
        quint64 head = 0;
        for (size_t i = 0; i < 8; ++i)
            head = head << 8 | (i < all.size() ? quint8(all[i]) : 0);
        order[k] = {head, quint32(k)};
    }
    std::sort(order.begin(), order.end(), [&](const Sorted& a, const Sorted& b) {
        if (a.head != b.head)
            return a.head < b.head;
        const int byKey = key(a.index).compare(key(b.index));
        return byKey != 0 ? byKey < 0 : listed[a.index].name < listed[b.index].name;
    });
    out.reserve(listed.size());
    for (const Sorted& sorted : order)
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
