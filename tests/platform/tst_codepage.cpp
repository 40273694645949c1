// Code pages: which files are UTF-8, that every byte survives the legacy code page, and case folding.

#include "platform/codepage.h"

#include <QRandomGenerator>
#include <QTest>

using namespace kelvara;

namespace {

// RFC 3629 the plain way: decode each sequence to its code point, then check the range.
bool referenceValid(const QByteArray& bytes)
{
    static constexpr std::uint32_t Minimum[5] = {0, 0, 0x80, 0x800, 0x10000};
    for (qsizetype i = 0; i < bytes.size();) {
        const auto lead = std::uint8_t(bytes[i]);
        int length;
        std::uint32_t c;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2, c = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3, c = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4, c = lead & 0x07;
        } else {
            return false;
        }
        if (i + length > bytes.size())
            return false;
        for (int k = 1; k < length; ++k) {
            const auto next = std::uint8_t(bytes[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            c = c << 6 | (next & 0x3F);
        }
        if (c < Minimum[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

} // namespace

class TestCodePage : public QObject
{
    Q_OBJECT

private slots:
    void detection_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("utf8");
        QTest::newRow("empty") << QByteArray() << true;
        QTest::newRow("ascii") << QByteArray("plain text\r\n") << true;
        QTest::newRow("hungarian") << QByteArray("árvíztűrő tükörfúrógép") << true;
        QTest::newRow("four bytes") << QByteArray("\xF0\x9F\x98\x80") << true;
        QTest::newRow("highest") << QByteArray("\xF4\x8F\xBF\xBF") << true;
        QTest::newRow("windows-1250 á") << QByteArray("\xE1rv\xEDz") << false;
        QTest::newRow("overlong slash") << QByteArray("\xC0\xAF") << false;
        QTest::newRow("overlong 3") << QByteArray("\xE0\x80\xAF") << false;
        QTest::newRow("overlong 4") << QByteArray("\xF0\x80\x80\xAF") << false;
        QTest::newRow("surrogate") << QByteArray("\xED\xA0\x80") << false;
        QTest::newRow("above U+10FFFF") << QByteArray("\xF4\x90\x80\x80") << false;
        QTest::newRow("F5 lead") << QByteArray("\xF5\x80\x80\x80") << false;
        QTest::newRow("lone continuation") << QByteArray("a\x80") << false;
        QTest::newRow("cut at the end") << QByteArray("ok \xC5") << false;
        QTest::newRow("cut by CR") << QByteArray("\xC5\r\x91") << false;
        // The invalid byte sits after a long ASCII run, past the block-wise fast path.
        QTest::newRow("late invalid") << QByteArray(100, 'x') + "\xFB" + QByteArray(40, 'y') << false;
        QTest::newRow("late invalid, other half")
            << QByteArray(70, 'x') + "\xFB" + QByteArray(70, 'y') << false;
        // A sequence cut at the end of a 32-byte block, the next block plain ASCII.
        QTest::newRow("cut at a block end, 2") << QByteArray(31, 'a') + "\xC3" + QByteArray(40, 'a') << false;
        QTest::newRow("cut at a block end, 3")
            << QByteArray(30, 'a') + "\xE2\x82" + QByteArray(40, 'a') << false;
        QTest::newRow("cut at a block end, 4")
            << QByteArray(29, 'a') + "\xF0\x9F\x98" + QByteArray(40, 'a') << false;
        QTest::newRow("cut before a long ASCII run")
            << QByteArray(127, 'a') + "\xC3" + QByteArray(128, 'a') + "\xA1" + QByteArray(200, 'a') << false;
        QTest::newRow("whole across a block end")
            << QByteArray(30, 'a') + "\xE2\x82\xAC" + QByteArray(40, 'a') << true;
        QTest::newRow("late valid") << QByteArray(100, 'x') + "\xC5\xB1" + QByteArray(40, 'y') << true;
    }
    void detection()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, utf8);
        QCOMPARE(isValidUtf8(std::string_view(bytes.constData(), size_t(bytes.size()))), utf8);
        QCOMPARE(detectCodePage(std::string_view(bytes.constData(), size_t(bytes.size()))),
                 utf8 ? CodePage::Utf8 : CodePage::Windows1250);
    }

    // Random mixes of text, valid sequences and the bytes where the rules change, at every length
    // around the block size, checked against the plain decoder.
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
                    if (c >= 0xD800 && c <= 0xDFFF)
                        encoded = QByteArray("\xED\xA0\x80");
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
            const std::string_view view(bytes.constData(), size_t(bytes.size()));
            if (isValidUtf8(view) != expected || isValidUtf8Scalar(view) != expected)
                QFAIL(qPrintable(QStringLiteral("round %1: %2 should be %3")
                                     .arg(round)
                                     .arg(QString::fromLatin1(bytes.toHex(' ')))
                                     .arg(expected)));
        }
        QVERIFY(valid > 5000); // both outcomes are well represented
    }

