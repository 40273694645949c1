// The search pass and the search commands on real files, without a window.

#include "search/searchcommands.h"
#include "support/files.h"
#include "support/rows.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <functional>

using namespace kelvara;
using namespace kelvara::test;

namespace {

// Answers the first file error with `answer` (a retry when it says so), later ones with no.
struct ScriptedErrors : FileErrorHandler
{
    bool retry(const FileError&, const QString& path) override
    {
        paths.append(path);
        return answer && std::exchange(answer, nullptr)();
    }
    std::function<bool()> answer;
    QStringList paths;
};

} // namespace

class TestSearchPass : public QObject
{
    Q_OBJECT

private slots:
    void searchFile_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("caseSensitive");
        QTest::addColumn<bool>("lineStart");
        QTest::addColumn<QString>("hits"); // joined by |
        QTest::addColumn<QString>("lastLine");
        const auto row = [](const char* name, const QByteArray& content, const char* text, bool caseSensitive,
                            bool lineStart, const char* hits, const char* lastLine) {
            QTest::newRow(name) << content << QString::fromUtf8(text) << caseSensitive << lineStart
                                << QString::fromUtf8(hits) << QString::fromUtf8(lastLine);
        };
        row("crlf, final crlf", "a1\r\nb\r\na2\r\n", "a", true, false, "a1|a2", "a2");
        row("line start, blanks", "  foo\r\nfoo  \r\n", "foo", true, true, "foo  ", "foo  ");
        row("text does not reach into the crlf", "ab\r\n\nb\r\n", "\nb", true, false, "\nb", "\nb");
        row("empty lines only", "\r\n\r\n", "x", true, false, "", "");
        row("star line is a hit", "*note\r\n", "note", true, false, "*note", "*note");
        row("utf-8 folded", "ÁRVÍZTŰRŐ\r\nárvíz\r\n", "Árvíz", false, false, "ÁRVÍZTŰRŐ|árvíz", "árvíz");
        row("windows-1250 folded", "\xC1RV\xCDZT\xDBR\xD5\r\nt\xFBz\r\n", "árvíz", false, false, "ÁRVÍZTŰRŐ",
            "tűz");
        row("windows-1250 ascii text", "k\xF6rte alma\r\nszilva\r\n", "alma", true, false, "körte alma",
            "szilva");
        // The first lines are valid UTF-8 and hold the text as UTF-8 would write it; the last byte
        // makes the file Windows-1250, where the same line reads differently and has no hit.
        row("turns windows-1250 late", "\xC5\x91sz\r\n" + QByteArray(300000, 'x') + "\r\n\xF5sz\r\n", "ősz",
            true, false, "ősz", "ősz");
        row("not in windows-1250", "\xE9\r\nЖ\r\n", "Ж", true, false, "", "Đ–");
        row("crlf across the first read",
            QByteArray(qsizetype(LineBlockReader::InitialBufferSize) - 1, 'x') + "\r\nalma\r\n", "alma", true,
            false, "alma", "alma");
        // Only the whole file tells: its last line alone would pass for UTF-8.
        row("last line by the file's code page", "\xE9\r\n\xC5\x91\r\n", "zzz", true, false, "",
            "\u0139\u2018");
        row("empty file", "", "a", true, false, "", "<none>");
    }
    void searchFile()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, text);
        QFETCH(bool, caseSensitive);
        QFETCH(bool, lineStart);
        QFETCH(QString, hits);
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
        const QStringList lines = hits.split(u'|', Qt::SkipEmptyParts);
        QCOMPARE(rows.rows,
                 lines.isEmpty() ? QStringList() : block(dir.filePath(QStringLiteral("f.txt"))) + lines);
        QCOMPARE(state.hitCount, 5 + lines.size());
        QTEST(state.lineText, "lastLine");
    }

    // Large files of random lines, so that lines and CR LF pairs fall across every read boundary:
    // the hits must be exactly the lines that hold the text.
    void largeFilesAgreeWithPlainSplitting()
    {
        QTemporaryDir dir;
        QRandomGenerator random(7);
        const QByteArray pieces[] = {"alma", "ALMA", "x", " ", "\n", "\r", "\r\n", "\r\n", "körte", "Álma"};
        for (int round = 0; round < 8; ++round) {
            QByteArray content;
            while (content.size() < 700000) {
                if (random.bounded(200) == 0)
                    content += QByteArray(random.bounded(1, 300000), 'y'); // a line longer than the buffer
                content += pieces[random.bounded(int(std::size(pieces)))];
            }
            writeFile(dir.filePath(QStringLiteral("big.txt")), content);
            const std::string bytes = content.toStdString();
            const bool caseSensitive = round % 2 == 0;
            const SearchText search(QStringLiteral("alma"), caseSensitive, MatchMode::Anywhere);
            SearchPass pass(search);
            MainState state;
            Rows rows;
            QCOMPARE(pass.searchFile(dir.path(), QStringLiteral("big.txt"), state, rows), std::nullopt);
            QStringList expected;
            for (const std::string_view line : splitLines(bytes))
                if (isHitLine(QString::fromUtf8(line), QStringLiteral("alma"), caseSensitive,
                              MatchMode::Anywhere))
                    expected.append(QString::fromUtf8(line));
            QCOMPARE(rows.rows.mid(3), expected);
            QCOMPARE(state.hitCount, expected.size());
        }
    }

    // Which files the search in the selected files visits: every entry but the last selected stands
    // for all of them, and the list is read again.
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
        const QString b = dir.filePath(QStringLiteral("b.txt"));
        // The search reads the list again itself; b goes away between that and its reading.
        struct Vanishing : ListedFiles
        {
            using ListedFiles::ListedFiles;
            std::optional<FileError> reread() override
            {
                auto error = ListedFiles::reread();
                QFile::remove(removed);
                return error;
            }
            QString removed;
        } vanishing(dir.path());
        vanishing.removed = b;
        ScriptedErrors errors;
        errors.answer = [&] {
            writeFile(b, "hit again\r\n");
            return retry;
        };
        MainState state;
        Rows rows;
        searchAllFiles(vanishing, SearchText(QStringLiteral("hit"), true, MatchMode::Anywhere), state, rows,
                       errors);
        QCOMPARE(errors.paths, QStringList{b});
        QCOMPARE(rows.rows,
                 block(dir.filePath(QStringLiteral("a.txt"))) + QStringList{QStringLiteral("hit")} +
                     (retry ? block(b) + QStringList{QStringLiteral("hit again")} : QStringList()) +
                     block(dir.filePath(QStringLiteral("c.txt"))) + QStringList{QStringLiteral("hit")});
        QCOMPARE(state.hitCount, retry ? 3 : 2);
        for (int k = 0; k < vanishing.entryCount(); ++k)
            QVERIFY(vanishing.isEntrySelected(k)); // the search in all files selects every entry
    }
};

QTEST_APPLESS_MAIN(TestSearchPass)
#include "tst_searchpass.moc"
