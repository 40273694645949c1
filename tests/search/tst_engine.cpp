// The engine without a window: the line matcher, the search pass and commands, and the replace
// commands on real files, where no byte of the working directory's own files may ever change.

#include "io/descriptor.h"
#include "replace/replacecommands.h"
#include "search/searchcommands.h"
#include "support/files.h"
#include "support/rows.h"
#include "text/cpu.h"

#include <QDir>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <fcntl.h>
#include <malloc.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <thread>

using namespace kelvara;
using namespace kelvara::test;
using namespace Qt::StringLiterals;

namespace {

// A command over the files of a directory of its own, and what it leaves.
struct Run
{
    explicit Run(int threads = defaultThreadCount()) { control.threads = threads; }
    QString path(const QString& name) const { return dir.filePath(name); }
    QStringList entries(const QString& name) const
    {
        return QDir(path(name)).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }
    void writeFiles(int count) const
    {
        for (int k = 0; k < count; ++k)
            writeFile(path(u"f%1"_s.arg(k)), "alma " + QByteArray::number(k) + "\r\n");
    }
    void search(const SearchText& text, bool selected = false)
    {
        (selected ? searchSelectedFiles : searchAllFiles)(files, text, state, rows, errors, &control);
    }
    // Replaces in every file, or in the rows equal to `only` of those selected; no source may change.
    void replace(const ReplaceText& text, const std::optional<QString>& only = std::nullopt)
    {
        const QByteArray before = fingerprint(dir.path());
        if (only)
            replaceInSelectedLine(files, text, *only, state, rows, errors, &control);
        else
            replaceInAllFiles(files, text, state, rows, errors, &control);
        QVERIFY2(fingerprint(dir.path()) == before, "a source changed");
    }
    QTemporaryDir tmp;
    const QDir dir{tmp.path()};
    ListedFiles files{tmp.path()};
    MainState state;
    ScriptedErrors errors;
    Rows rows;
    PassControl control;
};

// Waits until a pass on more than one thread has read `files` files.
void waitUntilRead(const PassControl& control, qint64 files)
{
    while (control.threads > 1 && control.filesRead < files)
        std::this_thread::yield();
}

// Waits until every other thread sleeps, as the pool's workers do while they may take no file.
void waitForOtherThreadsToSleep()
{
    const QString self = QString::number(::gettid());
    for (int calm = 0; calm < 3; ::usleep(1000)) {
        bool sleeping = true;
        for (const QString& task : QDir(u"/proc/self/task"_s).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            const QByteArray stat = readFile(u"/proc/self/task/"_s + task + u"/stat"_s);
            sleeping = sleeping && (task == self || stat.mid(stat.lastIndexOf(')') + 2, 1) == "S");
        }
        calm = sleeping ? calm + 1 : 0;
    }
}

} // namespace