    // Every byte decodes to something that encodes back to the same byte, the unassigned ones too.
    void windows1250RoundTripsEveryByte()
    {
        std::string all;
        for (int b = 0; b < 256; ++b)
            all.push_back(char(b));
        const QString text = decode(all, CodePage::Windows1250);
        QCOMPARE(text.size(), 256);
        QCOMPARE(encode(text, CodePage::Windows1250), std::optional<std::string>(all));
        std::string utf8;
        appendAsUtf8(all, CodePage::Windows1250, utf8);
        QCOMPARE(QString::fromUtf8(utf8.data(), qsizetype(utf8.size())), text);
        for (const int unassigned : {0x81, 0x83, 0x88, 0x90, 0x98})
            QCOMPARE(text[unassigned].unicode(), char16_t(unassigned));
    }

    void windows1250Letters_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("long umlauts") << QStringLiteral("ŐőŰű") << QByteArray("\xD5\xF5\xDB\xFB");
        QTest::newRow("acute") << QStringLiteral("Áá") << QByteArray("\xC1\xE1");
        QTest::newRow("caron, stroke") << QStringLiteral("ŠšŁł") << QByteArray("\x8A\x9A\xA3\xB3");
        QTest::newRow("euro, dash") << QStringLiteral("€–") << QByteArray("\x80\x96");
    }
    void windows1250Letters()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QCOMPARE(encode(text, CodePage::Windows1250), std::optional<std::string>(bytes.toStdString()));
    }

    void unencodable_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("codePage");
        QTest::newRow("cyrillic in 1250") << QStringLiteral("Жук") << int(CodePage::Windows1250);
        QTest::newRow("tilde n in 1250") << QStringLiteral("señor") << int(CodePage::Windows1250);
        QTest::newRow("lone surrogate in utf-8") << QString(QChar(0xD800)) << int(CodePage::Utf8);
    }
    void unencodable()
    {
        QFETCH(QString, text);
        QFETCH(int, codePage);
        QCOMPARE(encode(text, CodePage(codePage)), std::nullopt);
    }

    void folding_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("folded");
        QTest::addColumn<bool>("inWindows1250");
        QTest::newRow("hungarian") << QStringLiteral("ÁRVÍZTŰRŐ Tükör") << QStringLiteral("árvíztűrő tükör")
                                   << true;
        QTest::newRow("central european") << QStringLiteral("ŠŁŽČŘĎ") << QStringLiteral("šłžčřď") << true;
        QTest::newRow("not letters") << QStringLiteral("[@]^_`{") << QStringLiteral("[@]^_`{") << true;
        QTest::newRow("cyrillic") << QStringLiteral("ЖУК") << QStringLiteral("жук") << false;
        QTest::newRow("greek") << QStringLiteral("ΣΟΦΊΑ") << QStringLiteral("σοφία") << false;
        // Lower-case forms of another length are left alone, so lengths never change.
        QTest::newRow("dotted capital I") << QStringLiteral("İ") << QStringLiteral("İ") << false;
        QTest::newRow("kelvin sign") << QStringLiteral("\u212A") << QStringLiteral("\u212A") << false;
    }
    void folding()
    {
        QFETCH(QString, text);
        QFETCH(QString, folded);
        QFETCH(bool, inWindows1250);
        const std::string utf8 = *encode(text, CodePage::Utf8);
        const std::string foldedUtf8 = foldText(utf8, CodePage::Utf8);
        QCOMPARE(foldedUtf8.size(), utf8.size());
        QCOMPARE(QString::fromStdString(foldedUtf8), folded);
        if (inWindows1250) {
            const std::string bytes = *encode(text, CodePage::Windows1250);
            QCOMPARE(decode(foldText(bytes, CodePage::Windows1250), CodePage::Windows1250), folded);
        }
    }
};

QTEST_APPLESS_MAIN(TestCodePage)
#include "tst_codepage.moc"
