// The About window: its controls as it opens, the ways it closes, and its two buttons.

#include "about/banner.h"
#include "about/frmabout.h"
#include "aboutseams.h"
#include "app/application.h"
#include "platform/look.h"
#include "support/seams.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace kelvara;
using namespace kelvara::test;

class AboutTest : public QObject
{
    Q_OBJECT

    static QRect twips(int left, int top, int width, int height)
    {
        return QRect(twipsToPixels(left), twipsToPixels(top), twipsToPixels(width), twipsToPixels(height));
    }

private slots:
    void initTestCase() { applyLook(); }

    void controls_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QRect>("place");
        const auto s = [](const char* text) { return QString::fromUtf8(text); };
        QTest::newRow("picIcon") << s("picIcon") << QString() << twips(240, 240, 540, 540);
        QTest::newRow("lblTitle") << s("lblTitle") << s("Kelvara") << twips(1050, 360, 2670, 360);
        QTest::newRow("lblVersion") << s("lblVersion") << s("1.0.0  Változat") << twips(1045, 968, 1463, 220);
        QTest::newRow("Label1") << s("Label1") << QString() << twips(4477, 242, 1221, 374);
        QTest::newRow("cmdOK") << s("cmdOK") << s("OK") << twips(4245, 2625, 1260, 345);
        QTest::newRow("cmdSysInfo") << s("cmdSysInfo") << s("&Rendszer info") << twips(4260, 3075, 1245, 345);
    }

    void controls()
    {
        QFETCH(QString, name);
        QFETCH(QString, text);
        QFETCH(QRect, place);
        frmAbout about;
        auto* control = about.findChild<QWidget*>(name);
        QVERIFY(control);
        QCOMPARE(control->geometry(), place);
        if (auto* label = qobject_cast<QLabel*>(control))
            QCOMPARE(label->text(), text);
        else
            QCOMPARE(qobject_cast<QPushButton*>(control)->text(), text);
    }

    void opensAsAFixedCentredDialog()
    {
        Application app;
        app.quit();
        frmAbout& about = *app.aboutWindow();
        QVERIFY(QTest::qWaitForWindowActive(&about));
        QCOMPARE(about.windowTitle(), QStringLiteral("Névjegy"));
        QCOMPARE(about.size(), QSize(387, 247)); // 5805 x 3705 twips at 96 DPI
        QCOMPARE(about.minimumSize(), about.maximumSize());
        QVERIFY(!(about.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        const QPoint offCentre = about.geometry().center() - about.screen()->geometry().center();
        const QSize frame = about.frameGeometry().size() - about.size();
        QVERIFY(qAbs(offCentre.x()) <= frame.width() && qAbs(offCentre.y()) <= frame.height());
        QCOMPARE(about.focusWidget(), about.cmdOK);
        QVERIFY(about.cmdOK->isDefault());
        QTest::keyClick(about.cmdOK, Qt::Key_Tab);
        QCOMPARE(about.focusWidget(), about.cmdSysInfo);
        QCOMPARE(about.picIcon->pixmap().size(), QSize(32, 32));
        QVERIFY(!about.windowIcon().isNull());
        QCOMPARE(about.lblTitle->palette().color(QPalette::WindowText), QColor(0, 128, 0));
        QCOMPARE(about.Line1[0]->palette().color(QPalette::Window), QColor(128, 128, 128));
        QCOMPARE(about.Line1[1]->palette().color(QPalette::Window), QColor(Qt::white));
        QCOMPARE(about.Line1[1]->height(), 2);
        QVERIFY(about.Label1->toolTip().isEmpty());
        QCOMPARE(about.Label1->font().pointSizeF(), 9.75);
        QVERIFY(about.Timer1->isActive());
        QCOMPARE(about.Timer1->interval(), 150);
        QCOMPARE(about.banner->bannerPos, 1);
        QVERIFY(about.banner->bannerRunning);
    }

    void eachWayOfClosingEndsTheProgram_data()
    {
        QTest::addColumn<int>("way");
        QTest::newRow("OK") << 0;
        QTest::newRow("Enter") << 1;
        QTest::newRow("Esc") << 2;
        QTest::newRow("window frame") << 3;
    }

    void eachWayOfClosingEndsTheProgram()
    {
        QFETCH(int, way);
        MessageBoxScript boxes; // a wrong button must not wait for a real box
        Application app;
        app.quit();
        QPointer<frmAbout> about = app.aboutWindow();
        QVERIFY(QTest::qWaitForWindowActive(about));
        QSignalSpy finished(&app, &Application::finished);
        switch (way) {
        case 0:
            QTest::mouseClick(about->cmdOK, Qt::LeftButton);
            break;
        case 1:
            QTest::keyClick(about->focusWidget(), Qt::Key_Return);
            break;
        case 2:
            QTest::keyClick(about->focusWidget(), Qt::Key_Escape);
            break;
        default:
            about->close();
        }
        QCOMPARE(finished.count(), 1);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(about.isNull());
    }

    void systemInfoLeavesTheWindowOpen_data()
    {
        QTest::addColumn<bool>("byAccessKey");
        QTest::newRow("click") << false;
        QTest::newRow("Alt+R") << true;
    }

    void systemInfoLeavesTheWindowOpen()
    {
        QFETCH(bool, byAccessKey);
        RegistryForTest registry; // empty: no tool anywhere
        MessageBoxScript boxes;
        Application app;
        app.quit();
        frmAbout& about = *app.aboutWindow();
        QVERIFY(QTest::qWaitForWindowActive(&about));
        if (byAccessKey)
            QTest::keyClick(about.windowHandle(), Qt::Key_R, Qt::AltModifier);
        else
            QTest::mouseClick(about.cmdSysInfo, Qt::LeftButton);
        QTRY_COMPARE(int(boxes.requests().size()), 1); // an access key presses the button a moment later
        QCOMPARE(boxes.requests()[0].message,
                 QStringLiteral("System Information Is Unavailable At This Time"));
        QVERIFY(about.isVisible());
    }

    void clickingLabel1StopsItsBanner()
    {
        frmAbout about;
        about.load();
        about.show();
        about.Timer1->stop(); // steps by hand
        QTest::mouseClick(about.Label1, Qt::LeftButton);
        about.banner->tick();
        QCOMPARE(about.Label1->text(), QStringLiteral("   Morvelin ™   "));
        QTest::mouseClick(about.Label1, Qt::LeftButton);
        about.banner->tick();
        QCOMPARE(about.Label1->text(), QStringLiteral("   M"));
    }
};

QTEST_MAIN(AboutTest)
#include "tst_about.moc"