class TestEngine : public QObject
{
    Q_OBJECT

private slots:
    // The matcher on every vector level against a plain search of the folded bytes: known cases, then random.
    void matcher_data()
    {
        QTest::addColumn<CodePage>("page");
        QTest::addColumn<bool>("caseSensitive");
        for (const CodePage page : {CodePage::Utf8, CodePage::Windows1250})
            for (const bool caseSensitive : {true, false})
                QTest::addRow("%d, %d", int(page), caseSensitive) << page << caseSensitive;
    }
    void matcher()
    {
        QFETCH(CodePage, page);
        QFETCH(bool, caseSensitive);
        const auto check = [&](const QString& line, const QString& text) {
            const std::optional<std::string> haystack = encode(line, page), needle = encode(text, page);
            if (!haystack || !needle)
                return;
            const size_t expected = caseSensitive ? haystack->find(*needle)
                                                  : foldText(*haystack, page).find(foldText(*needle, page));
            for (const Simd simd : {Simd::Avx2, Simd::Sse2, Simd::None}) {
                limitSimd(simd);
                const char* at = Needle(*needle, caseSensitive, page)
                                     .find(haystack->data(), haystack->data() + haystack->size());
                QVERIFY2((at ? size_t(at - haystack->data()) : std::string::npos) == expected,
                         qPrintable(u"'%1' in '%2'"_s.arg(text, line)));
            }
        };
        // Line and text; ő is not ö; the last finds the first character of two bytes.
        for (const QString& both : {u"abcabc|bc"_s, u"Alma a fa alatt|alma"_s, u"ÁRVÍZTŰRŐ|árvíz"_s,
                                    u"tükör tőkör|TŐK"_s, u"xŠKODA|škoda"_s, u"|a"_s, u"ab|abc"_s, u"abc|"_s,
                                    u"a\nb|\nb"_s, u"Жx|ж"_s, u"x\u0080y|\u0080"_s})
            check(both.section(u'|', 0, 0), both.section(u'|', 1));
        const QString letters = u"aAbBáÁőŐűŰ \nŠšiI"_s + (page == CodePage::Utf8 ? u"ЖжİΣσς"_s : QString());
        QRandomGenerator random(20261206);
        for (int round = 0; round < 1000; ++round) {
            QString line, text;
            for (int i = random.bounded(0, 250); i > 0; --i)
                line += letters[random.bounded(letters.size())];
            if (!line.isEmpty() && random.bounded(3) != 0) // a piece of the line itself, often in other cases
                text = line.mid(random.bounded(line.size()), random.bounded(1, 12));
            else
                for (int i = random.bounded(1, 4); i > 0; --i)
                    text += letters[random.bounded(letters.size())];
            check(line, random.bounded(2) ? text.toUpper() : text);
        }
        limitSimd(Simd::Avx2);
    }

    // Which files a search visits: the selected ones (every entry but the last selected for all),
    // or all, where a file that vanished after listing is given up or searched once it is back.
    void visitedFiles_data()
    {
        QTest::addColumn<int>("entries");
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<QList<int>>("after");
        QTest::addColumn<int>("vanished"); // f1 vanishing in a search of all files: 1 back, 0 not
        QTest::newRow("0 and 2 of 3") << 3 << QList<int>{0, 2} << QList<int>{0, 2} << -1;
        QTest::newRow("single, unselected") << 1 << QList<int>{} << QList<int>{0} << -1;
        QTest::newRow("empty list") << 0 << QList<int>{} << QList<int>{} << -1;
        QTest::newRow("all files, one given up") << 3 << QList<int>{} << QList<int>{0, 1, 2} << 0;
        QTest::newRow("all files, one back") << 3 << QList<int>{} << QList<int>{0, 1, 2} << 1;
    }
    void visitedFiles()
    {
        QFETCH(int, entries);
        QFETCH(QList<int>, selected);
        QFETCH(int, vanished);
        Run run(1);
        const auto name = [&run](int k) { return run.path(u"f%1"_s.arg(k)); };
        run.writeFiles(entries);
        QCOMPARE(run.files.reread(), std::nullopt);
        for (const int k : selected)
            run.files.setEntrySelected(k, true);
        if (vanished >= 0) { // f1 goes away after the listing, while f0's rows go out
            run.rows.hook = [&](std::string_view, int file) {
                if (file == 0)
                    QFile::remove(name(1));
            };
            run.errors.answer = [&] {
                writeFile(name(1), "alma 1\r\n");
                return vanished == 1;
            };
        }
        run.search(SearchText(u"alma"_s, true, MatchMode::Anywhere), vanished < 0);
        QFETCH(QList<int>, after);
        QVERIFY(run.files.entryName(-1).isEmpty() && run.files.entryName(run.files.entryCount()).isEmpty());
        QStringList hits;
        for (int k = 0; k < run.files.entryCount(); ++k) {
            QCOMPARE(run.files.isEntrySelected(k), after.contains(k));
            if (after.contains(k) && (k != 1 || vanished != 0))
                hits += block(name(k)) << u"alma %1"_s.arg(k);
        }
        QCOMPARE(run.rows.rows, hits);
        QCOMPARE(run.errors.paths, vanished < 0 ? QStringList() : QStringList{name(1)});
        QCOMPARE(run.errors.codes, vanished < 0 ? QList<int>() : QList<int>{ENOENT});
        QCOMPARE(run.state.filePath, after.isEmpty() ? QString() : name(after.last()));
        QCOMPARE(run.state.lineText, after.isEmpty() ? QString() : u"alma %1"_s.arg(after.last()));
    }

