// Code pages and path names: what is UTF-8, that every byte survives, and case folding.

#include "platform/codepage.h"
#include "platform/pathcodec.h"

#include <QRandomGenerator>
#include <QTest>

using namespace kelvara;
using namespace Qt::StringLiterals;

namespace {

// Qt's decoder as the plain model: valid UTF-8, and only that, comes back unchanged.
bool referenceValid(const QByteArray& bytes)
{
    return QString::fromUtf8(bytes).toUtf8() == bytes;
}

std::string_view view(const QByteArray& bytes)
{
    return std::string_view(bytes.constData(), size_t(bytes.size()));
}

} // namespace

class TestCodePage : public QObject
{
    Q_OBJECT

private slots:
    // Random mixes of text, characters and the bytes where the rules change, also as file names.
    void validationAgreesWithPlainDecoding()
    {
        static constexpr std::uint8_t Edges[] = {0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xC1, 0xC2, 0xDF,
                                                 0xE0, 0xED, 0xEE, 0xEF, 0xF0, 0xF4, 0xF5, 0xFF, 0x00, 0x7F};
        QRandomGenerator random(1250);
        int valid = 0;
        for (int round = 0; round < 100000; ++round) {
            QByteArray bytes;
            const int pieces = random.bounded(0, 40);
            for (int k = 0; k < pieces; ++k) {
                switch (random.bounded(4)) {
                case 0:
                    bytes += QByteArray(random.bounded(1, random.bounded(4) ? 40 : 300), 'a');
                    break;
                case 1: { // a whole character, now and then cut short
                    const char32_t c = char32_t(random.bounded(0x80, 0x110000));
                    QByteArray encoded = QString::fromUcs4(&c, 1).toUtf8();
                    if (random.bounded(8) == 0)
                        encoded.chop(1);
                    bytes += encoded;
                    break;
                }
                default:
                    bytes += char(Edges[random.bounded(int(std::size(Edges)))]);
                }
            }
            const bool expected = referenceValid(bytes);
            valid += expected ? 1 : 0;
            const QString path = pathFromBytes(bytes);
            if (isValidUtf8(view(bytes)) != expected || isValidUtf8Scalar(view(bytes)) != expected ||
                detectCodePage(view(bytes)) != (expected ? CodePage::Utf8 : CodePage::Windows1250) ||
                pathToBytes(path) != bytes || (expected && path != QString::fromUtf8(bytes)))
                QFAIL(bytes.toHex(' ').constData());
        }
        QVERIFY(valid > 5000); // both outcomes are well represented
        // A sequence left open before a run of ASCII that fills a whole step of the fast path.
        QVERIFY(!isValidUtf8(view(QByteArray(127, 'a') + "\xC3" + QByteArray(128, 'a') + "\xA1")));
    }

    // Every byte comes back from the legacy code page and from a path, the unassigned ones too.
    void everyByteRoundTrips()
    {
        std::string all;
        for (int b = 0; b < 256; ++b) {
            all.push_back(char(b));
            QCOMPARE(pathToBytes(pathFromBytes(QByteArray(1, char(b)))), QByteArray(1, char(b)));
        }
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

    void folding_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("folded");
        QTest::addColumn<QByteArray>("windows1250"); // null: not in the code page
        QTest::newRow("long umlauts")
            << u"ŐőŰű AÁRVÍZ"_s << u"őőűű aárvíz"_s << QByteArray("\xD5\xF5\xDB\xFB A\xC1RV\xCDZ");
        QTest::newRow("central european")
            << u"ŠŁŽČŘĎ"_s << u"šłžčřď"_s << QByteArray("\x8A\xA3\x8E\xC8\xD8\xCF");
        QTest::newRow("not letters") << u"[@]^_`{€–"_s << u"[@]^_`{€–"_s << QByteArray("[@]^_`{\x80\x96");
        QTest::newRow("greek, deseret") << u"ΣΟΦΊΑ \U00010400"_s << u"σοφία \U00010428"_s << QByteArray();
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
};

QTEST_APPLESS_MAIN(TestCodePage)
#include "tst_codepage.moc"
