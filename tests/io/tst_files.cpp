// Files and their names: lines read and written, directories, drives, code pages and case folding.

#include "io/descriptor.h"
#include "io/directory.h"
#include "io/tempfiles.h"
#include "io/textlines.h"
#include "io/volumes.h"
#include "support/files.h"
#include "support/rows.h"
#include "support/seams.h"
#include "text/codepage.h"
#include "text/cpu.h"
#include "text/pathcodec.h"

#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace kelvara;
using namespace kelvara::test;
using namespace Qt::StringLiterals;
using Lines = QList<QByteArray>;
using Fake = FixedVolumeSource;

namespace {

constexpr qsizetype Buffer = qsizetype(LineBlockReader::InitialBufferSize);

// Directory names that differ only by a byte-order mark (a UTF-8 decoder may drop it); a file in each.
constexpr const char* BomDirs[] = {"Zed/x/d", "Zed/x/\xef\xbb\xbf\x64", "Zed/x/c\xff",
                                   "Zed/x/c\xef\xbb\xbf\xff"};
constexpr const char* BomFiles[] = {"plain", "bom", "ff", "bomff"};

QByteArray error(FileErrorKind kind)
{
    return "<error " + QByteArray::number(int(kind)) + '>';
}

// Every line, or the error that stopped the reading; the file takes size `resizeTo` after line 1.
Lines readLines(const QString& path, qint64 resizeTo = -1)
{
    LineBlockReader reader;
    Lines lines;
    std::string_view block;
    LineBlockReader::Status status;
    const auto openError = reader.openAt(AT_FDCWD, QFile::encodeName(path));
    while ((status = reader.next(block)) == LineBlockReader::Status::Block && lines.size() <= 100000) {
        for (const std::string_view line : test::splitLines(block))
            lines.append(QByteArray(line.data(), qsizetype(line.size())));
        if (resizeTo >= 0 && !QFile::resize(path, resizeTo))
            return {"<not resized>"};
        resizeTo = -1;
    }
    if (status == LineBlockReader::Status::Error)
        return {error((openError ? *openError : reader.error()).kind)};
    if (openError || reader.next(block) != LineBlockReader::Status::End) // the end stays the end
        lines.append("<more after the end, or past a failed open>");
    return lines;
}

// Closes standard input for its lifetime: the next file opened gets descriptor 0.
struct StandardInputClosed
{
    const int saved = ::dup(0);
    StandardInputClosed() { ::close(0); }
    ~StandardInputClosed() { ::dup2(saved, 0), ::close(saved); }
};

// Another run's sweep just before a file is named: notes each temporary file's mode, removes unlocked ones.
QStringList seenAtNaming;
void sweepAtNaming(int dirFd)
{
    const QDir dir(u"/proc/self/fd/"_s + QString::number(dirFd));
    for (const QString& name : dir.entryList({u".kelvara-*"_s}, QDir::Files | QDir::Hidden)) {
        struct stat st;
        const bool seen = ::stat(QFile::encodeName(dir.filePath(name)), &st) == 0;
        seenAtNaming.append(QString::number(seen ? st.st_mode & 07777 : 0, 8));
    }
    removeAbandonedTemporaries(dirFd);
}

} // namespace

