#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <map>
#include <memory>

namespace kelvara {

// Where the list of drives comes from. A drive is a mounted file system that a person browses; its
// text is its mount point ("/", "/home", "/media/usb"). The real source asks the system; a test
// installs one with drives of its own (for example one whose root is missing).
class VolumeSource
{
public:
    virtual ~VolumeSource() = default;
    virtual QStringList mountPoints() = 0;
};

// The mounted file systems of this machine, read from the kernel's mount table: pseudo file
// systems, snaps, document portals and non-directories left out.
class SystemVolumeSource : public VolumeSource
{
public:
    QStringList mountPoints() override;
    // The drives of a mount table in the format of /proc/self/mountinfo, "/" first. Only local
    // mount points are looked at (whether they are directories); a network or FUSE mount is listed
    // as it stands, so that a hung server cannot stop the listing.
    static QStringList fromMountTable(const QByteArray& mountInfo);
};

// The drives, the current drive and the current directory of each drive, as the program keeps them.
class Volumes
{
public:
    // Starts with the drive and directory of the process's working directory as current.
    explicit Volumes(std::unique_ptr<VolumeSource> source);

    // The drive texts, sorted, "/" first. Asks the source each time.
    QStringList drives() const;
    // The drive whose mount point is the longest prefix of `path` (whole path components).
    QString driveOf(const QString& path) const;
    // The drive text followed by the separator, without doubling it: "/" → "/", "/home" → "/home/".
    static QString withSeparator(const QString& drive);

    QString currentDrive() const { return currentDrive_; }
    void setCurrentDrive(const QString& drive) { currentDrive_ = drive; }
    // The current directory of `drive`: its root until one is set.
    QString currentDirectory(const QString& drive) const;
    // Makes `path` the current directory of its drive. The current drive stays as it is.
    void setCurrentDirectory(const QString& path);

    // The directory that holds the running executable.
    static QString programDirectory();

private:
    std::unique_ptr<VolumeSource> source_;
    QString currentDrive_;
    std::map<QString, QString> currentDirectories_;
};

// `path` made absolute against the process's working directory and cleaned ("..", ".", doubled and
// trailing separators).
QString cleanAbsolutePath(const QString& path);

// The one instance the program uses. installVolumeSource() replaces it with a fresh one over `source`
// (tests); passing nullptr goes back to the system's drives.
Volumes& volumes();
void installVolumeSource(std::unique_ptr<VolumeSource> source);

} // namespace kelvara