    // One file searched in both modes and replaced in, against plain models; `only` is the selected row.
    void passes_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("caseSensitive");
        QTest::addColumn<QString>("replacement");
        QTest::addColumn<QString>("only");
        const auto row = [](const char* name, const QByteArray& content, const char* text, bool caseSensitive,
                            const char* replacement = "Q", const char* only = nullptr) {
            QTest::addRow("%s", name)
                << content << QString::fromUtf8(text) << caseSensitive << QString::fromUtf8(replacement)
                << (only ? QString::fromUtf8(only) : QString());
        };
        row("text at the LF of a CR LF", "ab\r\nb\r\n\nb\r\n", "\nb", true);
        row("star line", "*note\r\n", "note", true);
        row("empty file", "", "a", true);
        row("empty replacement deletes", "hello\r\n", "lo", true, "");
        row("NUL bytes kept", QByteArray("a\0b\r\n\0ab", 8), "ab", true);
        row("windows-1250 folded", "\xC1RV\xCDZT\xDBR\xD5\r\nt\xFBz\r\n", "árvíz", false);
        // The whole file tells the code page of the last line, which alone would pass for UTF-8.
        row("not in windows-1250", "\xE9\r\nЖ\r\n", "Ж", true);
        // UTF-8 past the first read, then Windows-1250: the copy is written again, the ASCII hits stand.
        row("turns windows-1250 late",
            "\xC5\x91sz\r\n" + QByteArray("\xC5\x91\r\n").repeated(100000) + "\xF5sz\r\n", "sz", true, "ő");
        row("replacement the code page lacks", "ab \xE9\r\n", "ab", true, "中");
        row("... with nothing to replace", "cd \xE9\r\n", "ab", true, "中");
        row("selected row, occurrence at the end", "x abc\r\n", "abc", true, "Q", "x abc");
        row("selected row compared with its case", "abc def\r\nABC DEF\r\n", "ABC", false, "Q", "abc def");
        row("no row selected", "abc\r\n\r\n", "abc", true, "Q", "");
        row("selected row in Windows-1250", "abc \xF5\r\nabc\r\n", "abc", true, "Q", "abc ő");
        // Lines longer than the buffer, CR LF across reads; the last two turn Windows-1250 at the end.
        QRandomGenerator random(7);
        const QByteArray pieces[] = {"alma", "ALMA", "Álma", "körte", "áb",   "ÁB", "ábáb",  "x",
                                     " ",    "\n",   "\r",   "\r\n",  "\r\n", "b",  "\r\r\n"};
        for (int round = 0; round < 8; ++round) {
            QByteArray content;
            while (content.size() < 500000) {
                if (random.bounded(200) == 0)
                    content += QByteArray(random.bounded(1, 300000), 'y');
                content += pieces[random.bounded(int(std::size(pieces)))];
            }
            row(qPrintable(u"random %1"_s.arg(round)), round < 6 ? content : content + "\xE1\r\n",
                round % 4 < 2 ? "alma" : "áb", round % 2 == 0);
        }
    }
    void passes()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, text);
        QFETCH(bool, caseSensitive);
        QFETCH(QString, replacement);
        QFETCH(QString, only);
        Run run;
        const QString file = run.path(u"f.txt"_s);
        writeFile(file, content);
        const Copy found = plainCopy(content.toStdString(), text, text, caseSensitive); // a search's hits
        for (const MatchMode mode : {MatchMode::Anywhere, MatchMode::LineStart}) {
            const QStringList& hits = mode == MatchMode::Anywhere ? found.hits : found.starts;
            run.search(SearchText(text, caseSensitive, mode));
            QCOMPARE(run.rows.rows, hits.isEmpty() ? QStringList() : block(file) + hits);
            QCOMPARE(run.state.hitCount, hits.size());
            QCOMPARE(run.state.filePath, file);
            QCOMPARE(run.state.lineText, found.last);
            QCOMPARE(run.state.lineLen, found.last.size());
        }
        const auto selected = only.isNull() ? std::nullopt : std::optional(only);
        run.rows.clear(); // the selected-line replace keeps the rows
        run.replace(ReplaceText(text, replacement, caseSensitive), selected);
        const Copy expected = plainCopy(content.toStdString(), text, replacement, caseSensitive, selected);
        QCOMPARE(readFile(run.path(u"uj/f.txt"_s)),
                 expected.bytes ? QByteArray::fromStdString(*expected.bytes) : QByteArray("<none>"));
        QCOMPARE(run.rows.rows, block(run.path(u"uj/f.txt"_s)) + expected.rows);
        QCOMPARE(run.errors.messages.size(), expected.bytes ? 0 : 1);
        QVERIFY(run.errors.paths.isEmpty());
        // A file left out leaves the search's line.
        QCOMPARE(run.state.lineText, expected.bytes ? expected.lastCopied : found.last);
        QCOMPARE(run.state.lineLen, run.state.lineText.size());
    }

    // What stands at uj or uj/a.txt is never written through, no copy replaces a source, a copy cut
    // short leaves the earlier one until a complete one replaces it, and rows come from complete copies.
    void safeOutput_data()
    {
        QTest::addColumn<QByteArray>("setup"); // besides a.txt; see makeTree
        QTest::addColumn<int>("cut");          // a.txt too big for the file size limit: 1 skipped, 2 retried
        QTest::addColumn<bool>("written");     // uj/a.txt is the rewritten copy afterwards
        QTest::addColumn<QString>("message");  // the start of what the user is told, if anything
        QTest::addColumn<QString>("left");     // what uj holds afterwards, when it is a directory
        const QString over = u"A másolat felülírná"_s;
        const auto row = [](const char* name, const char* setup, bool written, const QString& message,
                            const char* left, int cut = 0) {
            QTest::newRow(name) << QByteArray(setup) << cut << written << message << QString::fromUtf8(left);
        };
        row("private, link at uj/a.txt", "private a.txt;file .o;dir uj;ln ../.o uj/a.txt", true, {}, "a.txt");
        // Only the temporary file of a killed run goes; the held one is a running replace's.
        row("existing uj kept",
            "dir uj;file uj/other;file uj/.kelvara-0123456789abcdef;file uj/.kelvara-held", true, {},
            ".kelvara-held a.txt other");
        row("source is a link into uj", "dir uj;file uj/a.txt;rm a.txt;ln uj/a.txt a.txt", false, over,
            "a.txt");
        row("source hard-linked in uj", "dir uj;hard a.txt uj/a.txt", false, over, "a.txt");
        row("copy cut short, skipped", "file b.txt;dir uj;file uj/a.txt", false, {}, "a.txt b.txt", 1);
        row("copy cut short, tried again", "file b.txt;dir uj", true, {}, "a.txt b.txt", 2);
        // The source fails at its first byte: the error names the source, not the copy.
        row("source unreadable", "rm a.txt;ln /proc/self/mem a.txt", false, {}, "", 3);
        row("FIFO named uj", "fifo uj", false, u"Az uj nem könyvtár, hanem FIFO,"_s, "");
        row("socket named uj", "socket uj", false, u"Az uj nem könyvtár, hanem socket,"_s, "");
    }
    void safeOutput()
    {
        QFETCH(int, cut);
        QFETCH(QString, message);
        QFETCH(QString, left);
        Run run;
        writeFile(run.path(u"a.txt"_s), cut ? QByteArray("a\r\n").repeated(100000) : "a\r\n");
        QFETCH(QByteArray, setup);
        makeTree(run.dir.path(), setup);
        Descriptor held(::open(QFile::encodeName(run.path(u"uj/.kelvara-held"_s)), O_RDWR | O_CLOEXEC));
        QVERIFY(!held.isOpen() || ::flock(held.get(), LOCK_EX) == 0);
        const QString copy = run.path(u"uj/a.txt"_s);
        const QByteArray earlier = readFile(copy), copied = readFile(run.path(u"a.txt"_s)).replace('a', 'b');
        std::optional<FileSizeLimit> limit;
        QVERIFY(!cut || limit.emplace(4096).active);
        run.errors.answer = [&] { return cut == 2 && limit->lift(); };
        run.replace(ReplaceText(u"a"_s, u"b"_s, true));
        limit.reset();
        QFETCH(bool, written);
        QCOMPARE(readFile(copy), written ? copied : earlier);
        QCOMPARE(run.rows.rows.count(u"b"_s),
                 readFile(copy).count("b\r\n") + readFile(run.path(u"uj/b.txt"_s)).count("b\r\n"));
        // Never more open than the source.
        QVERIFY(!written || QFileInfo(copy).permissions() == QFileInfo(run.path(u"a.txt"_s)).permissions());
        QCOMPARE(run.errors.messages.size(), message.isEmpty() ? 0 : 1);
        QVERIFY(message.isEmpty() || run.errors.messages[0].startsWith(message));
        QCOMPARE(run.errors.paths, QStringList{cut == 3 ? run.path(u"a.txt"_s) : copy}.mid(0, cut ? 1 : 0));
        QCOMPARE(run.entries(u"uj"_s), left.split(u' ', Qt::SkipEmptyParts));
    }

    // Copies written in the background bring header blocks, rows and errors in the order of copies
    // written one by one; a link read after the copy it leads to reads that copy. A caller that only
    // commits waits after a file its workers left to it (f12) for the next to be written (f13).
    void backgroundKeepsTheOrder_data()
    {
        QTest::addColumn<bool>("commitsOnly");
        QTest::newRow("in the background") << false;
        QTest::newRow("caller only commits") << true;
    }
    void backgroundKeepsTheOrder()
    {
        QFETCH(bool, commitsOnly);
        Run run(2);
        const auto name = [](int k) { return u"f%1"_s.arg(k, 2, 10, QChar(u'0')); };
        for (int k = 0; k < 24; ++k)
            writeFile(run.path(name(k)), "alma " + QByteArray::number(k) + "\r\nkorte\r\n");
        writeFile(run.path(u"f07"_s), "alma \xe1rv\xedz\r\n"); // Windows-1250, which has no Ж
        // Windows-1250 found late, after much of it went to be written: given up, nothing left in uj.
        writeFile(run.path(u"f99"_s), QByteArray(98, 'x').append("\r\n").repeated(3000) + "alma \xe1\r\n");
        // No copy replaces a directory; the link f04 leads to the copy of f03.
        makeTree(run.dir.path(), "dir uj;dir uj/f12;file uj/f03;rm f04;ln uj/f03 f04");
        run.control.callerCommitsOnly = commitsOnly;
        runBeforeOpening(commitsOnly ? +[](const char* name) {
            if (std::string_view(name) == "f13")
                waitForOtherThreadsToSleep();
        } : nullptr);
        run.errors.log = &run.rows;
        // The copy of f03 stands only once the files after it, the link f04 among them, were read.
        run.rows.hook = [&](std::string_view row, int) {
            if (row.starts_with("**  ") && row.ends_with("f03  **"))
                waitUntilRead(run.control, 8);
        };
        // Not through run.replace(): the source f04 reads its copy's target, which changes.
        replaceInAllFiles(run.files, ReplaceText(u"alma"_s, u"RETЖ"_s, true), run.state, run.rows, run.errors,
                          &run.control);
        runBeforeOpening(nullptr);

        const QString unencodable =
            u"A csereszöveg egyik karaktere nem írható le ennek a fájlnak a kódlapján, ezért a fájl kimarad:"_s;
        QStringList expected;
        QByteArray copies;
        for (int k = 0; k < 24; ++k) {
            const QString copy = run.path(u"uj/"_s + name(k));
            const QByteArray bytes = "RETЖ " + QByteArray::number(k == 4 ? 3 : k) + "\r\nkorte\r\n";
            expected += block(copy);
            if (k == 7 || k == 12) {
                expected += k == 7 ? unencodable : u"error "_s + copy;
                continue;
            }
            if (k != 4) // the copy of f03 that the link leads to has nothing to replace
                expected += QString::fromUtf8(bytes.split('\r')[0]);
            copies += QFile::encodeName(name(k)) + '\0' + bytes + '\0';
        }
        expected += block(run.path(u"uj/f99"_s)) << unencodable;
        QCOMPARE(run.rows.rows, expected);
        QCOMPARE(fingerprint(run.path(u"uj"_s)), copies);
    }

    // uj and a link to the working directory swap places while copies are written: none lands on a source.
    void ujSwappedMeanwhile()
    {
        Run run;
        run.writeFiles(300);
        makeTree(run.dir.path(), "dir uj;ln . ujx");
        Descriptor fd;
        QVERIFY(!openDirectory(run.dir.path(), fd));
        std::jthread swapper([&](std::stop_token stop) {
            while (!stop.stop_requested())
                ::renameat2(fd.get(), "uj", fd.get(), "ujx", RENAME_EXCHANGE);
        });
        int written = 0;
        for (int k = 0; k < 100 && written < 4; ++k) {
            run.errors = {};
            run.replace(ReplaceText(u"alma"_s, u"HACKED"_s, true));
            written += run.errors.messages.isEmpty() && run.errors.paths.isEmpty();
        }
        QVERIFY(written > 0); // some runs find the link at uj and refuse
    }

    // A pass stopped, or ended by its sink, at file k of 8: exactly the files before it (and k, when stopped)
    // are handed out and selected, and uj holds their copies alone, though later files were read and written
    // meanwhile. A sink out of memory for k's rows costs k its rows alone; copies a window's workers named
    // ahead stand, with their rows, when the stop follows; files read ahead hold no more rows than the limit.
    void cutShort_data()
    {
        QTest::addColumn<bool>("replace");
        QTest::addColumn<int>("threads");
        QTest::addColumn<bool>("unnamed"); // copies written as files without a name
        // 0 stops, 1 throws, 2 stops once all copies stand, 3 lacks memory, 4 holds one file's rows at most
        QTest::addColumn<int>("fault");
        QTest::addColumn<bool>("commitsOnly");
        QTest::newRow("search, three threads") << false << 3 << true << 0 << false;
        QTest::newRow("replace, one thread") << true << 1 << true << 0 << false;
        QTest::newRow("replace, named temporaries") << true << 3 << false << 0 << false;
        QTest::newRow("replace, sink throws") << true << 3 << false << 1 << false;
        QTest::newRow("search, sink out of memory") << false << 3 << true << 3 << false;
        QTest::newRow("replace, sink out of memory") << true << 3 << true << 3 << false;
        QTest::newRow("search, caller only commits") << false << 2 << true << 0 << true;
        QTest::newRow("replace, caller only commits") << true << 2 << true << 2 << true;
        QTest::newRow("search, held rows bounded") << false << 1 << true << 4 << true;
        QTest::newRow("replace, held rows bounded") << true << 1 << true << 4 << true;
    }
    void cutShort()
    {
        QFETCH(bool, replace);
        QFETCH(int, threads);
        QFETCH(int, fault);
        QFETCH(bool, unnamed);
        QFETCH(bool, commitsOnly);
        constexpr int Stop = 3;
        Run run(threads);
        run.writeFiles(8);
        run.control.callerCommitsOnly = commitsOnly;
        // More than one file's row and its LF ("x 0", "alma 0"): with its last line, kept for the state,
        // they stop the reading ahead.
        if (fault == 4)
            run.control.heldBytesLimit = replace ? 5 : 8;
        run.rows.hook = [&, failed = false](std::string_view row, int file) mutable {
            if (fault == 3 && row.ends_with(" 3") && !std::exchange(failed, true))
                throw std::bad_alloc();
            if (fault == 4 && row.starts_with("**  ") && file == 0) {
                waitForOtherThreadsToSleep(); // the worker waits, having read f0 alone
                QCOMPARE(run.control.filesRead.load(), 1);
            }
            if (fault <= 2 && row.starts_with("**  ") && file == Stop) {
                waitUntilRead(run.control, 8); // files ahead are read meanwhile, and their copies written
                QCOMPARE(run.control.pathOf(size_t(file)), run.path(u"f%1"_s.arg(file))); // for the pulse
                while (fault == 2 && run.entries(u"uj"_s).size() < 8)
                    std::this_thread::yield();
                if (fault == 1)
                    throw std::runtime_error("sink");
                run.control.stopRequested = true;
            }
        };
        allowUnnamedFiles(unnamed);
        try {
            replace ? run.replace(ReplaceText(u"alma"_s, u"x"_s, true))
                    : run.search(SearchText(u"alma"_s, true, MatchMode::Anywhere));
            QVERIFY(fault != 1);
        } catch (const std::runtime_error&) {
            QVERIFY(fault == 1);
        }
        allowUnnamedFiles(true);
        const int handedOut = fault == 0 ? Stop + 1 : fault == 1 ? Stop : 8;
        const auto path = [&](int k) { return run.path((replace ? u"uj/f%1"_s : u"f%1"_s).arg(k)); };
        QStringList expected, copies;
        for (int k = 0; k < handedOut; ++k) {
            expected += block(path(k));
            if (fault != 3 || k != Stop)
                expected += (replace ? u"x %1"_s : u"alma %1"_s).arg(k);
            copies += u"f%1"_s.arg(k);
        }
        if (fault == 1) // the first row of the header block that threw
            expected += QString(150, u'*');
        QCOMPARE(run.rows.rows, expected);
        QCOMPARE(run.files.selectedEntryCount(), fault >= 2 ? 8 : Stop + 1);
        QCOMPARE(run.entries(u"uj"_s), replace ? copies : QStringList());
        QCOMPARE(run.errors.paths, fault == 3 ? QStringList{path(Stop)} : QStringList());
        QCOMPARE(run.state.hitCount, replace ? 0 : handedOut - (fault == 3));
    }

    // A file short of memory only for the rows held before its turn is read again alone at its turn;
    // one too long for the memory even alone gives up its own file, with a message, and no other.
    void lineLongerThanTheMemory_data()
    {
        QTest::addColumn<bool>("replace");
        QTest::newRow("replace") << true;
        QTest::newRow("search") << false;
    }
    void lineLongerThanTheMemory()
    {
        QFETCH(bool, replace);
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
        QSKIP("the sanitizers reserve more address space than any limit would leave");
#endif
        constexpr qint64 Line = 32 << 20, Budget = 34 << 20;
        Run run(2);
        // 1 holds 12 MB of rows; 2 and 3 are sparse, a line of NUL bytes, then "alma".
        writeFile(run.path(u"0"_s), "alma\r\n");
        writeFile(run.path(u"1"_s), ("alma " + QByteArray(95, 'r') + "\r\n").repeated(120000));
        for (const auto& [name, size] : {std::pair{u"2"_s, Line}, std::pair{u"3"_s, 4 * Line}}) {
            QFile f(run.path(name));
            QVERIFY(f.open(QIODevice::WriteOnly) && f.seek(size) && f.write("\r\nalma\r\n") == 8);
        }
        for (int k = 0; k < 100; ++k) // some taken only once 2 was written again alone
            writeFile(run.path(u"4%1"_s.arg(k, 2, 10, QChar(u'0'))), "alma\r\n");
        run.control.heldBytesLimit = size_t(1) << 30;
        // The first file's rows go out once files 1 and 2 were read, so 2 is read beside 1's rows.
        run.rows.hook = [&](std::string_view row, int) {
            run.rows.rows.clear(); // the child has no memory for them
            if (row.starts_with("**  "))
                waitUntilRead(run.control, 3);
        };
        QVERIFY(shortOfMemory(run, replace, Budget, [&] {
            if (!replace) // a search asks about 3, and is answered no; the other files' hits all count
                return run.errors.paths == QStringList{run.path(u"3"_s)} && run.state.hitCount == 120102;
            return run.errors.messages.size() == 1 && run.errors.paths.isEmpty() &&
                   run.errors.messages[0].startsWith(u"Nincs elég memória"_s) &&
                   run.errors.messages[0].endsWith(run.path(u"3"_s));
        }));
        if (!replace)
            return;
        QCOMPARE(QFileInfo(run.path(u"uj/2"_s)).size(), Line + 5);
        const QStringList copies = run.entries(u"uj"_s);
        QVERIFY(copies.size() == 103 && copies.mid(0, 3) == QStringList({u"0"_s, u"1"_s, u"2"_s}));
    }

    // A last line that fits in the memory as it stands in its file, but not decoded beside that, leaves
    // the state's line empty once every file is done.
    void lastLineShortOfMemory_data()
    {
        lineLongerThanTheMemory_data();
    }
    void lastLineShortOfMemory()
    {
        QFETCH(bool, replace);
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
        QSKIP("the sanitizers reserve more address space than any limit would leave");
#endif
        constexpr qint64 Line = 64 << 20;
        Run run(2);
        writeFile(run.path(u"f"_s), QByteArray(Line, 'r'));
        // Reading the line takes 1.125 times its size and keeping it once more; decoding it twice more.
        QVERIFY(shortOfMemory(run, replace, Line * 5 / 2, [&] {
            return run.errors.paths.isEmpty() && run.errors.messages.isEmpty() &&
                   run.state.lineText.isEmpty();
        }));
    }

