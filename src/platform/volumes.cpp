#include "volumes.h"

#include "directory.h"
#include "pathcodec.h"

#include <QDir>
#include <QStorageInfo>
#include <algorithm>
#include <unistd.h>

namespace kelvara {

namespace {

const QChar Separator = QLatin1Char('/');

// True when `path` is `dir` or lies below it, on whole path components.
bool isWithin(const QString& path, const QString& dir)
{
    if (dir == QStringLiteral("/"))
        return path.startsWith(Separator);
    return path == dir || (path.startsWith(dir) && path.at(dir.size()) == Separator);
}

// Kernel interfaces and other file systems that hold nothing a person browses.
bool isPseudoFileSystem(const QByteArray& type)
{
    static const QByteArray pseudo[] = {
        "autofs", "binfmt_misc", "bpf",        "cgroup",     "cgroup2",   "configfs", "debugfs",
        "devpts", "devtmpfs",    "efivarfs",   "fusectl",    "hugetlbfs", "mqueue",   "nsfs",
        "proc",   "pstore",      "rpc_pipefs", "securityfs", "selinuxfs", "sysfs",    "tracefs",
    };
    return std::find(std::begin(pseudo), std::end(pseudo), type) != std::end(pseudo);
}

// The kernel's own trees. /run holds runtime state, except /run/media where removable media appear.
bool isSystemMountPoint(const QString& path)
{
    for (const char* dir : {"/proc", "/sys", "/dev"}) {
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

// The process's working directory, byte for byte.
QString workingDirectory()
{
    const QByteArray cwd = linkTarget("/proc/self/cwd");
    return cwd.isEmpty() ? QDir::currentPath() : pathFromBytes(cwd);
}

} // namespace

bool SystemVolumeSource::isBrowsable(const QString& mountPoint, const QByteArray& type)
{
    return !isPseudoFileSystem(type) && !isSystemMountPoint(mountPoint);
}

QStringList SystemVolumeSource::mountPoints()
{
    QStringList result{QStringLiteral("/")};
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        if (!volume.isValid() || !volume.isReady())
            continue;
        const QString root = QDir::cleanPath(volume.rootPath());
        if (!isBrowsable(root, volume.fileSystemType()) || !isDirectory(root) || result.contains(root))
            continue;
        result.append(root);
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

void Volumes::setCurrentDrive(const QString& drive)
{
    currentDrive_ = drive;
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

namespace {

std::unique_ptr<Volumes>& instance()
{
    static std::unique_ptr<Volumes> volumes;
    return volumes;
}

} // namespace

QString cleanAbsolutePath(const QString& path)
{
    return QDir::cleanPath(QDir::isAbsolutePath(path) ? path : workingDirectory() + Separator + path);
}

Volumes& volumes()
{
    auto& current = instance();
    if (!current)
        current = std::make_unique<Volumes>(std::make_unique<SystemVolumeSource>());
    return *current;
}

void installVolumeSource(std::unique_ptr<VolumeSource> source)
{
    if (!source)
        source = std::make_unique<SystemVolumeSource>();
    instance() = std::make_unique<Volumes>(std::move(source));
}

} // namespace kelvara
