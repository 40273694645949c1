// Files: reading and writing lines, what a directory lists, drives and their current directories.

#include "platform/descriptor.h"
#include "platform/directory.h"
#include "platform/pathcodec.h"
#include "platform/textlines.h"
#include "platform/volumes.h"
#include "support/files.h"
#include "support/seams.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kelvara;
using namespace Qt::StringLiterals;
using kelvara::test::writeFile;
using Lines = QList<QByteArray>;

namespace {

constexpr qsizetype Buffer = qsizetype(LineBlockReader::InitialBufferSize);

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

QByteArray error(FileErrorKind kind)
{
    return "<error " + QByteArray::number(int(kind)) + '>';
}

// Every line, or the error that stopped the reading; the file takes size `resizeTo` after line 1.
Lines readLines(const QString& path, qint64 resizeTo = -1)
{
    LineReader reader;
    Lines lines;
    std::string_view line;
    LineReader::Status status;
    const auto openError = reader.open(QFile::encodeName(path));
    while ((status = reader.next(line)) == LineReader::Status::Line && lines.size() <= 100000) {
        lines.append(QByteArray(line.data(), qsizetype(line.size())));
        if (resizeTo >= 0 && lines.size() == 1 && !QFile::resize(path, resizeTo))
            return {"<not resized>"};
    }
    if (status == LineReader::Status::Error)
        return {error((openError ? *openError : reader.error()).kind)};
    if (openError || reader.next(line) != LineReader::Status::End) // the end stays the end
        lines.append("<more after the end, or past a failed open>");
    return lines;
}

std::unique_ptr<VolumeSource> fake(const QStringList& mountPoints)
{
    return std::make_unique<test::FixedVolumeSource>(mountPoints);
}

} // namespace

