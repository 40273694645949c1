// The maker banner: the running cycle, the colours, standing and resuming, and the click.

#include "about/banner.h"
#include "aboutseams.h"

#include <QLabel>
#include <QTest>
#include <QTimer>
#include <cmath>

using namespace kelvara;
using namespace kelvara::test;

class BannerTest : public QObject
{
    Q_OBJECT

    QString standing = QStringLiteral("   Morvelin ™   ");

private slots:
    void runningCycle_data()
    {
        QTest::addColumn<int>("steps");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<int>("posAfter");
        const char* captions[] = {"   M",      "  Mor",    " Morve",  "Morveli", "orvelin ",
                                  "rvelin   ", "velin   ", "elin   ", "lin   ",  "in   ",
                                  "n   ",      "   ",      "",        "   M"};
        for (int step = 1; step <= 14; ++step)
            QTest::addRow("step %d", step)
                << step << QString::fromUtf8(captions[step - 1]) << (step == 13 ? 1 : step % 13 + 1);
    }

    void runningCycle()
    {
        QFETCH(int, steps);
        QFETCH(QString, caption);
        QFETCH(int, posAfter);
        ScriptedRandom random({0.25});
        BannerState banner;
        banner.load();
        BannerFrame frame;
        for (int i = 0; i < steps; ++i)
            frame = banner.step(random);
        QCOMPARE(frame.caption, caption);
        QCOMPARE(banner.bannerPos, posAfter);
        QCOMPARE(banner.bannerText, QStringLiteral("   Morvelin   "));
        QCOMPARE(int(random.draws), 3 * steps);
    }

    void colourComponents_data()
    {
        QTest::addColumn<double>("r");
        QTest::addColumn<int>("component");
        QTest::newRow("zero") << 0.0 << 0;
        QTest::newRow("just below 1/255") << 0.0039 << 0;
        QTest::newRow("just above 1/255") << 0.004 << 1;
        QTest::newRow("half") << 0.5 << 127;
        QTest::newRow("largest below one") << std::nextafter(1.0, 0.0) << 254;
    }

    void colourComponents()
    {
        QFETCH(double, r);
        QFETCH(int, component);
        ScriptedRandom random({0.5, r, 0.0}); // red, green, blue in this order
        BannerState banner;
        banner.load();
        const BannerFrame frame = banner.step(random);
        const BannerColor expected{127, std::uint8_t(component), 0};
        QCOMPARE(frame.color, expected);
        QCOMPARE(banner.bannerColor, expected);
    }

    void realSourceStaysBelowOneAndRepeats()
    {
        UnseededRandom first, second;
        QSet<double> seen;
        for (int i = 0; i < 100000; ++i) {
            const double r = first.next();
            QVERIFY(r >= 0.0 && r < 1.0);
            QCOMPARE(second.next(), r); // never seeded: the same sequence every start
            seen.insert(r);
        }
        QVERIFY(seen.size() > 99000);
    }

    // Clicks between steps, as toggles of a label's banner; the next tick shows the outcome.
    void clicks_data()
    {
        QTest::addColumn<int>("stepsBefore");
        QTest::addColumn<int>("clicks");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<bool>("blue");
        QTest::newRow("one click while running") << 3 << 1 << standing << true;
        QTest::newRow("two clicks between steps") << 3 << 2 << QStringLiteral("Morveli") << false;
        QTest::newRow("click at the end of a cycle") << 13 << 1 << standing << true;
    }

    void clicks()
    {
        QFETCH(int, stepsBefore);
        QFETCH(int, clicks);
        QFETCH(QString, caption);
        QFETCH(bool, blue);
        RandomForTest random(std::vector<double>{0.1, 0.2, 0.3});
        QLabel label;
        label.setToolTip(QStringLiteral("Rákattintva megállítható..."));
        QTimer timer;
        Banner banner(&label, &timer);
        banner.load();
        for (int i = 0; i < stepsBefore; ++i)
            banner.tick();
        const qint16 pos = banner.bannerPos;
        for (int i = 0; i < clicks; ++i)
            QTest::mouseClick(&label, Qt::LeftButton);
        QCOMPARE(label.toolTip(), QString());
        const size_t draws = random->draws;
        banner.tick();
        QCOMPARE(label.text(), caption);
        QCOMPARE(label.palette().color(QPalette::WindowText), blue ? QColor(0, 0, 255) : QColor(25, 51, 76));
        QCOMPARE(random->draws, blue ? draws : draws + 3); // standing draws no colour
        if (blue)
            QCOMPARE(banner.bannerPos, pos);
    }

    void resumesWhereItStood()
    {
        RandomForTest random(std::vector<double>{0.9});
        QLabel label;
        QTimer timer;
        Banner banner(&label, &timer);
        banner.load();
        for (int i = 0; i < 5; ++i)
            banner.tick();
        QTest::mouseClick(&label, Qt::LeftButton);
        banner.tick();
        banner.tick();
        QTest::mouseClick(&label, Qt::LeftButton);
        banner.tick();
        QCOMPARE(label.text(), QStringLiteral("rvelin   ")); // position 6, not 1
        QCOMPARE(label.palette().color(QPalette::WindowText), QColor(229, 229, 229));
    }

    void onlyALeftClickOnTheLabelCounts_data()
    {
        QTest::addColumn<Qt::MouseButton>("button");
        QTest::addColumn<QPoint>("releasedAt");
        QTest::addColumn<bool>("toggles");
        QTest::newRow("left click") << Qt::LeftButton << QPoint(5, 5) << true;
        QTest::newRow("right click") << Qt::RightButton << QPoint(5, 5) << false;
        QTest::newRow("released off the label") << Qt::LeftButton << QPoint(500, 5) << false;
    }

    void onlyALeftClickOnTheLabelCounts()
    {
        QFETCH(Qt::MouseButton, button);
        QFETCH(QPoint, releasedAt);
        QFETCH(bool, toggles);
        QLabel label;
        label.resize(100, 20);
        QTimer timer;
        Banner banner(&label, &timer);
        banner.load();
        QTest::mousePress(&label, button, {}, QPoint(5, 5));
        QTest::mouseRelease(&label, button, {}, releasedAt);
        QCOMPARE(banner.bannerRunning, !toggles);
    }

    void theTimerStepsIt()
    {
        QLabel label;
        QTimer timer;
        timer.setInterval(1);
        Banner banner(&label, &timer);
        banner.load();
        timer.start();
        QTRY_VERIFY(banner.bannerPos >= 3);
    }
};

QTEST_MAIN(BannerTest)
#include "tst_banner.moc"
