// The replace commands on real files, without a window. No byte of the working directory's own
// files may ever change.

#include "platform/descriptor.h"
#include "replace/replacecommands.h"
#include "support/files.h"
#include "support/rows.h"

#include <QDir>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

using namespace kelvara;
using namespace kelvara::test;

namespace {

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Names and bytes of the working directory's own files; uj and the links in it are left out.
QByteArray fingerprint(const QString& dir)
{
    QByteArray all;
    for (const QFileInfo& info :
         QDir(dir).entryInfoList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name))
        all += QFile::encodeName(info.fileName()) + '\0' + readFile(info.filePath()) + '\0';
    return all;
}

// Replaces in every file of `dir` (or in the rows equal to `only`), checking that no source changed.
ScriptedErrors replaceIn(const QString& dir, const ReplaceText& text, Rows& rows,
                         const std::optional<QString>& only = std::nullopt, std::function<bool()> answer = {})
{
    const QByteArray before = fingerprint(dir);
    ListedFiles files(dir);
    MainState state;
    ScriptedErrors errors;
    errors.answer = answer;
    if (only) {
        files.reread();
        for (int k = 0; k < files.entryCount(); ++k)
            files.setEntrySelected(k, true);
        replaceInSelectedLine(files, text, *only, state, rows, errors);
    } else {
        replaceInAllFiles(files, text, state, rows, errors);
    }
    if (fingerprint(dir) != before)
        QTest::qFail("a source changed", __FILE__, __LINE__);
    return errors;
}

} // namespace

class TestReplacePass : public QObject
{
    Q_OBJECT

private slots:
    // One file replaced in, against the plain model of a copy; `only` is the selected row when only
    // rows equal to it are replaced.
    void copy_data()
    {
        QTest::addColumn<QByteArray>("source");
        QTest::addColumn<QString>("search");
        QTest::addColumn<QString>("replacement");
        QTest::addColumn<bool>("caseSensitive");
        QTest::addColumn<QString>("only");
        const auto row = [](const char* name, const QByteArray& source, const char* search,
                            const char* replacement, bool caseSensitive, const char* only = nullptr) {
            QTest::addRow("%s", name) << source << QString::fromUtf8(search) << QString::fromUtf8(replacement)
                                      << caseSensitive << (only ? QString::fromUtf8(only) : QString());
        };
        row("replacement not searched again", "banana\r\n", "a", "aa", true);
        row("empty replacement deletes", "hello\r\n", "lo", "", true);
        row("empty source", "", "a", "x", true);
        row("NUL bytes kept", QByteArray("a\0b\r\n\0ab", 8), "ab", "x", true);
        row("Windows-1250 bytes kept", "\xE1rv\xEDz ab \xF5\r\n", "ab", "x", true);
        row("Windows-1250 replacement", "t\xFBr\xF5 \xE1\r\n", "á", "ű", false);
        row("Windows-1250 folded", "\xC1RV\xCDZ\r\n", "árvíz", "x", false);
        row("text at the LF of a CR LF", "a\r\nb\r\n", "\nb", "x", true);
        row("star line", "*ab\r\n", "ab", "x", true);
        row("replacement the code page lacks", "ab \xE9\r\n", "ab", "中", true);
        row("... in UTF-8", "ab é\r\n", "ab", "中", true);
        row("... with nothing to replace", "cd \xE9\r\n", "ab", "中", true);
        // Valid UTF-8 ("ő" too) for more than one read, then a Windows-1250 "ő": what was written
        // before must be written again as Windows-1250.
        row("code page known late", "ab\r\n" + QByteArray("\xC5\x91\r\n").repeated(100000) + "\xF5\r\n", "ab",
            "ő", true);
        row("selected row, equal lines", "abc x abc\r\nabc\r\nabc x abc\r\n", "abc", "Q", true, "abc x abc");
        row("selected row, occurrence at the end", "x abc\r\n", "abc", "Q", true, "x abc");
        row("selected row compared with its case", "abc def\r\nABC DEF\r\n", "ABC", "Q", false, "abc def");
        row("selected row without the text", "abc def\r\n", "xyz", "Q", true, "abc def");
        row("no row selected", "abc\r\n\r\n", "abc", "Q", true, "");
        row("selected row in Windows-1250", "abc \xF5\r\nabc\r\n", "abc", "Q", true, "abc ő");
        // Files of many reads with every kind of line end, the last two Windows-1250 after all.
        QRandomGenerator random(20261206);
        const QByteArray pieces[] = {"áb",   "ÁB", "áB",   "ab", "x", "\r",
                                     "\r\n", "\n", "ábáb", "á",  "b", "\r\r\n"};
        for (int round = 0; round < 6; ++round) {
            QByteArray source;
            while (source.size() < 300 * 1024)
                source += pieces[random.bounded(int(std::size(pieces)))];
            row(qPrintable(QStringLiteral("random %1").arg(round)),
                round < 4 ? source
                          : source + "\xE1"
                                     "b\r\n",
                "áb", "Q", round % 2 == 0);
        }
    }
    void copy()
    {
        QFETCH(QByteArray, source);
        QFETCH(QString, search);
        QFETCH(QString, replacement);
        QFETCH(bool, caseSensitive);
        QFETCH(QString, only);
        QTemporaryDir dir;
        writeFile(dir.filePath(QStringLiteral("f.txt")), source);
        Rows hits;
        const std::optional<QString> selected = only.isNull() ? std::nullopt : std::optional(only);
        const ScriptedErrors errors =
            replaceIn(dir.path(), ReplaceText(search, replacement, caseSensitive), hits, selected);
        const Copy expected = plainCopy(source.toStdString(), search, replacement, caseSensitive, selected);
        QCOMPARE(readFile(dir.filePath(QStringLiteral("uj/f.txt"))),
                 expected.bytes ? QByteArray::fromStdString(*expected.bytes) : QByteArray("<missing>"));
        QCOMPARE(hits.rows, block(dir.filePath(QStringLiteral("uj/f.txt"))) + expected.rows);
        QCOMPARE(errors.messages.size(), expected.bytes ? 0 : 1);
        QVERIFY(errors.paths.isEmpty());
    }

