#include "platform/volumes.h"
#include "support/seams.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace kelvara;

namespace {

std::unique_ptr<VolumeSource> fake(const QStringList& mountPoints)
{
    return std::make_unique<test::FixedVolumeSource>(mountPoints);
}

const QStringList Usual{QStringLiteral("/media/usb"), QStringLiteral("/home/"), QStringLiteral("/"),
                        QStringLiteral("/home")};

} // namespace

class TestVolumes : public QObject
{
    Q_OBJECT

private slots:
    void drives();
    void driveOf_data();
    void driveOf();
    void withSeparator_data();
    void withSeparator();
    void currentDirectories();
    void deletedWorkingDirectory();
    void browsable_data();
    void browsable();
    void mountTable_data();
    void mountTable();
    void systemVolumes();
    void programDirectory();
};

void TestVolumes::drives()
{
    const Volumes volumes(fake(Usual));
    QCOMPARE(volumes.drives(),
             (QStringList{QStringLiteral("/"), QStringLiteral("/home"), QStringLiteral("/media/usb")}));
}

void TestVolumes::driveOf_data()
{
    QTest::addColumn<QStringList>("mountPoints");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("drive");
    const auto row = [](const char* name, const QStringList& mounts, const char* path, const char* drive) {
        QTest::newRow(name) << mounts << QString::fromUtf8(path) << QString::fromUtf8(drive);
    };
    row("below a drive", Usual, "/home/x", "/home");
    row("the drive itself", Usual, "/home", "/home");
    row("same prefix, other name", Usual, "/homeland", "/");
    row("deep below", Usual, "/media/usb/a/b", "/media/usb");
    row("mount point", Usual, "/media/usb", "/media/usb");
    row("root", Usual, "/", "/");
    row("parent steps cleaned", Usual, "/home/x/../../media/usb/y", "/media/usb");
    row("trailing separator", Usual, "/home/x/", "/home");
    row("no root drive", {QStringLiteral("/media/usb"), QStringLiteral("/home")}, "/tmp", "/home");
}

void TestVolumes::driveOf()
{
    QFETCH(QStringList, mountPoints);
    QFETCH(QString, path);
    QFETCH(QString, drive);
    QCOMPARE(Volumes(fake(mountPoints)).driveOf(path), drive);
}

void TestVolumes::withSeparator_data()
{
    QTest::addColumn<QString>("drive");
    QTest::addColumn<QString>("text");
    QTest::newRow("root") << QStringLiteral("/") << QStringLiteral("/");
    QTest::newRow("mount point") << QStringLiteral("/home") << QStringLiteral("/home/");
    QTest::newRow("already there") << QStringLiteral("/home/") << QStringLiteral("/home/");
}

void TestVolumes::withSeparator()
{
    QFETCH(QString, drive);
    QFETCH(QString, text);
    QCOMPARE(Volumes::withSeparator(drive), text);
}

void TestVolumes::currentDirectories()
{
    QTemporaryDir tmp;
    const QString base = QFileInfo(tmp.path()).canonicalFilePath();
    const QString a = base + QStringLiteral("/a"), b = base + QStringLiteral("/b");
    QVERIFY(QDir().mkpath(a + QStringLiteral("/x")));
    const QString before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(a + QStringLiteral("/x")));
    Volumes volumes(fake({QStringLiteral("/"), a, b}));
    QVERIFY(QDir::setCurrent(before));

    QCOMPARE(volumes.currentDrive(), a);
    QCOMPARE(volumes.currentDirectory(a), a + QStringLiteral("/x"));
    QCOMPARE(volumes.currentDirectory(b), b);
    QCOMPARE(volumes.currentDirectory(QStringLiteral("/")), QStringLiteral("/"));

    volumes.setCurrentDirectory(b + QStringLiteral("/y/../z/"));
    QCOMPARE(volumes.currentDirectory(b), b + QStringLiteral("/z"));
    QCOMPARE(volumes.currentDirectory(a), a + QStringLiteral("/x"));
    QCOMPARE(volumes.currentDrive(), a);
    QCOMPARE(QDir::currentPath(), before);

    volumes.setCurrentDrive(b);
    QCOMPARE(volumes.currentDrive(), b);
    QCOMPARE(volumes.currentDirectory(b), b + QStringLiteral("/z"));
}

// A deleted working directory gives its nearest ancestor, not the kernel's "… (deleted)" name nor a
// new directory made under the old name.
void TestVolumes::deletedWorkingDirectory()
{
    QTemporaryDir tmp;
    const QString a = QFileInfo(tmp.path()).canonicalFilePath() + QStringLiteral("/a");
    const QString gone = a + QStringLiteral("/gone");
    QVERIFY(QDir().mkpath(gone));
    const QString before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(gone));
    QVERIFY(QDir().rmdir(gone));
    QVERIFY(QDir().mkdir(gone));
    Volumes volumes(fake({QStringLiteral("/")}));
    const QString relative = cleanAbsolutePath(QStringLiteral("x"));
    QVERIFY(QDir::setCurrent(before));
    QCOMPARE(volumes.currentDirectory(QStringLiteral("/")), a);
    QCOMPARE(relative, a + QStringLiteral("/x"));
}

