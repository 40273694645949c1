// The search pass and the search commands on real files, without a window.

#include "search/headerblock.h"
#include "search/searchcommands.h"
#include "support/files.h"
#include "support/rows.h"

#include <QDir>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <functional>

using namespace kelvara;
using kelvara::test::block;
using kelvara::test::Rows;
using kelvara::test::writeFile;

namespace {

// Answers file errors from a list (false once it is used up) and records the paths asked about.
class ScriptedErrors : public FileErrorHandler
{
public:
    explicit ScriptedErrors(QList<std::function<bool()>> answers = {}) : answers_(std::move(answers)) {}
    bool retry(const FileError&, const QString& path) override
    {
        paths.append(path);
        return answers_.isEmpty() ? false : answers_.takeFirst()();
    }
    QStringList paths;

private:
    QList<std::function<bool()>> answers_;
};

// The lines of a file by the line rule, the plain way.
QList<QByteArray> splitLines(const QByteArray& bytes)
{
    QList<QByteArray> lines;
    qsizetype start = 0;
    while (start < bytes.size()) {
        qsizetype cr = bytes.indexOf('\r', start);
        if (cr < 0) {
            lines.append(bytes.mid(start));
            break;
        }
        lines.append(bytes.mid(start, cr - start));
        start = cr + 1 < bytes.size() && bytes[cr + 1] == '\n' ? cr + 2 : cr + 1;
    }
    return lines;
}

} // namespace

class TestSearchPass : public QObject
{
    Q_OBJECT

private slots:
    void headerBlock_data()
    {
        QTest::addColumn<QString>("marker");
        QTest::addColumn<QString>("named");
        QTest::newRow("search") << QStringLiteral("ak") << QStringLiteral("/in/a.txt");
        QTest::newRow("selected line") << QStringLiteral("ujak") << QStringLiteral("/in/uj/a.txt");
        QTest::newRow("no command yet") << QString() << QStringLiteral("/in/uj/a.txt");
    }
    void headerBlock()
    {
        QFETCH(QString, marker);
        QFETCH(QString, named);
        MainState state;
        state.modeMarker = marker;
        state.filePath = QStringLiteral("/in/a.txt");
        state.outFilePath = QStringLiteral("/in/uj/a.txt");
        Rows rows;
        appendHeaderBlock(state, rows);
        appendHeaderBlock(state, rows); // the second call's star rows are 150 long again
        QCOMPARE(rows.rows, block(named) + block(named));
        QVERIFY(state.starRow.isEmpty());
    }

    void emptyOutputPathGivesBareHeader()
    {
        MainState state;
        Rows rows;
        appendHeaderBlock(state, rows);
        QCOMPARE(rows.rows.value(1), QStringLiteral("**    **"));
    }

