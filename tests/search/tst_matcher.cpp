// The line matcher: the documented examples, and the fast search checked against a plain one.

#include "search/matcher.h"

#include <QRandomGenerator>
#include <QTest>

using namespace kelvara;

namespace {

// The plain way: fold both sides whole and look for the text.
size_t referenceFind(const std::string& haystack, const std::string& needle, bool caseSensitive,
                     CodePage codePage)
{
    if (caseSensitive)
        return haystack.find(needle);
    return foldText(haystack, codePage).find(foldText(needle, codePage));
}

} // namespace

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
        const auto row = [](const char* name, const char* line, const char* text, bool caseSensitive,
                            int position, bool anywhere, bool lineStart) {
            QTest::newRow(name) << QString::fromUtf8(line) << QString::fromUtf8(text) << caseSensitive
                                << position << anywhere << lineStart;
        };
        row("inside", "abcabc", "bc", true, 2, true, false);
        row("last possible place", "xyzabc", "abc", true, 4, true, false);
        row("case differs", "Alma a fa alatt", "alma", true, 16, false, false);
        row("case folded", "Alma a fa alatt", "alma", false, 1, true, true);
        row("accented capitals", "ÁRVÍZTŰRŐ", "árvíz", false, 1, true, true);
        row("accented, case-sensitive", "ÁRVÍZTŰRŐ", "árvíz", true, 10, false, false);
        row("empty line", "", "a", true, 1, false, false);
        row("text longer than line", "ab", "abc", true, 3, false, false);
        row("leading blanks", "  foo", "foo", true, 3, true, false);
        row("first of three", "foo foo foo", "foo", true, 1, true, true);
        row("empty text", "abc", "", true, 1, true, true);
        row("empty text, empty line", "", "", false, 1, true, true);
        row("position counts characters", "őőőx", "x", true, 4, true, false);
        row("line feed is text", "a\nb", "\nb", true, 2, true, false);
    }
    void examples()
    {
        QFETCH(QString, line);
        QFETCH(QString, text);
        QFETCH(bool, caseSensitive);
        QFETCH(int, position);
        QFETCH(bool, anywhere);
        QFETCH(bool, lineStart);
        QCOMPARE(findPosition(line, text, caseSensitive), qint64(position));
        QCOMPARE(isHitLine(line, text, caseSensitive, MatchMode::Anywhere), anywhere);
        QCOMPARE(isHitLine(line, text, caseSensitive, MatchMode::LineStart), lineStart);
    }

    // The same comparisons on Windows-1250 bytes.
    void windows1250_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("caseSensitive");
        QTest::addColumn<int>("offset"); // -1: not found
        QTest::newRow("folded") << QStringLiteral("ÁRVÍZTŰRŐ") << QStringLiteral("árvíz") << false << 0;
        QTest::newRow("not folded") << QStringLiteral("ÁRVÍZTŰRŐ") << QStringLiteral("árvíz") << true << -1;
        QTest::newRow("ő is not ö") << QStringLiteral("tükör tőkör") << QStringLiteral("TŐK") << false << 6;
        QTest::newRow("caron letters") << QStringLiteral("xŠKODA") << QStringLiteral("škoda") << false << 1;
    }
    void windows1250()
    {
        QFETCH(QString, line);
        QFETCH(QString, text);
        QFETCH(bool, caseSensitive);
        QFETCH(int, offset);
        const std::string bytes = *encode(line, CodePage::Windows1250);
        const Needle needle(*encode(text, CodePage::Windows1250), caseSensitive, CodePage::Windows1250);
        const char* at = needle.find(bytes.data(), bytes.data() + bytes.size());
        QCOMPARE(at ? int(at - bytes.data()) : -1, offset);
    }

    // Random lines of letters that fold in every way, searched for random texts, at every alignment
    // the block-wise search can meet.
    void agreesWithPlainSearch_data()
    {
        QTest::addColumn<int>("codePage");
        QTest::addColumn<bool>("caseSensitive");
        QTest::newRow("utf-8, case-sensitive") << int(CodePage::Utf8) << true;
        QTest::newRow("utf-8, folded") << int(CodePage::Utf8) << false;
        QTest::newRow("1250, case-sensitive") << int(CodePage::Windows1250) << true;
        QTest::newRow("1250, folded") << int(CodePage::Windows1250) << false;
    }
    void agreesWithPlainSearch()
    {
        QFETCH(int, codePage);
        QFETCH(bool, caseSensitive);
        const CodePage page = CodePage(codePage);
        QStringList pieces = {
            QStringLiteral("a"), QStringLiteral("A"), QStringLiteral("b"), QStringLiteral("B"),
            QStringLiteral("á"), QStringLiteral("Á"), QStringLiteral("ő"), QStringLiteral("Ő"),
            QStringLiteral("ű"), QStringLiteral("Ű"), QStringLiteral(" "), QStringLiteral("\n"),
            QStringLiteral("Š"), QStringLiteral("š"), QStringLiteral("i"), QStringLiteral("I")};
        if (page == CodePage::Utf8)
            pieces << QStringLiteral("Ж") << QStringLiteral("ж") << QStringLiteral("İ") << QStringLiteral("Σ")
                   << QStringLiteral("σ") << QStringLiteral("ς");
        QRandomGenerator random(20261206);
        const auto randomText = [&](int length) {
            QString text;
            for (int i = 0; i < length; ++i)
                text += pieces[random.bounded(pieces.size())];
            return *encode(text, page);
        };
        for (int round = 0; round < 3000; ++round) {
            const std::string haystack = randomText(random.bounded(0, 120));
            std::string needle;
            if (!haystack.empty() && random.bounded(3) != 0) {
                // A piece of the haystack itself (whole characters), often with other cases.
                const QString decoded = decode(haystack, page);
                const int from = random.bounded(decoded.size());
                QString piece = decoded.mid(from, random.bounded(1, 12));
                if (random.bounded(2))
                    piece = piece.toUpper();
                needle = encode(piece, page).value_or(std::string());
            } else {
                needle = randomText(random.bounded(1, 4));
            }
            const Needle compiled(needle, caseSensitive, page);
            const char* at = compiled.find(haystack.data(), haystack.data() + haystack.size());
            const size_t expected = referenceFind(haystack, needle, caseSensitive, page);
            const size_t found = at ? size_t(at - haystack.data()) : std::string::npos;
            if (found != expected)
                QFAIL(qPrintable(QStringLiteral("round %1: '%2' in '%3': %4, expected %5")
                                     .arg(round)
                                     .arg(decode(needle, page), decode(haystack, page))
                                     .arg(qint64(found))
                                     .arg(qint64(expected))));
        }
    }

    // A long line with the only match at its very end, and at each of the last 40 places.
    void matchAtEveryTailPosition()
    {
        for (int tail = 0; tail < 40; ++tail) {
            const std::string word = "Ábc";
            std::string line(200 + size_t(tail), 'x');
            const size_t place = line.size() - word.size() - size_t(tail);
            line.replace(place, word.size(), word);
            for (const bool caseSensitive : {true, false}) {
                const Needle needle(caseSensitive ? "Ábc" : "áBC", caseSensitive, CodePage::Utf8);
                const char* at = needle.find(line.data(), line.data() + line.size());
                QVERIFY2(at, qPrintable(QString::number(tail)));
                QCOMPARE(size_t(at - line.data()), place);
            }
        }
    }
};

QTEST_APPLESS_MAIN(TestMatcher)
#include "tst_matcher.moc"
