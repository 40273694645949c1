// The search pass and the search commands on real files, without a window.

#include "search/searchcommands.h"
#include "support/files.h"
#include "support/rows.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

using namespace kelvara;
using namespace kelvara::test;

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
                            bool lineStart, const QByteArray& hits, const QByteArray& lastLine) {
            QTest::addRow("%s", name) << content << QString::fromUtf8(text) << caseSensitive << lineStart
                                      << QString::fromUtf8(hits) << QString::fromUtf8(lastLine);
        };
        row("line start, blanks", "  foo\r\nfoo  \r\n", "foo", true, true, "foo  ", "foo  ");
        row("text does not reach into the crlf", "ab\r\n\nb\r\n", "\nb", true, false, "\nb", "\nb");
        row("empty lines only", "\r\n\r\n", "x", true, false, "", "");
        row("star line is a hit", "*note\r\n", "note", true, false, "*note", "*note");
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
        // Large files of random lines, so that lines and CR LF pairs fall across every read boundary:
        // the hits are the lines that a plain split and match find.
        QRandomGenerator random(7);
        const QByteArray pieces[] = {"alma", "ALMA", "x", " ", "\n", "\r", "\r\n", "\r\n", "körte", "Álma"};
        for (int round = 0; round < 8; ++round) {
            QByteArray content;
            while (content.size() < 700000) {
                if (random.bounded(200) == 0)
                    content += QByteArray(random.bounded(1, 300000), 'y'); // a line longer than the buffer
                content += pieces[random.bounded(int(std::size(pieces)))];
            }
            const std::string bytes = content.toStdString();
            QStringList hits;
            for (const std::string_view line : splitLines(bytes))
                if (isHitLine(QString::fromUtf8(line), QStringLiteral("alma"), round % 2 == 0,
                              MatchMode::Anywhere))
                    hits.append(QString::fromUtf8(line));
            row(qPrintable(QStringLiteral("random %1").arg(round)), content, "alma", round % 2 == 0, false,
                hits.join(u'|').toUtf8(), QByteArray::fromStdString(std::string(splitLines(bytes).back())));
        }
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

    // Which files a search visits. The search in the selected files takes every entry but the last
    // selected for all of them and reads the list again; the search in all files selects every entry
    // and hands a file that vanished after listing to the handler: given up, the others are still
    // searched; tried again once it is back, it is searched in its place.
    void visitedFiles_data()
    {
        QTest::addColumn<int>("entries");
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<QList<int>>("after");
        QTest::addColumn<int>("vanished"); // f1 vanishing in a search of all files: 1 back, 0 not
        QTest::newRow("0 and 2 of 3") << 3 << QList<int>{0, 2} << QList<int>{0, 2} << -1;
        QTest::newRow("0 and 1 of 3") << 3 << QList<int>{0, 1} << QList<int>{0} << -1;
        QTest::newRow("all of 3") << 3 << QList<int>{0, 1, 2} << QList<int>{0} << -1;
        QTest::newRow("none of 3") << 3 << QList<int>{} << QList<int>{} << -1;
        QTest::newRow("only the last") << 3 << QList<int>{2} << QList<int>{2} << -1;
        QTest::newRow("single, unselected") << 1 << QList<int>{} << QList<int>{0} << -1;
        QTest::newRow("single, selected") << 1 << QList<int>{0} << QList<int>{0} << -1;
        QTest::newRow("empty list") << 0 << QList<int>{} << QList<int>{} << -1;
        QTest::newRow("all files, one given up") << 3 << QList<int>{} << QList<int>{0, 1, 2} << 0;
        QTest::newRow("all files, one back") << 3 << QList<int>{} << QList<int>{0, 1, 2} << 1;
    }
    void visitedFiles()
    {
        QFETCH(int, entries);
        QFETCH(QList<int>, selected);
        QFETCH(int, vanished);
        QTemporaryDir dir;
        const auto name = [&dir](int k) { return dir.filePath(QStringLiteral("f%1.txt").arg(k)); };
        for (int k = 0; k < entries; ++k)
            writeFile(name(k), "hit\r\n");
        // The search in all files reads the list again itself; f1 goes away between that and its reading.
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
        } files(dir.path());
        QCOMPARE(files.reread(), std::nullopt);
        for (const int k : selected)
            files.setEntrySelected(k, true);
        ScriptedErrors errors;
        MainState state;
        Rows rows;
        const SearchText search(QStringLiteral("hit"), true, MatchMode::Anywhere);
        if (vanished < 0) {
            searchSelectedFiles(files, search, state, rows, errors);
        } else {
            files.removed = name(1);
            errors.answer = [&] {
                writeFile(name(1), "hit\r\n");
                return vanished == 1;
            };
            searchAllFiles(files, search, state, rows, errors);
        }
        QList<int> after;
        QStringList hits;
        for (int k = 0; k < files.entryCount(); ++k) {
            if (files.isEntrySelected(k))
                after.append(k);
            if (files.isEntrySelected(k) && (k != 1 || vanished != 0))
                hits += block(name(k)) + QStringList{QStringLiteral("hit")};
        }
        QTEST(after, "after");
        QCOMPARE(rows.rows, hits);
        QCOMPARE(state.hitCount, hits.size() / 4);
        QCOMPARE(errors.paths, vanished < 0 ? QStringList() : QStringList{name(1)});
        QCOMPARE(state.modeMarker, QStringLiteral("ak"));
    }
};

QTEST_APPLESS_MAIN(TestSearchPass)
#include "tst_searchpass.moc"