void TestVolumes::browsable_data()
{
    QTest::addColumn<QString>("mountPoint");
    QTest::addColumn<QByteArray>("type");
    QTest::addColumn<bool>("browsable");
    const auto row = [](const char* mountPoint, const char* type, bool browsable) {
        QTest::addRow("%s %s", mountPoint, type)
            << QString::fromUtf8(mountPoint) << QByteArray(type) << browsable;
    };
    row("/", "ext4", true);
    row("/tmp", "tmpfs", true);
    row("/media/usb", "vfat", true);
    row("/run/media/anna/STICK", "exfat", true);
    row("/proc", "proc", false);
    row("/sys/fs/cgroup", "cgroup2", false);
    row("/dev/shm", "tmpfs", false);
    row("/run", "tmpfs", false);
    row("/run/media", "tmpfs", false);
    row("/devices", "ext4", true);
    row("/srv/proc", "proc", false);
    row("/snap/core22/1033", "squashfs", false);
    row("/opt/image", "squashfs", false);
    row("/snap", "ext4", false);
    row("/run/user/1000/doc", "fuse.portal", false);
    row("/boot/efi", "vfat", true);
}

void TestVolumes::browsable()
{
    QFETCH(QString, mountPoint);
    QFETCH(QByteArray, type);
    QFETCH(bool, browsable);
    QCOMPARE(SystemVolumeSource::isBrowsable(mountPoint, type), browsable);
}

void TestVolumes::mountTable_data()
{
    QTest::addColumn<QByteArray>("table");
    QTest::addColumn<QStringList>("drives");
    const QByteArray root = "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n";
    // Paths that do not exist: a local one is dropped, one that may hang is listed untouched.
    QTest::newRow("network and FUSE mounts are not looked at")
        << root + "40 22 0:50 / /nowhere/nfs rw - nfs4 server:/x rw\n"
                  "41 22 0:51 / /nowhere/ssh rw - fuse.sshfs me@host: rw\n"
                  "42 40 8:2 / /nowhere/nfs/disk rw - ext4 /dev/sdb1 rw\n"
        << QStringList{QStringLiteral("/"), QStringLiteral("/nowhere/nfs"), QStringLiteral("/nowhere/ssh"),
                       QStringLiteral("/nowhere/nfs/disk")};
    QTest::newRow("a local mount point that is no directory")
        << root + "43 22 8:3 /hosts /nowhere/hosts rw - ext4 /dev/sdc1 rw\n"
        << QStringList{QStringLiteral("/")};
    QTest::newRow("escapes, doubles, snaps, portals")
        << root + "44 22 0:52 / /media/my\\040share\\134x rw shared:5 master:2 - cifs //srv/s rw\n"
                  "45 22 0:52 / /media/my\\040share\\134x/ rw - cifs //srv/s rw\n"
                  "46 22 7:0 / /snap/core22/1033 ro - squashfs /dev/loop0 ro\n"
                  "47 22 0:53 / /run/user/1000/doc rw - fuse.portal portal rw\n"
                  "48 22 0:3 / /proc rw - proc proc rw\n"
                  "broken line\n"
        << QStringList{QStringLiteral("/"), QStringLiteral("/media/my share\\x")};
    QTest::newRow("empty") << QByteArray() << QStringList{QStringLiteral("/")};
}

void TestVolumes::mountTable()
{
    QFETCH(QByteArray, table);
    QFETCH(QStringList, drives);
    QCOMPARE(SystemVolumeSource::fromMountTable(table), drives);
}

void TestVolumes::systemVolumes()
{
    const QStringList mounts = SystemVolumeSource().mountPoints();
    QVERIFY(mounts.contains(QStringLiteral("/")));
    QCOMPARE(QSet<QString>(mounts.begin(), mounts.end()).size(), mounts.size());
    for (const QString& mount : mounts) {
        QVERIFY2(QFileInfo(mount).isDir(), qPrintable(mount));
        QVERIFY2(mount == QStringLiteral("/") || !mount.startsWith(QStringLiteral("/proc")),
                 qPrintable(mount));
        QVERIFY2(mount == QStringLiteral("/") || !mount.startsWith(QStringLiteral("/sys")),
                 qPrintable(mount));
    }

    installVolumeSource(fake(Usual));
    QCOMPARE(volumes().drives().size(), 3);
    installVolumeSource(nullptr);
    QCOMPARE(volumes().drives().first(), QStringLiteral("/"));
    QVERIFY(!volumes().drives().contains(QStringLiteral("/media/usb")));
}

void TestVolumes::programDirectory()
{
    // No application object here, so this is the answer from /proc/self/exe.
    QVERIFY(!QCoreApplication::instance());
    const QString dir = Volumes::programDirectory();
    QVERIFY(QDir::isAbsolutePath(dir));
    QVERIFY(QFileInfo(dir + QStringLiteral("/tst_volumes")).isExecutable());
}

QTEST_APPLESS_MAIN(TestVolumes)
#include "tst_volumes.moc"