    void searchFile_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("caseSensitive");
        QTest::addColumn<bool>("lineStart");
        QTest::addColumn<QStringList>("hits");
        QTest::addColumn<QString>("lastLine");
        const auto lines = [](std::initializer_list<const char*> l) {
            QStringList list;
            for (const char* s : l)
                list.append(QString::fromUtf8(s));
            return list;
        };
        QTest::newRow("crlf, final crlf")
            << QByteArray("a1\r\nb\r\na2\r\n") << "a" << true << false << lines({"a1", "a2"}) << "a2";
        QTest::newRow("lf only is one line")
            << QByteArray("a1\nb\na2\n") << "b" << true << false << lines({"a1\nb\na2\n"}) << "a1\nb\na2\n";
        QTest::newRow("cr only") << QByteArray("x\ry\rxx") << "x" << true << false << lines({"x", "xx"})
                                 << "xx";
        QTest::newRow("three in a line count once") << QByteArray("foo foo foo\r\n") << "foo" << true << false
                                                    << lines({"foo foo foo"}) << "foo foo foo";
        QTest::newRow("own case kept") << QByteArray("ALMA\r\nalma\r\n") << "Alma" << false << false
                                       << lines({"ALMA", "alma"}) << "alma";
        QTest::newRow("line start, blanks")
            << QByteArray("  foo\r\nfoo  \r\n") << "foo" << true << true << lines({"foo  "}) << "foo  ";
        QTest::newRow("text does not reach into the crlf")
            << QByteArray("ab\r\n\nb\r\n") << "\nb" << true << false << lines({"\nb"}) << "\nb";
        QTest::newRow("empty lines only")
            << QByteArray("\r\n\r\n") << "x" << true << false << QStringList() << "";
        QTest::newRow("star line is a hit")
            << QByteArray("*note\r\n") << "note" << true << false << lines({"*note"}) << "*note";
        QTest::newRow("utf-8 folded") << QByteArray("ÁRVÍZTŰRŐ\r\nárvíz\r\n") << "Árvíz" << false << false
                                      << lines({"ÁRVÍZTŰRŐ", "árvíz"}) << "árvíz";
        QTest::newRow("windows-1250 folded") << QByteArray("\xC1RV\xCDZT\xDBR\xD5\r\nt\xFBz\r\n") << "árvíz"
                                             << false << false << lines({"ÁRVÍZTŰRŐ"}) << "tűz";
        QTest::newRow("windows-1250 ascii text") << QByteArray("k\xF6rte alma\r\nszilva\r\n") << "alma"
                                                 << true << false << lines({"körte alma"}) << "szilva";
        // The first lines are valid UTF-8 and hold the text as UTF-8 would write it; the last byte
        // makes the file Windows-1250, where the same line reads differently and has no hit.
        QTest::newRow("turns windows-1250 late")
            << QByteArray("\xC5\x91sz\r\n") + QByteArray(300000, 'x') + "\r\n\xF5sz\r\n"
            << "ősz" << true << false << lines({"ősz"}) << "ősz";
        QTest::newRow("not in windows-1250")
            << QByteArray("\xE9\r\nЖ\r\n") << "Ж" << true << false << QStringList() << "Đ–";
        QTest::newRow("crlf across the first read")
            << QByteArray(qsizetype(LineBlockReader::InitialBufferSize) - 1, 'x') + "\r\nalma\r\n"
            << "alma" << true << false << lines({"alma"}) << "alma";
        // Only the whole file tells: its last line alone would pass for UTF-8.
        QTest::newRow("last line by the file's code page")
            << QByteArray("\xE9\r\n\xC5\x91\r\n") << "zzz" << true << false << QStringList()
            << QString::fromUtf8("\u0139\u2018");
        QTest::newRow("empty file") << QByteArray() << "a" << true << false << QStringList() << "<none>";
    }
    void searchFile()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, text);
        QFETCH(bool, caseSensitive);
        QFETCH(bool, lineStart);
        QFETCH(QStringList, hits);
        QFETCH(QString, lastLine);
        QTemporaryDir dir;
        writeFile(dir.filePath(QStringLiteral("f.txt")), content);
        const SearchText search(text, caseSensitive, lineStart ? MatchMode::LineStart : MatchMode::Anywhere);
        SearchPass pass(search);
        MainState state;
        state.modeMarker = QStringLiteral("ak");
        state.hitCount = 5;
        state.lineText = QStringLiteral("<none>");
        Rows rows;
        QCOMPARE(pass.searchFile(dir.path(), QStringLiteral("f.txt"), state, rows), std::nullopt);
        const QString path = dir.filePath(QStringLiteral("f.txt"));
        QCOMPARE(rows.rows, hits.isEmpty() ? QStringList() : block(path) + hits);
        QCOMPARE(state.hitCount, 5 + hits.size());
        QCOMPARE(state.filePath, path);
        QCOMPARE(state.lineText, lastLine);
        QCOMPARE(state.searchLen, text.size());
    }

    // Large files of random lines, so that lines and CR LF pairs fall across every read boundary:
    // the hits must be exactly the lines that hold the text.
    void largeFilesAgreeWithPlainSplitting()
    {
        QTemporaryDir dir;
        QRandomGenerator random(7);
        const QByteArray pieces[] = {"alma", "ALMA", "x", " ", "\n", "\r", "\r\n", "\r\n", "körte", "Álma"};
        for (int round = 0; round < 4; ++round) {
            QByteArray content;
            while (content.size() < 700000) {
                if (random.bounded(200) == 0)
                    content += QByteArray(random.bounded(1, 300000), 'y'); // a line longer than the buffer
                content += pieces[random.bounded(int(std::size(pieces)))];
            }
            writeFile(dir.filePath(QStringLiteral("big.txt")), content);
            for (const bool caseSensitive : {true, false}) {
                const SearchText search(QStringLiteral("alma"), caseSensitive, MatchMode::Anywhere);
                SearchPass pass(search);
                MainState state;
                Rows rows;
                QCOMPARE(pass.searchFile(dir.path(), QStringLiteral("big.txt"), state, rows), std::nullopt);
                QStringList expected;
                for (const QByteArray& line : splitLines(content)) {
                    const QString decoded = QString::fromUtf8(line);
                    if (isHitLine(decoded, QStringLiteral("alma"), caseSensitive, MatchMode::Anywhere))
                        expected.append(decoded);
                }
                QCOMPARE(rows.rows.mid(3), expected);
                QCOMPARE(state.hitCount, expected.size());
            }
        }
    }

    void normalizeSelection_data()
    {
        QTest::addColumn<int>("entries");
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<QList<int>>("after");
        QTest::newRow("0 and 2 of 3") << 3 << QList<int>{0, 2} << QList<int>{0, 2};
        QTest::newRow("0 and 1 of 3") << 3 << QList<int>{0, 1} << QList<int>{0};
        QTest::newRow("all of 3") << 3 << QList<int>{0, 1, 2} << QList<int>{0};
        QTest::newRow("none of 3") << 3 << QList<int>{} << QList<int>{};
        QTest::newRow("only the last") << 3 << QList<int>{2} << QList<int>{2};
        QTest::newRow("single, unselected") << 1 << QList<int>{} << QList<int>{0};
        QTest::newRow("single, selected") << 1 << QList<int>{0} << QList<int>{0};
        QTest::newRow("empty list") << 0 << QList<int>{} << QList<int>{};
    }
    void normalizeSelection()
    {
        QFETCH(int, entries);
        QFETCH(QList<int>, selected);
        QFETCH(QList<int>, after);
        QTemporaryDir dir;
        for (int k = 0; k < entries; ++k)
            writeFile(dir.filePath(QStringLiteral("f%1.txt").arg(k)), "hit\r\n");
        ListedFiles files(dir.path());
        QCOMPARE(files.reread(), std::nullopt);
        for (const int k : selected)
            files.setEntrySelected(k, true);
        ScriptedErrors errors;
        kelvara::normalizeSelection(files, errors);
        QList<int> result;
        for (int k = 0; k < files.entryCount(); ++k)
            if (files.isEntrySelected(k))
                result.append(k);
        QCOMPARE(result, after);

        // The search in the selected files searches exactly those.
        MainState state;
        Rows rows;
        for (const int k : selected)
            files.setEntrySelected(k, true);
        searchSelectedFiles(files, SearchText(QStringLiteral("hit"), true, MatchMode::Anywhere), state, rows,
                            errors);
        QCOMPARE(state.hitCount, after.size());
        QCOMPARE(state.modeMarker, QStringLiteral("ak"));
    }

    // A file that vanished after listing goes to the handler: given up, the others are still
    // searched; tried again once it is back, it is searched in its place.
    void vanishedFile_data()
    {
        QTest::addColumn<bool>("retry");
        QTest::newRow("cancel") << false;
        QTest::newRow("retry after it is back") << true;
    }
    void vanishedFile()
    {
        QFETCH(bool, retry);
        QTemporaryDir dir;
        for (const char* name : {"a.txt", "b.txt", "c.txt"})
            writeFile(dir.filePath(QLatin1String(name)), "hit\r\n");
        // The search reads the list again itself; b goes away between that and its reading.
        class Vanishing : public ListedFiles
        {
        public:
            using ListedFiles::ListedFiles;
            std::optional<FileError> reread() override
            {
                auto error = ListedFiles::reread();
                if (!removed.isEmpty())
                    QFile::remove(removed);
                return error;
            }
            QString removed;
        } vanishing(dir.path());
        vanishing.removed = dir.filePath(QStringLiteral("b.txt"));
        ScriptedErrors errors({[&] {
            if (retry)
                writeFile(dir.filePath(QStringLiteral("b.txt")), "hit again\r\n");
            return retry;
        }});
        MainState state;
        Rows rows;
        searchAllFiles(vanishing, SearchText(QStringLiteral("hit"), true, MatchMode::Anywhere), state, rows,
                       errors);
        QCOMPARE(errors.paths, QStringList{dir.filePath(QStringLiteral("b.txt"))});
        QStringList expected =
            block(dir.filePath(QStringLiteral("a.txt"))) + QStringList{QStringLiteral("hit")};
        if (retry)
            expected +=
                block(dir.filePath(QStringLiteral("b.txt"))) + QStringList{QStringLiteral("hit again")};
        expected += block(dir.filePath(QStringLiteral("c.txt"))) + QStringList{QStringLiteral("hit")};
        QCOMPARE(rows.rows, expected);
        QCOMPARE(state.hitCount, retry ? 3 : 2);
        for (int k = 0; k < vanishing.entryCount(); ++k)
            QVERIFY(vanishing.isEntrySelected(k)); // the search in all files selects every entry
    }
};

QTEST_APPLESS_MAIN(TestSearchPass)
#include "tst_searchpass.moc"