class TestFiles : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // The last file's name is not UTF-8.
        QByteArray steps =
            "dir sub;dir Zed;dir Zed/x;dir .hiddendir;file .hiddendir/..a;file A;file B;file C.txt;file b;"
            "file a;file c.txt;file .hidden;file \xe9t\xe9;fifo fifo;ln b link-file;ln sub link-dir;"
            "ln nowhere dangling";
        for (int k = 0; k < 4; ++k)
            steps += ";dir "_ba + BomDirs[k] + ";file " + BomDirs[k] + '/' + BomFiles[k];
        makeTree(dir_.path(), steps);
    }
    void cleanupTestCase() // names that are not UTF-8 are beyond QTemporaryDir's reach
    {
        std::filesystem::remove_all(QFile::encodeName(dir_.path()).toStdString());
    }

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

        // Random names of characters whose order is easy to get wrong, half with a long common start and
        // some with bytes that are not UTF-8: in the order QString's case-insensitive comparison gives.
        const QStringList pieces =
            u"a A _ é É ő ß ẞ ς Σ ı İ \u07ff \u0800 Ａ ａ \U00010400 \U00010428 \U0001F4A9"_s.split(u' ');
        QRandomGenerator random(1993);
        std::vector<DirectoryEntry> expected;
        QTemporaryDir many;
        const auto remove =
            qScopeGuard([&] { std::filesystem::remove_all(QFile::encodeName(many.path()).toStdString()); });
        const auto create = [&](const QByteArray& name) {
            const int fd =
                ::open(QFile::encodeName(many.path()) + '/' + name, O_CREAT | O_EXCL | O_WRONLY, 0600);
            if (fd >= 0)
                expected.push_back({name, pathFromBytes(name)}), ::close(fd);
        };
        for (int k = 0; k < 400; ++k) {
            QByteArray name = k % 2 ? "a long common start " : "";
            for (int n = random.bounded(1, 6); n > 0; --n)
                name += random.bounded(8) ? pieces[random.bounded(pieces.size())].toUtf8()
                                          : QByteArray(1, char(random.bounded(0x80, 0x100)));
            create(name);
        }
        // Keys of 8 bytes beside longer ones that start with them, whose bytes sort the other way.
        for (char c = 'a'; c <= 'p'; ++c) {
            create(c + "bcdefgh"_ba);
            create(char(c - 32) + "BCDEFGH_"_ba);
        }
        std::sort(expected.begin(), expected.end(), [](const DirectoryEntry& a, const DirectoryEntry& b) {
            const int byText = QString::compare(a.text, b.text, Qt::CaseInsensitive);
            return byText != 0 ? byText < 0 : a.name < b.name;
        });
        std::vector<DirectoryEntry> listed;
        QVERIFY(!listFiles(many.path(), listed));
        Lines order, expectedOrder;
        for (const DirectoryEntry& entry : listed)
            order.append(entry.name);
        for (const DirectoryEntry& entry : expected)
            expectedOrder.append(entry.name);
        QCOMPARE(order, expectedOrder);
    }

    void directory_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("error"); // errno of listing it, 0: none
        QTest::addColumn<QString>("firstEntry");
        // The name alone, as a listing decodes it.
        QTest::newRow("a byte-order mark in front")
            << u"Zed/x/"_s + pathFromBytes(BomDirs[1] + 6) << 0 << u"bom"_s;
        QTest::newRow("a byte-order mark, a kept byte") << pathFromBytes(BomDirs[3]) << 0 << u"bomff"_s;
        QTest::newRow("a name that starts with two dots") << u".hiddendir"_s << 0 << u"..a"_s;
        QTest::newRow("a file") << u"b"_s << ENOTDIR << QString();
        QTest::newRow("FIFO") << u"fifo"_s << ENOTDIR << QString();
        QTest::newRow("missing") << u"missing"_s << ENOENT << QString();
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
        QCOMPARE(joinPath(u"/"_s, name), u"/"_s + name);
        if (error == 0) { // the same directory through two descriptors, and not its sibling without the mark
            Descriptor opened, again, sibling;
            QVERIFY(!openDirectory(target, opened) && !openDirectory(target + u"/."_s, again) &&
                    !openDirectory(dir_.filePath(pathFromBytes(BomDirs[0])), sibling));
            QVERIFY(isSameFile(opened.get(), again.get()) && !isSameFile(opened.get(), sibling.get()));
        }
    }

    void volumes()
    {
        const Volumes drives(
            std::make_unique<Fake>(QStringList{u"/media/usb"_s, u"/home/"_s, u"/"_s, u"/home"_s}));
        QCOMPARE(drives.drives(), (QStringList{u"/"_s, u"/home"_s, u"/media/usb"_s}));
        QCOMPARE(drives.driveOf(u"/home"_s), u"/home"_s);
        QCOMPARE(drives.driveOf(u"/homeland"_s), u"/"_s);
        QCOMPARE(drives.driveOf(u"/home/x/../../media/usb/y"_s), u"/media/usb"_s);
        const Volumes noRoot(std::make_unique<Fake>(QStringList{u"/media/usb"_s, u"/home"_s}));
        QCOMPARE(noRoot.driveOf(u"/tmp"_s), u"/home"_s); // without a root drive, the first one
        // No application object here, so this is the answer from /proc/self/exe.
        QVERIFY(QFileInfo(Volumes::programDirectory() + u"/tst_files"_s).isExecutable());

        // Each drive has its own current directory; a deleted working directory gives its nearest ancestor,
        // not the kernel's "... (deleted)" name nor a new directory made under the old name.
        const QString a = QFileInfo(work_.path()).canonicalFilePath() + u"/a"_s, b = a + u"/b"_s;
        QVERIFY(QDir().mkpath(a + u"/gone"_s) && QDir().mkpath(b + u"/x"_s));
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(b + u"/x"_s));
        Volumes volumes(std::make_unique<Fake>(QStringList{u"/"_s, a, b}));
        QVERIFY(QDir::setCurrent(a + u"/gone"_s) && QDir().rmdir(a + u"/gone"_s) &&
                QDir().mkdir(a + u"/gone"_s));
        const Volumes deleted(std::make_unique<Fake>(QStringList{u"/"_s}));
        const QString relative = cleanAbsolutePath(u"y"_s);
        QVERIFY(QDir::setCurrent(before));
        QCOMPARE(deleted.currentDirectory(u"/"_s), a);
        QCOMPARE(relative, a + u"/y"_s);

        QCOMPARE(volumes.currentDrive(), b);
        QCOMPARE(volumes.currentDirectory(b), b + u"/x"_s);
        QCOMPARE(volumes.currentDirectory(a), a);
        volumes.setCurrentDirectory(a + u"/y/../z/"_s);
        QCOMPARE(volumes.currentDirectory(a), a + u"/z"_s);

        // Of the missing mount points, local ones are dropped and those that may hang are listed untouched.
        const QByteArray table = "40 22 0:50 / /nowhere/nfs rw - nfs4 server:/x rw\n"
                                 "41 22 0:51 / /nowhere/ssh rw - fuse.sshfs me@host: rw\n"
                                 "42 40 8:2 / /nowhere/nfs/disk rw - ext4 /dev/sdb1 rw\n"
                                 "43 22 8:3 /hosts /nowhere/hosts rw - ext4 /dev/sdc1 rw\n"
                                 "44 22 0:52 / /media/my\\040share\\134x rw shared:5 - cifs s:/ rw\n"
                                 "46 22 0:53 / /media/a\\b\\0 rw - nfs s:/ rw\n"
                                 "48 22 0:3 / /srv/proc rw - proc proc rw\n"
                                 "51 22 0:54 / /dev/shm rw - nfs s:/ rw\n"
                                 "53 22 0:56 / /run/media rw - nfs s:/ rw\n"
                                 "54 22 0:57 / /run/media/anna/STICK rw - nfs s:/ rw\n"
                                 "57 22 0:60 / /devices rw - nfs s:/ rw\n"
                                 "58 22 0:61 / /tmp rw - tmpfs tmpfs rw\n"
                                 "59 40 0:62 / /nowhere/nfs/cut rw shared:7\n"
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
        const auto row = [](const char* name, const QByteArray& content, const Lines& lines,
                            qint64 resizeTo = -1, const QString& file = u"in.txt"_s) {
            QTest::newRow(name) << file << content << resizeTo << lines;
        };
        const QByteArray pad(Buffer - 3, 'x');
        row("mixed", "a\rb\r\nc\nd\r\r\ne", {"a", "b", "c\nd", "", "e"});
        row("NUL bytes", QByteArray("a\0b\r\0\r\n", 7), {QByteArray("a\0b", 3), QByteArray(1, '\0')});
        row("after a line", "a\r" + pad + "\r\nb", {"a", pad, "b"});
        // Read as far as its size when opened; one that ends before is not the file that was opened.
        const QByteArray changing = QByteArray("0123456\r\n").repeated(4 * Buffer / 9);
        row("shrinks while read", changing, {error(FileErrorKind::EndOfFile)}, Buffer);
        row("grows while read", changing, Lines(4 * Buffer / 9, "0123456"), 8 * Buffer);
        row("missing directory", {}, {error(FileErrorKind::PathNotFound)}, -1, u"nowhere/a.txt"_s);
        row("directory", {}, {error(FileErrorKind::AccessDenied)}, -1, u"."_s);
        // Opens fine, but reading from offset 0 of the own address space fails with EIO.
        row("read error", {}, {error(FileErrorKind::DiskNotReady)}, -1, u"/proc/self/mem"_s);
    }
    void reader()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(qint64, resizeTo);
        if (name == u"in.txt"_s)
            writeFile(work_.filePath(name), content);
        const StandardInputClosed closed; // the file is read through descriptor 0, and closed after
        QTEST(readLines(QDir(work_.path()).filePath(name), resizeTo), "lines");
        QCOMPARE(::fcntl(0, F_GETFD), -1);
    }

    // Random mixes of text, characters and the bytes where the rules change, also as file names.
    void validationAgreesWithPlainDecoding()
    {
        static constexpr std::uint8_t Edges[] = {0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xC1, 0xC2, 0xDF,
                                                 0xE0, 0xED, 0xEE, 0xEF, 0xF0, 0xF4, 0xF5, 0xFF, 0x00, 0x7F};
        QRandomGenerator random(1250);
        for (int round = 0; round < 100000; ++round) {
            QByteArray bytes;
            for (int pieces = random.bounded(0, 40); pieces > 0; --pieces) {
                const int kind = random.bounded(4);
                if (kind == 0) {
                    bytes += QByteArray(random.bounded(1, random.bounded(4) ? 40 : 300), 'a');
                } else if (kind == 1) { // a whole character, now and then cut short
                    const char32_t c = char32_t(random.bounded(0x80, 0x110000));
                    bytes += QString::fromUcs4(&c, 1).toUtf8().chopped(random.bounded(8) == 0 ? 1 : 0);
                } else {
                    bytes += char(Edges[random.bounded(int(std::size(Edges)))]);
                }
            }
            // Qt's decoder as the plain model: valid UTF-8, and only that, comes back unchanged.
            const bool expected = QString::fromUtf8(bytes).toUtf8() == bytes;
            const QString path = pathFromBytes(bytes);
            // Followed by a byte of no character, as a block read from a file may be.
            const std::string block = bytes.toStdString() + '\xFF';
            const std::string_view text(block.data(), block.size() - 1);
            if (isValidUtf8(text) != expected || isValidUtf8Scalar(text) != expected ||
                pathToBytes(path) != bytes || (expected && path != QString::fromUtf8(bytes)))
                QFAIL(bytes.toHex(' ').constData());
        }
        // A sequence left open before a run of ASCII that fills a whole step of the fast path, or cut short
        // by the end of the text at any place of the last step.
        QVERIFY(!isValidUtf8((QByteArray(127, 'a') + "\xC3" + QByteArray(128, 'a') + "\xA1").toStdString()));
        for (const char* cut : {"\xC3", "\xE1\x80", "\xF0\x90\x80"})
            for (int length = 1; length <= 64; ++length)
                QVERIFY(!isValidUtf8((QByteArray(length, 'a') + cut).toStdString()));
    }

    // Every byte comes back from the legacy code page, the unassigned ones too.
    void everyByteRoundTrips()
    {
        std::string all;
        for (int b = 0; b < 5 * 256; ++b) // longer than the piece the conversion to UTF-8 takes at once
            all.push_back(char(b));
        const QString text = decode(all, CodePage::Windows1250);
        QCOMPARE(encode(text, CodePage::Windows1250), std::optional<std::string>(all));
        std::string utf8;
        appendAsUtf8(all, CodePage::Windows1250, utf8);
        QCOMPARE(QString::fromUtf8(utf8.data(), qsizetype(utf8.size())), text);
        for (const int unassigned : {0x81, 0x83, 0x88, 0x90, 0x98})
            QCOMPARE(text[unassigned].unicode(), char16_t(unassigned));
        QCOMPARE(encode(QString(QChar(0xD800)), CodePage::Utf8), std::nullopt); // a lone surrogate
        // Kept bytes show as U+FFFD; low surrogates in their range (U+1F4A9 is D83D DCA9) do not.
        QCOMPARE(displayPath(pathFromBytes("\xA9\xF0\x9F\x92\xA9\xED\xB2")),
                 u"\uFFFD\U0001F4A9\uFFFD\uFFFD"_s);
    }

    // Text that ends where readable memory ends: nothing reads past its end, with any SIMD level.
    void nothingReadPastTheEnd()
    {
        const size_t page = size_t(::sysconf(_SC_PAGESIZE));
        auto* map = static_cast<char*>(
            ::mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        QVERIFY(map != MAP_FAILED);
        const auto unmap = qScopeGuard([&] { ::munmap(map, 2 * page); });
        QCOMPARE(::mprotect(map + page, page, PROT_NONE), 0);
        const auto simdBack = qScopeGuard([] { limitSimd(Simd::Avx2); });
        for (const Simd simd : {Simd::Avx2, Simd::Sse2, Simd::None}) {
            limitSimd(simd);
            for (const std::string_view end : {"", "\xc3\xa1", "\xc3", "\xe9", "\r"}) {
                std::memset(map, 'a', page);
                std::memcpy(map + page - end.size(), end.data(), end.size());
                for (const size_t size : {size_t(5), size_t(40), page}) {
                    const std::string_view text(map + page - size, size);
                    const std::string copy(text);
                    QCOMPARE(isValidUtf8(text), isValidUtf8(copy));
                    QCOMPARE(decode(text, CodePage::Windows1250), decode(copy, CodePage::Windows1250));
                    QCOMPARE(foldText(text, CodePage::Utf8), foldText(copy, CodePage::Utf8));
                    const auto loneCr = [](std::string_view in) { // where it is, or -1
                        const char* at = findLoneCr(in.data(), in.data() + in.size());
                        return at ? at - in.data() : -1;
                    };
                    QCOMPARE(loneCr(text), loneCr(copy));
                }
            }
        }
    }

    void folding_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("folded");
        QTest::addColumn<QByteArray>("windows1250"); // null: not in the code page
        QTest::newRow("central european")
            << u"ŐőŰű AÁRVÍZ ŠŁŽČŘĎ"_s << u"őőűű aárvíz šłžčřď"_s
            << QByteArray("\xD5\xF5\xDB\xFB A\xC1RV\xCDZ \x8A\xA3\x8E\xC8\xD8\xCF");
        QTest::newRow("not letters") << u"[@]^_`{€–"_s << u"[@]^_`{€–"_s << QByteArray("[@]^_`{\x80\x96");
        QTest::newRow("greek, deseret, U+0800")
            << u"ΣΟΦΊΑ \U00010400\u0800"_s << u"σοφία \U00010428\u0800"_s << QByteArray();
        // Lower-case forms of another length are left alone, so lengths never change.
        QTest::newRow("dotted capital I, A with stroke") << u"İȺ"_s << u"İȺ"_s << QByteArray();
    }
    void folding()
    {
        QFETCH(QString, text);
        QFETCH(QString, folded);
        QFETCH(QByteArray, windows1250);
        QCOMPARE(QString::fromStdString(foldText(*encode(text, CodePage::Utf8), CodePage::Utf8)), folded);
        const std::optional<std::string> bytes = encode(text, CodePage::Windows1250);
        QCOMPARE(bytes, windows1250.isNull() ? std::nullopt : std::optional(windows1250.toStdString()));
        if (bytes)
            QCOMPARE(decode(foldText(*bytes, CodePage::Windows1250), CodePage::Windows1250), folded);
    }

    // A process that a signal ends takes the named temporary file it writes away first; one that
    // ignored the signal goes on.
    void temporaryGoesWithTheProcess_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<bool>("ignored");
        QTest::newRow("TERM") << SIGTERM << false;
        QTest::newRow("HUP, ignored") << SIGHUP << true;
    }
    void temporaryGoesWithTheProcess()
    {
        QFETCH(int, signal);
        QFETCH(bool, ignored);
        const QDir dir(work_.filePath(u"signalled"_s));
        QVERIFY(dir.mkpath(u"."_s));
        const pid_t child = ::fork();
        if (child == 0) {
            if (ignored)
                std::signal(signal, SIG_IGN);
            allowUnnamedFiles(false);
            removeTemporaryOnSignals();
            Descriptor d;
            OutputFile out;
            const bool written = !openDirectory(dir.path(), d) && !out.open(d.get(), "out.txt") &&
                                 dir.entryList(QDir::Files | QDir::Hidden).size() == 1;
            if (!written)
                ::_exit(1);
            ::raise(signal);
            out.discard();
            ::_exit(0);
        }
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY2(ignored ? WIFEXITED(status) && WEXITSTATUS(status) == 0
                         : WIFSIGNALED(status) && WTERMSIG(status) == signal,
                 qPrintable(QString::number(status)));
        QCOMPARE(dir.entryList(QDir::Files | QDir::Hidden), QStringList());
    }

    void writer_data()
    {
        QTest::addColumn<bool>("named");     // as on a file system without files without a name
        QTest::addColumn<bool>("sizeLimit"); // writes fail past 1000 bytes
        QTest::addColumn<int>("mode");       // the source's permission bits
        for (const bool named : {false, true}) {
            const char* suffix = named ? ", named" : "";
            QTest::addRow("open to group and others only%s", suffix) << named << false << 0066;
            QTest::addRow("a write fails%s", suffix) << named << true << 0666;
        }
    }
    // The file appears whole or not at all, replacing a link at the target, not writing through it. A sweep
    // just before the naming finds the temporary file locked and private; named, it has the mode less umask.
    void writer()
    {
        QFETCH(bool, named);
        QFETCH(bool, sizeLimit);
        QFETCH(int, mode);
        allowUnnamedFiles(!named);
        seenAtNaming.clear();
        runBeforeNaming(sweepAtNaming);
        const auto allowAgain = qScopeGuard([] {
            allowUnnamedFiles(true);
            runBeforeNaming(nullptr);
        });
        const QString target = work_.filePath(u"out.txt"_s), elsewhere = work_.filePath(u"elsewhere.txt"_s);
        const QByteArray old(4 * Buffer, '!');
        writeFile(elsewhere, old);
        QFile::remove(target);
        QVERIFY(QFile::link(elsewhere, target));
        Descriptor d;
        QVERIFY(!openDirectory(work_.path(), d));
        const StandardInputClosed closed; // the copy is written through descriptor 0
        OutputFile out;
        for (int k = 0; k < 4 * MaxTemporaries; ++k) { // nothing changes, nothing stays behind or held
            QVERIFY(!out.open(d.get(), "out.txt"));
            out.writeLine("given up");
            out.discard();
        }
        QVERIFY(!out.open(d.get(), "out.txt", mode_t(mode)));
        out.writeLine(std::string(Buffer, 'j')); // large enough to go out before the restart
        QVERIFY(!out.restart());
        std::optional<FileSizeLimit> limit;
        if (sizeLimit)
            QVERIFY(limit.emplace(1000).active);
        // Lines from empty to longer than a piece worth copying, in more pieces than one write takes.
        Lines lines;
        for (int i = 0; i < 30000; ++i)
            lines.append(QByteArray::number(i).repeated(i % 50));
        for (const QByteArray& line : lines) { // kept until the commit
            out.writeFrom(std::string_view(line.constData(), size_t(line.size())));
            out.write("\r\n");
        }
        WrittenFile file;
        std::optional<FileError> error = out.finish(file);
        QCOMPARE(readFile(target), old); // nothing shows before the commit
        if (!error)
            error = file.place();
        QCOMPARE(error ? error->kind : FileErrorKind::Other,
                 sizeLimit ? FileErrorKind::DiskFull : FileErrorKind::Other);
        if (error)
            QCOMPARE(out.finish(file), error); // the first error sticks
        QCOMPARE(seenAtNaming, sizeLimit ? QStringList() : QStringList{u"600"_s});
        QCOMPARE(readFile(target), sizeLimit ? old : lines.join("\r\n") + "\r\n");
        QCOMPARE(readFile(elsewhere), old);
        const mode_t mask = ::umask(0);
        ::umask(mask);
        struct stat st;
        QCOMPARE(::lstat(QFile::encodeName(target).constData(), &st), 0);
        QCOMPARE(S_ISREG(st.st_mode) ? int(st.st_mode & 07777) : -1, sizeLimit ? -1 : int(mode & ~mask));
        QCOMPARE(QDir(work_.path()).entryList({u".kelvara-*"_s}, QDir::Files | QDir::Hidden), {});
    }

private:
    QTemporaryDir dir_;
    QTemporaryDir work_; // for the files read and written
};

QTEST_APPLESS_MAIN(TestFiles)
#include "tst_files.moc"