class TestFiles : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        for (const char* sub : {"sub", "Zed", "Zed/x", ".hiddendir"})
            QCOMPARE(::mkdir(path(sub).constData(), 0755), 0);
        // Made through the raw bytes: the last name is not UTF-8.
        for (const char* file :
             {"A", "B", "C.txt", "b", "a", "c.txt", ".hidden", "sub/inner", ".hiddendir/.h", "\xe9t\xe9"})
            QVERIFY(::close(::open(path(file).constData(), O_WRONLY | O_CREAT | O_EXCL, 0644)) == 0);
        QCOMPARE(::mkfifo(path("fifo").constData(), 0644), 0);
        QCOMPARE(::symlink("b", path("link-file").constData()), 0);
        QCOMPARE(::symlink("sub", path("link-dir").constData()), 0);
        QCOMPARE(::symlink("nowhere", path("dangling").constData()), 0);
    }
    void cleanupTestCase() { ::unlink(path("\xe9t\xe9").constData()); } // beyond QTemporaryDir's reach

    // Case-insensitive first ("b" before "C.txt"), then by bytes ("B" before "b"); the kept bytes of a
    // non-UTF-8 name sort last. Hidden names, FIFOs and dangling links are left out.
    void listing()
    {
        const auto names = [this](auto list) {
            std::vector<DirectoryEntry> entries{{"stale", u"stale"_s}};
            Lines listed{list(dir_.path(), entries) ? "<error>" : ""};
            for (const DirectoryEntry& entry : entries)
                listed.append(pathToBytes(entry.text) == entry.name ? entry.name : "<not a round trip>");
            return listed;
        };
        QCOMPARE(names(listFiles),
                 (Lines{"", "A", "a", "B", "b", "C.txt", "c.txt", "link-file", "\xe9t\xe9"}));
        QCOMPARE(names(listSubdirectories), (Lines{"", "link-dir", "sub", "Zed"}));
    }

    void directory_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("error"); // errno of listing it, 0: none
        QTest::addColumn<QString>("firstEntry");
        QTest::newRow("a file in it") << u"sub"_s << 0 << u"inner"_s;
        QTest::newRow("only directories") << u"Zed"_s << 0 << QString();
        QTest::newRow("a hidden file counts") << u".hiddendir"_s << 0 << u".h"_s;
        QTest::newRow("a file") << u"b"_s << ENOTDIR << QString();
        QTest::newRow("FIFO") << u"fifo"_s << ENOTDIR << QString();
        QTest::newRow("missing") << u"missing"_s << ENOENT << QString();
        QTest::newRow("dangling link") << u"dangling"_s << ENOENT << QString();
    }
    void directory()
    {
        QFETCH(QString, name);
        QFETCH(int, error);
        QFETCH(QString, firstEntry);
        const QString target = dir_.filePath(name);
        QCOMPARE(isDirectory(target), error == 0);
        const auto expected = error ? std::optional(FileError::fromErrno(error)) : std::nullopt;
        QString first = u"stale"_s;
        QCOMPARE(firstOrdinaryEntry(target, first), expected);
        QCOMPARE(first, firstEntry);
        std::vector<DirectoryEntry> entries{{"stale", u"stale"_s}};
        QCOMPARE(listSubdirectories(target, entries), expected);
        QCOMPARE(entries.size(), size_t(name == u"Zed"_s));
        QCOMPARE(joinPath(u"/"_s, name), u"/"_s + name);
        QCOMPARE(joinPath(u"/home"_s, name), joinPath(u"/home/"_s, name));
    }

    // The longest mount point that holds the path, on whole path components.
    void drives()
    {
        const Volumes volumes(fake({u"/media/usb"_s, u"/home/"_s, u"/"_s, u"/home"_s}));
        QCOMPARE(volumes.drives(), (QStringList{u"/"_s, u"/home"_s, u"/media/usb"_s}));
        QCOMPARE(volumes.driveOf(u"/home/x/"_s), u"/home"_s);
        QCOMPARE(volumes.driveOf(u"/home"_s), u"/home"_s);
        QCOMPARE(volumes.driveOf(u"/homeland"_s), u"/"_s);
        QCOMPARE(volumes.driveOf(u"/home/x/../../media/usb/y"_s), u"/media/usb"_s);
        // Without a root drive, the first one.
        QCOMPARE(Volumes(fake({u"/media/usb"_s, u"/home"_s})).driveOf(u"/tmp"_s), u"/home"_s);
        QVERIFY(SystemVolumeSource().mountPoints().contains(u"/"_s));
        installVolumeSource(fake({u"/media/usb"_s}));
        QCOMPARE(kelvara::volumes().drives(), QStringList{u"/media/usb"_s});
        installVolumeSource(nullptr);
        QVERIFY(!kelvara::volumes().drives().contains(u"/media/usb"_s));
        // No application object here, so this is the answer from /proc/self/exe.
        QVERIFY(QFileInfo(Volumes::programDirectory() + u"/tst_files"_s).isExecutable());
    }

    // Each drive keeps its own current directory; a deleted working directory gives its nearest
    // ancestor, not the kernel's "... (deleted)" name nor a new directory made under the old name.
    void currentDirectories()
    {
        const QString a = QFileInfo(work_.path()).canonicalFilePath() + u"/a"_s, b = a + u"/b"_s;
        QVERIFY(QDir().mkpath(a + u"/gone"_s) && QDir().mkpath(b + u"/x"_s));
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(b + u"/x"_s));
        Volumes volumes(fake({u"/"_s, a, b}));
        QVERIFY(QDir::setCurrent(a + u"/gone"_s) && QDir().rmdir(a + u"/gone"_s) &&
                QDir().mkdir(a + u"/gone"_s));
        const Volumes deleted(fake({u"/"_s}));
        const QString relative = cleanAbsolutePath(u"y"_s);
        QVERIFY(QDir::setCurrent(before));
        QCOMPARE(deleted.currentDirectory(u"/"_s), a);
        QCOMPARE(relative, a + u"/y"_s);

        QCOMPARE(volumes.currentDrive(), b);
        QCOMPARE(volumes.currentDirectory(b), b + u"/x"_s);
        QCOMPARE(volumes.currentDirectory(a), a);
        volumes.setCurrentDirectory(a + u"/y/../z/"_s);
        QCOMPARE(volumes.currentDirectory(a), a + u"/z"_s);
    }

    // Of the missing mount points, local ones are dropped and those that may hang are listed untouched.
    void mountTable()
    {
        const QByteArray table =
            "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
            "40 22 0:50 / /nowhere/nfs rw - nfs4 server:/x rw\n"
            "41 22 0:51 / /nowhere/ssh rw - fuse.sshfs me@host: rw\n"
            "42 40 8:2 / /nowhere/nfs/disk rw - ext4 /dev/sdb1 rw\n"
            "43 22 8:3 /hosts /nowhere/hosts rw - ext4 /dev/sdc1 rw\n"
            "44 22 0:52 / /media/my\\040share\\134x rw shared:5 master:2 - cifs //srv/s rw\n"
            "45 22 0:52 / /media/my\\040share\\134x/ rw - cifs //srv/s rw\n"
            "46 22 0:53 / /media/a\\b\\0 rw - nfs s:/ rw\n"
            "48 22 0:3 / /srv/proc rw - proc proc rw\n"
            "50 22 7:0 / /opt/image ro - squashfs /dev/loop0 ro\n"
            "51 22 0:54 / /dev/shm rw - nfs s:/ rw\n"
            "52 22 0:55 / /run rw - nfs s:/ rw\n"
            "53 22 0:56 / /run/media rw - nfs s:/ rw\n"
            "54 22 0:57 / /run/media/anna/STICK rw - nfs s:/ rw\n"
            "56 22 0:59 / /snap rw - nfs s:/ rw\n"
            "57 22 0:60 / /devices rw - nfs s:/ rw\n"
            "58 22 0:61 / /tmp rw - tmpfs tmpfs rw\n"
            "broken line\n";
        QCOMPARE(SystemVolumeSource::fromMountTable(table),
                 (QStringList{u"/"_s, u"/nowhere/nfs"_s, u"/nowhere/ssh"_s, u"/nowhere/nfs/disk"_s,
                              u"/media/my share\\x"_s, u"/media/a\\b\\0"_s, u"/run/media/anna/STICK"_s,
                              u"/devices"_s, u"/tmp"_s}));
    }

    void reader_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<qint64>("resizeTo");
        QTest::addColumn<Lines>("lines");
        const QString in = u"in.txt"_s;
        const auto row = [&](const char* name, const QByteArray& content, const Lines& lines) {
            QTest::newRow(name) << in << content << qint64(-1) << lines;
        };
        const QByteArray pad(Buffer - 1, 'x');
        row("mixed", "a\rb\r\nc\nd\r\r\ne", {"a", "b", "c\nd", "", "e"});
        row("empty file", {}, {});
        row("NUL bytes", QByteArray("a\0b\r\0\r\n", 7), {QByteArray("a\0b", 3), QByteArray(1, '\0')});
        row("far longer than the buffer", pad + pad + pad + "y\r\nz", {pad + pad + pad + "y", "z"});
        row("CR LF across the first read", pad + "\r\nb", {pad, "b"});
        row("CR last in the first read", pad + "\rb", {pad, "b"});
        row("CR last in the file", pad + "\r", {pad});
        row("CR first after the first read", pad + "x\r\nb", {pad + "x", "b"});
        row("after a line", "a\r" + pad.left(Buffer - 3) + "\r\nb", {"a", pad.left(Buffer - 3), "b"});
        // Read as far as its size when opened; one that ends before is not the file that was opened.
        const QByteArray changing = QByteArray("0123456\r\n").repeated(4 * Buffer / 9);
        const Lines changingLines(4 * Buffer / 9, "0123456");
        QTest::newRow("shrinks while read")
            << in << changing << qint64(Buffer) << Lines{error(FileErrorKind::EndOfFile)};
        QTest::newRow("grows while read") << in << changing << 8 * Buffer << changingLines;
        const auto fails = [](const char* name, const QString& file, FileErrorKind kind) {
            QTest::newRow(name) << file << QByteArray() << qint64(-1) << Lines{error(kind)};
        };
        fails("missing directory", u"nowhere/a.txt"_s, FileErrorKind::PathNotFound);
        fails("directory", u"."_s, FileErrorKind::AccessDenied);
        // Opens fine, but reading from offset 0 of the own address space fails with EIO.
        fails("read error", u"/proc/self/mem"_s, FileErrorKind::DiskNotReady);
    }
    void reader()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(qint64, resizeTo);
        QFETCH(Lines, lines);
        if (name == u"in.txt"_s)
            writeFile(work_.filePath(name), content);
        QVERIFY2(readLines(QDir(work_.path()).filePath(name), resizeTo) == lines, "lines differ");
    }

    void loneCr_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("at"); // -1: none
        QTest::newRow("CR at the end") << QByteArray("ab\r\ncd\r") << 6;
        QTest::newRow("CR CR LF") << QByteArray("a\r\r\n") << 1;
        // Around the 32-byte steps: a CR at the last byte of a step, its LF the first of the next.
        const QByteArray pad(31, 'x');
        QTest::newRow("pair across a step") << pad + "\r\n" + pad + "\r\n" << -1;
        QTest::newRow("lone CR at a step's last byte") << pad + "\ry" + pad << 31;
        QTest::newRow("lone CR in the tail") << QByteArray(70, 'x') + "\r\n\rz" << 72;
    }
    void loneCr()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, at);
        const char* found = findLoneCr(bytes.constData(), bytes.constData() + bytes.size());
        QCOMPARE(found ? int(found - bytes.constData()) : -1, at);
    }

    void writer_data()
    {
        QTest::addColumn<Lines>("lines");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("sizeLimit"); // writes fail past 1000 bytes
        QTest::newRow("lines and an empty one")
            << Lines{"a", "", "b"} << QByteArray("a\r\n\r\nb\r\n") << false;
        QTest::newRow("no line") << Lines{} << QByteArray() << false;
        QTest::newRow("LF kept") << Lines{"a\nb"} << QByteArray("a\nb\r\n") << false;
        const QByteArray big(3 * Buffer + 1, 'q');
        QTest::newRow("longer than the buffer")
            << Lines{"a", big, "b"} << ("a\r\n" + big + "\r\nb\r\n") << false;
        Lines many;
        for (int i = 0; i < 30000; ++i)
            many.append(QByteArray::number(i));
        QTest::newRow("many lines") << many << (many.join("\r\n") + "\r\n") << false;
        QTest::newRow("a write fails") << many << QByteArray() << true;
    }
    // The file appears complete or not at all; a link at the target is replaced, not written through.
    void writer()
    {
        QFETCH(Lines, lines);
        QFETCH(QByteArray, bytes);
        QFETCH(bool, sizeLimit);
        const QString target = work_.filePath(u"out.txt"_s), elsewhere = work_.filePath(u"elsewhere.txt"_s);
        const QByteArray old(4 * Buffer, '!');
        writeFile(elsewhere, old);
        QFile::remove(target);
        QVERIFY(QFile::link(elsewhere, target));
        Descriptor d;
        QVERIFY(!openDirectory(work_.path(), d));
        OutputFile out;
        QVERIFY(!out.open(d.get(), "out.txt"));
        out.writeLine("given up"); // nothing changes, nothing stays behind
        out.discard();
        QVERIFY(!out.open(d.get(), "out.txt"));
        out.writeLine(std::string(Buffer, 'j')); // large enough to go out before the restart
        QVERIFY(!out.restart());
        std::optional<test::FileSizeLimit> limit;
        if (sizeLimit)
            QVERIFY(limit.emplace(1000).isActive());
        for (const QByteArray& line : lines)
            out.writeLine(std::string_view(line.constData(), size_t(line.size())));
        QCOMPARE(readFile(target), old); // nothing shows before the commit
        const auto error = out.commit();
        QCOMPARE(error ? error->kind : FileErrorKind::Other,
                 sizeLimit ? FileErrorKind::DiskFull : FileErrorKind::Other);
        if (error)
            QCOMPARE(out.commit(), error); // the first error sticks
        QCOMPARE(readFile(target), sizeLimit ? old : bytes);
        QCOMPARE(readFile(elsewhere), old);
        QCOMPARE(QDir(work_.path()).entryList({u".kelvara-*"_s}, QDir::Files | QDir::Hidden), {});
    }

private:
    QByteArray path(const char* name) const { return QFile::encodeName(dir_.path()) + '/' + name; }

    QTemporaryDir dir_;
    QTemporaryDir work_; // for the files read and written
};

QTEST_APPLESS_MAIN(TestFiles)
#include "tst_files.moc"
