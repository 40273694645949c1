// The main window shell: its controls as it opens, the search-text rule and the two navigation buttons.

#include "about/banner.h"
#include "about/frmabout.h"
#include "app/application.h"
#include "app/indit.h"
#include "main/cserel.h"
#include "platform/directorylist.h"
#include "platform/filelist.h"
#include "platform/hitlist.h"
#include "support/windows.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace kelvara;

class MainWindowTest : public QObject
{
    Q_OBJECT

    static cserel& open(Application& app, const QString& dir) { return test::openInMainWindow(app, dir); }

private slots:
    void opensWithItsInitialState()
    {
        Application app;
        cserel& main = open(app, dir.path());
        QCOMPARE(main.windowTitle(), QStringLiteral("Kelvara"));
        QCOMPARE(main.size(), QSize(616, 363)); // 9240 x 5445 twips at 96 DPI
        // Centred to within the window frame, whose size is not known before the window is shown.
        const QPoint offCentre = main.geometry().center() - main.screen()->geometry().center();
        const QSize frame = main.frameGeometry().size() - main.size();
        QVERIFY(qAbs(offCentre.x()) <= frame.width() && qAbs(offCentre.y()) <= frame.height());
        QVERIFY(main.Check1->isChecked());
        QVERIFY(main.Option1->isChecked());
        QVERIFY(!main.Option2->isChecked());
        QVERIFY(!main.Label3->isVisible());
        QVERIFY(!main.Label6->isVisible());
        QVERIFY(!main.List2->isVisible());
        QVERIFY(main.Label7->isVisible());
        QCOMPARE(main.Label2->toolTip(), QStringLiteral("Rákattintva megállítható..."));
        QCOMPARE(main.banner->bannerPos, 1);
        QVERIFY(main.banner->bannerRunning);
        QVERIFY(main.Timer1->isActive());
        QCOMPARE(main.Timer1->interval(), 150);
        QCOMPARE(main.List1->selectionMode(), QAbstractItemView::SingleSelection);
        QCOMPARE(main.File1->selectionMode(), QAbstractItemView::ExtendedSelection);
        QCOMPARE(main.findChild<QPushButton*>(QStringLiteral("Command5"))->text(), QStringLiteral("Kilépés"));
    }

    void searchButtonsFollowTheSearchText_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("one character") << QStringLiteral("a") << true;
        QTest::newRow("blanks only") << QStringLiteral("  ") << true;
        QTest::newRow("emptied again") << QString() << false;
    }

    void searchButtonsFollowTheSearchText()
    {
        QFETCH(QString, typed);
        QFETCH(bool, enabled);
        Application app;
        cserel& main = open(app, dir.path());
        QVERIFY(!main.Command1->isEnabled()); // opened with an empty search text
        QTest::keyClicks(main.Text1, QStringLiteral("xy"));
        main.Text1->setText(typed);
        QCOMPARE(main.Command1->isEnabled(), enabled);
        QCOMPARE(main.Command6->isEnabled(), enabled);
        for (QPushButton* button : {main.Command2, main.Command3, main.Command4, main.Command7})
            QVERIFY(!button->isEnabled()); // only a search enables these
    }

    void theReplacementTextChangesNoButton()
    {
        Application app;
        cserel& main = open(app, dir.path());
        QTest::keyClicks(main.Text2, QStringLiteral("abc"));
        for (QPushButton* button :
             {main.Command1, main.Command6, main.Command2, main.Command3, main.Command4, main.Command7})
            QVERIFY(!button->isEnabled());
    }

    void newDirectoryGoesBackAndKeepsTheWindowsState()
    {
        Application app;
        cserel& main = open(app, dir.path());
        main.Text1->setText(QStringLiteral("alma"));
        main.Text2->setText(QStringLiteral("körte"));
        main.Option2->setChecked(true);
        main.Check1->setChecked(false);
        main.List1->addItem(QStringLiteral("*****"));
        main.List1->addItem(QStringLiteral("hit"));
        main.Label6->setText(QStringLiteral(" 1 db sor"));
        main.Label6->show();
        main.Label3->show();
        main.enableReplaceButtons();

        main.Command8->click();
        QVERIFY(!main.isVisible());
        QVERIFY(app.startWindow()->isVisible());
        QCOMPARE(main.List1->count(), 0);
        QVERIFY(main.Command2->isEnabled()); // untouched until the next opening

        app.startWindow()->Command1->click();
        QVERIFY(main.isVisible());
        QCOMPARE(main.Text1->text(), QStringLiteral("alma"));
        QCOMPARE(main.Text2->text(), QStringLiteral("körte"));
        QVERIFY(main.Option2->isChecked());
        QVERIFY(!main.Check1->isChecked());
        QVERIFY(main.Label6->isVisible());
        QCOMPARE(main.Label6->text(), QStringLiteral(" 1 db sor"));
        QVERIFY(main.Command1->isEnabled());
        QVERIFY(!main.Command2->isEnabled());
    }

    void exitLeavesOnlyTheAboutWindow_data()
    {
        QTest::addColumn<bool>("byFrame");
        QTest::newRow("Kilépés") << false;
        QTest::newRow("window frame") << true;
    }

    void exitLeavesOnlyTheAboutWindow()
    {
        QFETCH(bool, byFrame);
        Application app;
        QPointer<cserel> main = &open(app, dir.path());
        QPointer<QTimer> banner = main->Timer1;
        QSignalSpy finished(&app, &Application::finished);
        if (byFrame)
            main->close();
        else
            main->Command5->click();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(main.isNull());
        QVERIFY(banner.isNull()); // the banner stops with its window
        QVERIFY(!app.startWindow());
        QPointer<frmAbout> about = app.aboutWindow();
        QVERIFY(about && about->isVisible());
        QVERIFY(!about->isModal());
        QCOMPARE(QApplication::topLevelWidgets(), QWidgetList{about});
        QCOMPARE(finished.count(), 0);

        // "OK" ends the event loop the program runs in, which closing a window alone does not.
        QApplication::setQuitOnLastWindowClosed(false);
        QTimer::singleShot(0, about, [&] { about->cmdOK->click(); });
        QTimer::singleShot(5000, [] { QCoreApplication::exit(1); }); // in case it does not
        QCOMPARE(QCoreApplication::exec(), 0);
        QCOMPARE(finished.count(), 1);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(about.isNull());
    }

private:
    QTemporaryDir dir;
};

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