    // What stands at uj or uj/a.txt is never written through, and no copy may replace a source.
    void safeOutput_data()
    {
        QTest::addColumn<QStringList>("setup"); // besides .outside, .elsewhere/ and a.txt
        QTest::addColumn<bool>("written");      // uj/a.txt is the rewritten copy afterwards
        QTest::addColumn<QString>("message");   // the start of what the user is told, if anything
        QTest::addColumn<int>("fileErrors");
        QTest::addColumn<QStringList>("left"); // what uj holds afterwards, when it is a directory
        const QString link = QStringLiteral("Az uj nem könyvtár, hanem hivatkozás");
        const auto row = [](const char* name, const char* setup, bool written, const QString& message,
                            int fileErrors, const char* left) {
            QTest::newRow(name) << QString::fromUtf8(setup).split(u';', Qt::SkipEmptyParts) << written
                                << message << fileErrors
                                << QString::fromUtf8(left).split(u' ', Qt::SkipEmptyParts);
        };
        row("link at uj/a.txt", "dir uj;ln ../.outside uj/a.txt", true, {}, 0, "a.txt");
        row("hard link at uj/a.txt", "dir uj;hard .outside uj/a.txt", true, {}, 0, "a.txt");
        row("existing uj kept", "dir uj;file uj/other", true, {}, 0, "a.txt other");
        row("private source", "chmod a.txt", true, {}, 0, "a.txt");
        row("temporaries of killed runs", "dir uj;file uj/.kelvara-0123456789abcdef;lock uj/.kelvara-held",
            true, {}, 0, ".kelvara-held a.txt");
        row("uj is a link to the directory", "ln . uj", false, link, 0, "");
        row("uj is a link elsewhere", "ln .elsewhere uj", false, link, 0, "");
        row("uj links nowhere", "ln nowhere uj", false, link, 0, "");
        row("source is a link into uj", "dir uj;file uj/a.txt;rm a.txt;ln uj/a.txt a.txt", false,
            QStringLiteral("A másolat felülírná"), 0, "a.txt");
        row("plain file named uj", "file uj", false, {}, 1, "");
    }
    void safeOutput()
    {
        QFETCH(QStringList, setup);
        QFETCH(QString, message);
        QTemporaryDir dir;
        QDir d(dir.path());
        const auto path = [&d](const QString& name) { return QFile::encodeName(d.filePath(name)); };
        QVERIFY(d.mkdir(QStringLiteral(".elsewhere")));
        writeFile(d.filePath(QStringLiteral(".outside")), "outside");
        writeFile(d.filePath(QStringLiteral("a.txt")), "a\r\n");
        Descriptor held;
        for (const QString& step : setup) {
            const QStringList w = step.split(u' ');
            if (w[0] == u"dir")
                QVERIFY(d.mkdir(w[1]));
            else if (w[0] == u"file")
                writeFile(d.filePath(w[1]), "a\r\n");
            else if (w[0] == u"rm")
                QVERIFY(d.remove(w[1]));
            else if (w[0] == u"ln")
                QCOMPARE(::symlink(QFile::encodeName(w[1]).constData(), path(w[2]).constData()), 0);
            else if (w[0] == u"hard")
                QCOMPARE(::link(path(w[1]).constData(), path(w[2]).constData()), 0);
            else if (w[0] == u"chmod")
                QCOMPARE(::chmod(path(w[1]).constData(), 0600), 0);
            else if (w[0] == u"lock") { // a copy that a running replace holds
                held.reset(::open(path(w[1]).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
                QCOMPARE(::flock(held.get(), LOCK_EX), 0);
            }
        }
        Rows rows;
        const ScriptedErrors errors =
            replaceIn(dir.path(), ReplaceText(QStringLiteral("a"), QStringLiteral("b"), true), rows);
        QCOMPARE(readFile(d.filePath(QStringLiteral(".outside"))), QByteArray("outside"));
        QVERIFY(QDir(d.filePath(QStringLiteral(".elsewhere")))
                    .isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
        QFETCH(bool, written);
        if (written) {
            const QString copy = d.filePath(QStringLiteral("uj/a.txt"));
            QCOMPARE(readFile(copy), QByteArray("b\r\n"));
            QVERIFY(!QFileInfo(copy).isSymLink());
            // The source's permission bits less the umask, never more open than the source.
            const mode_t mask = ::umask(0);
            ::umask(mask);
            struct stat source, target;
            QVERIFY(::stat(path(QStringLiteral("a.txt")).constData(), &source) == 0 &&
                    ::stat(path(QStringLiteral("uj/a.txt")).constData(), &target) == 0);
            QCOMPARE(target.st_mode & 0777, source.st_mode & 0777 & ~mask);
        }
        QCOMPARE(errors.messages.size(), message.isEmpty() ? 0 : 1);
        QVERIFY(message.isEmpty() || errors.messages[0].startsWith(message));
        QFETCH(int, fileErrors);
        QCOMPARE(errors.paths, QStringList(fileErrors, d.filePath(QStringLiteral("uj"))));
        const QFileInfo uj(d.filePath(QStringLiteral("uj")));
        QTEST(uj.isDir() && !uj.isSymLink()
                  ? QDir(uj.filePath()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                  : QStringList(),
              "left");
    }

    // uj and a link to the working directory change places again and again while copies are
    // written: no copy may land on a source.
    void ujSwappedMeanwhile()
    {
        QTemporaryDir dir;
        QDir d(dir.path());
        for (int k = 0; k < 300; ++k)
            writeFile(d.filePath(QStringLiteral("f%1.txt").arg(k)), "alma " + QByteArray::number(k) + "\r\n");
        QVERIFY(d.mkdir(QStringLiteral("uj")));
        QVERIFY(QFile::link(QStringLiteral("."), d.filePath(QStringLiteral("ujx"))));
        Descriptor fd;
        QVERIFY(!openDirectory(dir.path(), fd));
        std::atomic<bool> stop = false;
        std::thread swapper([&] {
            while (!stop)
                ::renameat2(fd.get(), "uj", fd.get(), "ujx", RENAME_EXCHANGE);
        });
        int written = 0;
        for (int run = 0; run < 100 && written < 4; ++run) {
            Rows rows;
            const ScriptedErrors errors = replaceIn(
                dir.path(), ReplaceText(QStringLiteral("alma"), QStringLiteral("HACKED"), true), rows);
            written += errors.messages.isEmpty() && errors.paths.isEmpty();
        }
        stop = true;
        swapper.join();
        QVERIFY(written > 0); // some runs find the link at uj and refuse
    }

    // A line as long as half the memory left is copied; one too long gives up its own file alone.
    void lineLongerThanTheMemory()
    {
#if defined(__SANITIZE_ADDRESS__)
        QSKIP("the address sanitizer reserves more address space than any limit would leave");
#endif
        constexpr qint64 Line = 16 << 20;
        QTemporaryDir dir;
        QDir d(dir.path());
        for (const qint64 size : {Line, 4 * Line, qint64(0)}) { // sparse: a line of NUL bytes, then "alma"
            QFile f(d.filePath(QString::number(size)));
            QVERIFY(f.open(QIODevice::WriteOnly) && f.seek(size) && f.write("\r\nalma\r\n") == 8);
        }
        const pid_t child = ::fork();
        if (child == 0) {
            QFile statm(QStringLiteral("/proc/self/statm"));
            const qint64 used =
                statm.open(QIODevice::ReadOnly) ? statm.readAll().split(' ')[0].toLongLong() : 0;
            const struct rlimit limit = {rlim_t(used * ::sysconf(_SC_PAGESIZE) + 2 * Line), RLIM_INFINITY};
            ListedFiles files(dir.path());
            MainState state;
            Rows rows;
            ScriptedErrors errors;
            if (used > 0 && ::setrlimit(RLIMIT_AS, &limit) == 0)
                replaceInAllFiles(files, ReplaceText(QStringLiteral("alma"), QStringLiteral("x"), true),
                                  state, rows, errors);
            ::_exit(errors.messages.size() == 1 && errors.paths.isEmpty() &&
                            errors.messages[0].startsWith(QStringLiteral("Nincs elég memória")) &&
                            errors.messages[0].endsWith(d.filePath(QString::number(4 * Line)))
                        ? 0
                        : 1);
        }
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) == 0, qPrintable(QString::number(status)));
        QCOMPARE(QFileInfo(d.filePath(QStringLiteral("uj/%1").arg(Line))).size(), Line + 5);
        QCOMPARE(readFile(d.filePath(QStringLiteral("uj/0"))), QByteArray("\r\nx\r\n"));
        QCOMPARE(QDir(d.filePath(QStringLiteral("uj"))).entryList(QDir::Files | QDir::Hidden).size(), 2);
    }

    // A copy that cannot be written completely: skipped, or tried again once the cause is gone. An
    // earlier copy stays as it was until a complete one replaces it; the next file goes on.
    void writeFailure()
    {
        for (const bool retry : {false, true}) {
            QTemporaryDir dir;
            QDir d(dir.path());
            writeFile(d.filePath(QStringLiteral("big")), QByteArray("a\r\n").repeated(100000));
            writeFile(d.filePath(QStringLiteral("small")), "a\r\n");
            QVERIFY(d.mkdir(QStringLiteral("uj")));
            writeFile(d.filePath(QStringLiteral("uj/big")), "earlier");
            std::optional<FileSizeLimit> limit(std::in_place, 4096);
            QVERIFY(limit->isActive());
            Rows rows;
            const ScriptedErrors errors =
                replaceIn(dir.path(), ReplaceText(QStringLiteral("a"), QStringLiteral("b"), true), rows,
                          std::nullopt, [&] { return retry && limit->lift(); });
            limit.reset();
            QCOMPARE(errors.paths, QStringList{d.filePath(QStringLiteral("uj/big"))});
            QCOMPARE(errors.errors[0].kind, FileErrorKind::DiskFull);
            QCOMPARE(readFile(d.filePath(QStringLiteral("uj/big"))),
                     retry ? QByteArray("b\r\n").repeated(100000) : QByteArray("earlier"));
            QCOMPARE(readFile(d.filePath(QStringLiteral("uj/small"))), QByteArray("b\r\n"));
            // The big file's rows appear only for the complete copy, and once.
            QCOMPARE(rows.rows.count(QStringLiteral("b")), retry ? 100001 : 1);
            QCOMPARE(rows.rows.count(QString(150, QLatin1Char('*'))), 4);
            QCOMPARE(QDir(d.filePath(QStringLiteral("uj"))).entryList(QDir::Files | QDir::Hidden).size(), 2);
        }
    }
};

QTEST_APPLESS_MAIN(TestReplacePass)
#include "tst_replacepass.moc"