private:
    // Runs the command on all files in a child process that may use `budget` bytes (and a worker's
    // stack) more than it does at its start; whether `check` holds there afterwards.
    static bool shortOfMemory(Run& run, bool replace, qint64 budget, const std::function<bool()>& check)
    {
        constexpr qint64 Stack = 9 << 20; // a worker thread's stack
        const pid_t child = ::fork();
        if (child == 0) {
            ::mallopt(M_ARENA_MAX, 1); // no arena of its own for the worker: the limit counts it
            const qint64 used = readFile(u"/proc/self/statm"_s).split(' ')[0].toLongLong() * ::getpagesize();
            const struct rlimit limit = {rlim_t(used + Stack + budget), RLIM_INFINITY};
            if (used <= 0 || ::setrlimit(RLIMIT_AS, &limit) != 0)
                ::_exit(2);
            try { // not to the test's own handler: the child has no watchdog to end with
                // Not through run.replace(): it reads the sources.
                if (replace)
                    replaceInAllFiles(run.files, ReplaceText(u"alma"_s, u"x"_s, true), run.state, run.rows,
                                      run.errors, &run.control);
                else
                    searchAllFiles(run.files, SearchText(u"alma"_s, true, MatchMode::Anywhere), run.state,
                                   run.rows, run.errors, &run.control);
                ::_exit(check() ? 0 : 1);
            } catch (...) {
                ::_exit(3);
            }
        }
        int status = 0;
        return ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
};

QTEST_APPLESS_MAIN(TestEngine)
#include "tst_engine.moc"
