// The replace commands on real files, without a window. No byte of the working directory's own
// files may ever change.

#include "platform/descriptor.h"
#include "replace/replacecommands.h"
#include "support/files.h"
#include "support/rows.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

using namespace kelvara;
using namespace kelvara::test;

namespace {

// Answers the first file error with `answer` (a retry when it says so), later ones with no.
struct ScriptedErrors : ReplaceErrors
{
    bool retry(const FileError& error, const QString& path) override
    {
        errors.append(error);
        paths.append(path);
        return answer && std::exchange(answer, nullptr)();
    }
    void tell(const QString& message) override { messages.append(message); }
    std::function<bool()> answer;
    QList<FileError> errors;
    QStringList paths, messages;
};

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
                         const std::optional<QString>& only = std::nullopt)
{
    const QByteArray before = fingerprint(dir);
    ListedFiles files(dir);
    MainState state;
    ScriptedErrors errors;
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
    void copy_data()
    {
        QTest::addColumn<QByteArray>("source");
        QTest::addColumn<QString>("search");
        QTest::addColumn<QString>("replacement");
        QTest::addColumn<bool>("caseSensitive");
        QTest::addColumn<QString>("only"); // the selected row, when only rows equal to it are replaced
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<QString>("rows"); // the rewritten lines, joined by |
        const auto row = [](const char* name, const QByteArray& source, const char* search,
                            const char* replacement, bool caseSensitive, const QByteArray& output,
                            const QByteArray& rows, const char* only = nullptr) {
            QTest::newRow(name) << source << QString::fromUtf8(search) << QString::fromUtf8(replacement)
                                << caseSensitive << (only ? QString::fromUtf8(only) : QString()) << output
                                << QString::fromUtf8(rows);
        };
        row("case ignored", "Egy ALMA fa\r\n", "alma", "körte", false, "Egy körte fa\r\n", "Egy körte fa");
        row("replacement not searched again", "banana\r\n", "a", "aa", true, "baanana\r\n", "baanana");
        row("empty replacement deletes", "hello\r\n", "lo", "", true, "hel\r\n", "hel");
        row("empty source", "", "a", "x", true, "", "");
        row("NUL bytes kept", QByteArray("a\0b\r\n\0ab", 8), "ab", "x", true,
            QByteArray("a\0b\r\n\0x\r\n", 9), QByteArray("\0x", 2));
        row("Windows-1250 bytes kept", "\xE1rv\xEDz ab \xF5\r\n", "ab", "x", true, "\xE1rv\xEDz x \xF5\r\n",
            "árvíz x ő");
        row("Windows-1250 replacement", "t\xFBr\xF5 \xE1\r\n", "á", "ű", false, "t\xFBr\xF5 \xFB\r\n",
            "tűrő ű");
        row("Windows-1250 folded", "\xC1RV\xCDZ\r\n", "árvíz", "x", false, "x\r\n", "x");
        row("UTF-8 folded", "ÁRVÍZ és\r\n", "árvíz", "tó", false, "tó és\r\n", "tó és");
        row("text at the LF of a CR LF", "a\r\nb\r\n", "\nb", "x", true, "a\r\nb\r\n", "");
        row("star line", "*ab\r\n", "ab", "x", true, "*x\r\n", "*x");
        row("replacement the code page lacks", "ab \xE9\r\n", "ab", "中", true, "<missing>", "");
        row("... in UTF-8", "ab é\r\n", "ab", "中", true, "中 é\r\n", "中 é");
        row("... with nothing to replace", "cd \xE9\r\n", "ab", "中", true, "cd \xE9\r\n", "");
        // Valid UTF-8 ("ő" too) for more than one read, then a Windows-1250 "ő": what was written
        // before must be written again as Windows-1250.
        const QByteArray utf8 = QByteArray("\xC5\x91\r\n").repeated(100000);
        row("code page known late, replacement", "ab\r\n" + utf8 + "\xF5\r\n", "ab", "ő", true,
            "\xF5\r\n" + utf8 + "\xF5\r\n", "ő");
        row("code page known late, search", "ab\r\n" + utf8 + "\xF5\r\n", "ő", "x", true,
            "ab\r\n" + utf8 + "x\r\n", "x");
        row("selected row, equal lines", "abc x abc\r\nabc\r\nabc x abc\r\n", "abc", "Q", true,
            "Q x abc\r\nabc\r\nQ x abc\r\n", "Q x abc|Q x abc", "abc x abc");
        row("selected row, occurrence at the end", "x abc\r\n", "abc", "Q", true, "x Q\r\n", "x Q", "x abc");
        row("selected row compared with its case", "abc def\r\nABC DEF\r\n", "ABC", "Q", false,
            "Q def\r\nABC DEF\r\n", "Q def", "abc def");
        row("selected row without the text", "abc def\r\n", "xyz", "Q", true, "abc def\r\n", "", "abc def");
        row("no row selected", "abc\r\n\r\n", "abc", "Q", true, "abc\r\n\r\n", "", "");
        row("selected row in Windows-1250", "abc \xF5\r\nabc\r\n", "abc", "Q", true, "Q \xF5\r\nabc\r\n",
            "Q ő", "abc ő");
    }
    void copy()
    {
        QFETCH(QByteArray, source);
        QFETCH(QString, search);
        QFETCH(QString, replacement);
        QFETCH(bool, caseSensitive);
        QFETCH(QString, only);
        QFETCH(QByteArray, output);
        QFETCH(QString, rows);
        QTemporaryDir dir;
        writeFile(dir.filePath(QStringLiteral("f.txt")), source);
        Rows hits;
        const ScriptedErrors errors = replaceIn(dir.path(), ReplaceText(search, replacement, caseSensitive),
                                                hits, only.isNull() ? std::nullopt : std::optional(only));
        QCOMPARE(readFile(dir.filePath(QStringLiteral("uj/f.txt"))), output);
        QCOMPARE(hits.rows,
                 block(dir.filePath(QStringLiteral("uj/f.txt"))) + rows.split(u'|', Qt::SkipEmptyParts));
        QCOMPARE(errors.messages.size(), output == "<missing>" ? 1 : 0);
        QVERIFY(errors.paths.isEmpty());
    }

    // Files of many reads with every kind of line end, against the plain model.
    void largeFilesAgreeWithPlainCopy()
    {
        QRandomGenerator random(20261206);
        const QByteArray pieces[] = {"áb",   "ÁB", "áB",   "ab", "x", "\r",
                                     "\r\n", "\n", "ábáb", "á",  "b", "\r\r\n"};
        for (int round = 0; round < 6; ++round) {
            QByteArray source;
            while (source.size() < 300 * 1024)
                source += pieces[random.bounded(int(std::size(pieces)))];
            if (round >= 4)
                source += "\xE1"
                          "b\r\n"; // Windows-1250 after all
            const bool caseSensitive = round % 2 == 0;
            const ReplaceText text(QStringLiteral("áb"), QStringLiteral("Q"), caseSensitive);
            QTemporaryDir dir;
            writeFile(dir.filePath(QStringLiteral("f.txt")), source);
            Rows rows;
            replaceIn(dir.path(), text, rows);
            const Copy expected =
                plainCopy(source.toStdString(), QStringLiteral("áb"), QStringLiteral("Q"), caseSensitive);
            QVERIFY2(readFile(dir.filePath(QStringLiteral("uj/f.txt"))).toStdString() == *expected.bytes,
                     qPrintable(QString::number(round)));
            QCOMPARE(rows.rows.mid(3), expected.rows);
        }
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
        QCOMPARE(QDir(d.filePath(QStringLiteral(".elsewhere")))
                     .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 {});
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
    void writeFailure_data()
    {
        QTest::addColumn<bool>("retry");
        QTest::newRow("skipped") << false;
        QTest::newRow("tried again") << true;
    }
    void writeFailure()
    {
        QFETCH(bool, retry);
        QTemporaryDir dir;
        QDir d(dir.path());
        writeFile(d.filePath(QStringLiteral("big")), QByteArray("a\r\n").repeated(100000));
        writeFile(d.filePath(QStringLiteral("small")), "a\r\n");
        QVERIFY(d.mkdir(QStringLiteral("uj")));
        writeFile(d.filePath(QStringLiteral("uj/big")), "earlier");
        const QByteArray before = fingerprint(dir.path());
        std::optional<FileSizeLimit> limit(std::in_place, 4096);
        QVERIFY(limit->isActive());
        ScriptedErrors errors;
        if (retry)
            errors.answer = [&limit] { return limit->lift(); };
        ListedFiles files(dir.path());
        MainState state;
        Rows rows;
        replaceInAllFiles(files, ReplaceText(QStringLiteral("a"), QStringLiteral("b"), true), state, rows,
                          errors);
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
        QCOMPARE(fingerprint(dir.path()), before);
    }
};

QTEST_APPLESS_MAIN(TestReplacePass)
#include "tst_replacepass.moc"
