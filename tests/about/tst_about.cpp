// The About window: its controls as it opens, the ways it closes, and its two buttons.

#include "about/banner.h"
#include "about/frmabout.h"
#include "aboutseams.h"
#include "app/application.h"
#include "platform/look.h"
#include "support/seams.h"

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

private slots:
    void initTestCase() { applyLook(); }

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
        QTest::keyClick(about.cmdOK, Qt::Key_Tab);
        QCOMPARE(about.focusWidget(), about.cmdSysInfo);
        QCOMPARE(about.picIcon->pixmap().size(), QSize(32, 32)); // the icon resource is linked in
        QVERIFY(about.Timer1->isActive());
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
