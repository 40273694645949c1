#include "volumes.h"

#include "directory.h"
#include "text/pathcodec.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace kelvara {

namespace {

const QChar Separator = QLatin1Char('/');
std::unique_ptr<Volumes> instance; // what volumes() hands out

// Kernel interfaces and other file systems that hold nothing a person browses, and read-only
// images (squashfs: every snap is one).
bool isPseudoFileSystem(const QByteArray& type)
{
    static const QByteArray pseudo[] = {
        "autofs",     "binfmt_misc", "bpf",       "cgroup",    "cgroup2", "configfs", "debugfs", "devpts",
        "devtmpfs",   "efivarfs",    "fusectl",   "hugetlbfs", "mqueue",  "nsfs",     "proc",    "pstore",
        "rpc_pipefs", "securityfs",  "selinuxfs", "sysfs",     "tracefs", "squashfs"};
    return std::find(std::begin(pseudo), std::end(pseudo), type) != std::end(pseudo);
}

// File systems whose every access may wait on another machine or on a user-space server.
bool mayHang(const QByteArray& type)
{
    static const QByteArray remote[] = {"nfs",  "nfs4", "cifs",      "smb3",   "smbfs", "ncpfs",
                                        "afs",  "ceph", "glusterfs", "lustre", "9p",    "davfs",
                                        "fuse", "coda", "ocfs2",     "gfs2",   "sshfs", "orangefs"};
    return type.startsWith("fuse.") ||
           std::find(std::begin(remote), std::end(remote), type) != std::end(remote);
}

// The kernel's own trees and the snaps' mount points. /run holds runtime state (document portals
// under /run/user among it), except /run/media where removable media appear.
bool isSystemMountPoint(const QString& path)
{
    for (const char* dir : {"/proc", "/sys", "/dev", "/snap"}) {
        if (isWithin(path, QLatin1String(dir)))
            return true;
    }
    return isWithin(path, QStringLiteral("/run")) && !path.startsWith(QStringLiteral("/run/media/"));
}

// The target of a symbolic link, or the empty text when it cannot be read.
QByteArray linkTarget(const char* link)
{
    QByteArray target(256, '\0');
    for (;;) {
        const ssize_t n = ::readlink(link, target.data(), size_t(target.size()));
        if (n < 0)
            return {};
        if (n < target.size())
            return target.left(n);
        target.resize(target.size() * 2);
    }
}

// A field of the mount table with its escapes undone: "\040" stands for a blank, and so on.
QByteArray unescapeMountField(const QByteArray& field)
{
    QByteArray result;
    result.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        const auto isOctal = [&](qsizetype k) {
            return k < field.size() && field[k] >= '0' && field[k] <= '7';
        };
        if (field[i] == '\\' && isOctal(i + 1) && isOctal(i + 2) && isOctal(i + 3)) {
            result.append(char((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0')));
            i += 3;
        } else {
            result.append(field[i]);
        }
    }
    return result;
}

// The process's working directory, byte for byte. When it has been deleted, its nearest ancestor
// as the kernel last knew it: the kernel's own name for it ends in " (deleted)", and a new
// directory of the old name is another directory.
QString workingDirectory()
{
    QByteArray cwd(4096, '\0');
    while (!::getcwd(cwd.data(), size_t(cwd.size()))) {
        if (errno != ERANGE) {
            QByteArray gone = linkTarget("/proc/self/cwd");
            const QByteArray suffix = " (deleted)";
            if (!gone.startsWith('/'))
                return QString(); // it has no name at all
            if (!gone.endsWith(suffix))
                return pathFromBytes(gone);
            gone.chop(suffix.size());
            return pathFromBytes(gone.left(std::max<qsizetype>(1, gone.lastIndexOf('/'))));
        }
        cwd.resize(cwd.size() * 2);
    }
    return pathFromBytes(cwd.left(qsizetype(std::strlen(cwd.constData()))));
}

} // namespace

QStringList SystemVolumeSource::mountPoints()
{
    QFile table(QStringLiteral("/proc/self/mountinfo"));
    // A proc file has no size, so it is read to its end rather than by its size.
    return fromMountTable(table.open(QIODevice::ReadOnly) ? table.readAll() : QByteArray());
}

QStringList SystemVolumeSource::fromMountTable(const QByteArray& mountInfo)
{
    // Each line: id, parent id, major:minor, root, mount point, options, optional fields, "-",
    // file system type, source, super options.
    struct Mount
    {
        QString point;
        QByteArray type;
    };
    std::vector<Mount> mounts;
    for (const QByteArray& line : mountInfo.split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype dash = fields.indexOf("-");
        if (fields.size() < 5 || dash < 6 || dash + 1 >= fields.size())
            continue;
        mounts.push_back({QDir::cleanPath(pathFromBytes(unescapeMountField(fields[4]))), fields[dash + 1]});
    }
    QStringList result{QStringLiteral("/")};
    for (const Mount& mount : mounts) {
        if (result.contains(mount.point) || isPseudoFileSystem(mount.type) || isSystemMountPoint(mount.point))
            continue;
        // A local mount point is looked at unless reaching it passes through a mount that may hang.
        const bool touchable = std::none_of(mounts.begin(), mounts.end(), [&](const Mount& other) {
            return mayHang(other.type) && isWithin(mount.point, other.point);
        });
        if (touchable && !isDirectory(mount.point))
            continue;
        result.append(mount.point);
    }
    return result;
}

Volumes::Volumes(std::unique_ptr<VolumeSource> source) : source_(std::move(source))
{
    const QString cwd = cleanAbsolutePath(workingDirectory());
    currentDrive_ = driveOf(cwd);
    currentDirectories_[currentDrive_] = cwd;
}

QStringList Volumes::drives() const
{
    QStringList result;
    for (const QString& mountPoint : source_->mountPoints()) {
        if (mountPoint.isEmpty())
            continue;
        const QString drive = QDir::cleanPath(mountPoint);
        if (!result.contains(drive))
            result.append(drive);
    }
    // Every drive text is an absolute path, so "/" comes first without being singled out.
    std::sort(result.begin(), result.end());
    return result;
}

QString Volumes::driveOf(const QString& path) const
{
    const QStringList all = drives();
    const QString absolute = cleanAbsolutePath(path);
    QString best;
    for (const QString& drive : all) {
        if (isWithin(absolute, drive) && drive.size() > best.size())
            best = drive;
    }
    if (!best.isEmpty())
        return best;
    return all.isEmpty() ? QStringLiteral("/") : all.first();
}

QString Volumes::withSeparator(const QString& drive)
{
    return drive.endsWith(Separator) ? drive : drive + Separator;
}

QString Volumes::currentDirectory(const QString& drive) const
{
    const auto it = currentDirectories_.find(QDir::cleanPath(drive));
    return it != currentDirectories_.end() ? it->second : drive;
}

void Volumes::setCurrentDirectory(const QString& path)
{
    const QString absolute = cleanAbsolutePath(path);
    currentDirectories_[driveOf(absolute)] = absolute;
}

QString Volumes::programDirectory()
{
    const QString executable = pathFromBytes(linkTarget("/proc/self/exe"));
    return executable.left(std::max<qsizetype>(1, executable.lastIndexOf(Separator)));
}

QString cleanAbsolutePath(const QString& path)
{
    return QDir::cleanPath(QDir::isAbsolutePath(path) ? path : workingDirectory() + Separator + path);
}

Volumes& volumes()
{
    if (!instance)
        installVolumeSource(nullptr);
    return *instance;
}

void installVolumeSource(std::unique_ptr<VolumeSource> source)
{
    if (!source)
        source = std::make_unique<SystemVolumeSource>();
    instance = std::make_unique<Volumes>(std::move(source));
}

} // namespace kelvara
