// The line matcher: worked examples, and the fast search checked against a plain one.

#include "search/matcher.h"

#include <QRandomGenerator>
#include <QTest>

using namespace kelvara;

class TestMatcher : public QObject
{
    Q_OBJECT

private slots:
    void examples_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("caseSensitive");
        QTest::addColumn<int>("position");
        QTest::addColumn<bool>("anywhere");
        QTest::addColumn<bool>("lineStart");
        const auto row = [](const char* line, const char* text, bool caseSensitive, int position,
                            bool anywhere, bool lineStart) {
            QTest::addRow("%s in %s", text, line) << QString::fromUtf8(line) << QString::fromUtf8(text)
                                                  << caseSensitive << position << anywhere << lineStart;
        };
        row("abcabc", "bc", true, 2, true, false);
        row("Alma a fa alatt", "alma", true, 16, false, false);
        row("Alma a fa alatt", "alma", false, 1, true, true);
        row("ÁRVÍZTŰRŐ", "árvíz", false, 1, true, true);
        row("ÁRVÍZTŰRŐ", "árvíz", true, 10, false, false);
        row("tükör tőkör", "TŐK", false, 7, true, false); // ő is not ö
        row("xŠKODA", "škoda", false, 2, true, false);
        row("", "a", true, 1, false, false);
        row("ab", "abc", true, 3, false, false);
        row("  foo", "foo", true, 3, true, false);
        row("foo foo foo", "foo", true, 1, true, true);
        row("abc", "", true, 1, true, true);
        row("", "", false, 1, true, true);
        row("őőőx", "x", true, 4, true, false); // positions count characters
        row("a\nb", "\nb", true, 2, true, false);
        row("Жx", "ж", false, 1, true, true);
    }
    void examples()
    {
        QFETCH(QString, line);
        QFETCH(QString, text);
        QFETCH(bool, caseSensitive);
        QFETCH(int, position);
        QFETCH(bool, anywhere);
        QCOMPARE(findPosition(line, text, caseSensitive), qint64(position));
        QCOMPARE(isHitLine(line, text, caseSensitive, MatchMode::Anywhere), anywhere);
        QTEST(isHitLine(line, text, caseSensitive, MatchMode::LineStart), "lineStart");
    }

    // Random lines of letters that fold in every way, searched for random texts, at every alignment
    // the block-wise search and its scalar tail can meet.
    void agreesWithPlainSearch_data()
    {
        QTest::addColumn<CodePage>("page");
        QTest::addColumn<bool>("caseSensitive");
        for (const CodePage page : {CodePage::Utf8, CodePage::Windows1250})
            for (const bool caseSensitive : {true, false})
                QTest::addRow("%d, %d", int(page), caseSensitive) << page << caseSensitive;
    }
    void agreesWithPlainSearch()
    {
        QFETCH(CodePage, page);
        QFETCH(bool, caseSensitive);
        const QString letters = QStringLiteral("aAbBáÁőŐűŰ \nŠšiI") +
                                (page == CodePage::Utf8 ? QStringLiteral("ЖжİΣσς") : QString());
        QRandomGenerator random(20261206);
        for (int round = 0; round < 3000; ++round) {
            QString line, text;
            for (int i = random.bounded(0, 250); i > 0; --i)
                line += letters[random.bounded(letters.size())];
            if (!line.isEmpty() && random.bounded(3) != 0) // a piece of the line itself, often in other cases
                text = line.mid(random.bounded(line.size()), random.bounded(1, 12));
            else
                for (int i = random.bounded(1, 4); i > 0; --i)
                    text += letters[random.bounded(letters.size())];
            if (random.bounded(2))
                text = text.toUpper();
            const std::string haystack = *encode(line, page);
            const std::string needle = encode(text, page).value_or(std::string());
            const char* at =
                Needle(needle, caseSensitive, page).find(haystack.data(), haystack.data() + haystack.size());
            const size_t expected =
                caseSensitive ? haystack.find(needle) : foldText(haystack, page).find(foldText(needle, page));
            QVERIFY2((at ? size_t(at - haystack.data()) : std::string::npos) == expected,
                     qPrintable(QStringLiteral("'%1' in '%2'").arg(text, line)));
        }
    }
};

QTEST_APPLESS_MAIN(TestMatcher)
#include "tst_matcher.moc"
