// The start window: directory choice, the drive check with its dialog, and opening a directory.

#include "app/application.h"
#include "app/drivecheck.h"
#include "app/indit.h"
#include "main/cserel.h"
#include "platform/directorylist.h"
#include "platform/drivelist.h"
#include "platform/filelist.h"
#include "platform/volumes.h"
#include "support/files.h"
#include "support/seams.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>

using namespace kelvara;
using namespace kelvara::test;

class StartWindowTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> root;
    QString drive; // a directory tree on the drive "/"

private slots:
    void init()
    {
        root = std::make_unique<QTemporaryDir>();
        drive = root->filePath(QStringLiteral("drive"));
        QVERIFY(QDir().mkpath(drive + QStringLiteral("/sub/deeper")));
    }

    // The program directory is current from the start; the path box follows the directory list
    // only, Enter opens the highlighted directory, and closing the window ends the program.
    void directoryChoice()
    {
        Application app;
        indit& start = *app.startWindow();
        QCOMPARE(start.Text1->text(), start.Dir1->path());
        QCOMPARE(volumes().currentDirectory(volumes().currentDrive()), Volumes::programDirectory());
        start.Dir1->setPath(drive);
        QTest::keyClicks(start.Text1, QStringLiteral("/etc"));
        start.Text1->clear();
        QCOMPARE(start.Text1->text(), drive);
        QSignalSpy changes(start.Dir1, &DirectoryList::changed);
        QTest::keyClick(start.Dir1, Qt::Key_Return); // the highlight is on the open directory
        QCOMPARE(changes.count(), 0);
        start.Dir1->setCurrentRow(start.Dir1->openIndex() + 1); // "sub"
        QTest::keyClick(start.Dir1, Qt::Key_Return);
        QCOMPARE(changes.count(), 1);
        QCOMPARE(start.Text1->text(), drive + QStringLiteral("/sub"));
        QSignalSpy finished(&app, &Application::finished);
        start.close();
        QCOMPARE(finished.count(), 1);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!app.startWindow());
    }

    // Retry answers, then whether the drive becomes readable before the last one.
    void driveCheck_data()
    {
        QTest::addColumn<QList<int>>("answers"); // 1 = Retry, 0 = Cancel
        QTest::addColumn<bool>("mediumArrives");
        QTest::addColumn<bool>("switched");
        QTest::addColumn<bool>("shownInsideItsDrive"); // the directory shown is a mount point
        QTest::newRow("readable at once") << QList<int>{} << true << true << false;
        QTest::newRow("retry, then it passes") << QList<int>{1} << true << true << false;
        QTest::newRow("retry, retry, cancel") << QList<int>{1, 1, 0} << false << false << false;
        QTest::newRow("cancel") << QList<int>{0} << false << false << false;
        QTest::newRow("cancel, from a mount point inside /") << QList<int>{0} << false << false << true;
    }
    void driveCheck()
    {
        QFETCH(QList<int>, answers);
        QFETCH(bool, mediumArrives);
        QFETCH(bool, switched);
        QFETCH(bool, shownInsideItsDrive);
        const QString removable = root->filePath(QStringLiteral("media"));
        if (answers.isEmpty())
            QVERIFY(QDir().mkpath(removable));
        DrivesForTest drives(shownInsideItsDrive ? QStringList{QStringLiteral("/"), removable, drive}
                                                 : QStringList{QStringLiteral("/"), removable});
        std::vector<ScriptedMessageBox::Step> steps;
        for (int answer : answers)
            steps.push_back({answer ? MsgAnswer::Retry : MsgAnswer::Cancel, [&, answer] {
                                 if (answer && mediumArrives)
                                     QDir().mkpath(removable);
                             }});
        MessageBoxScript boxes(steps);
        Application app;
        indit& start = *app.startWindow();
        start.Dir1->setPath(drive); // somewhere on "/", but not the current directory of "/"
        const QString currentOfRoot = volumes().currentDirectory(QStringLiteral("/"));

        start.Drive1->setCurrentIndex(start.Drive1->findText(removable)); // the user picks it
        QCOMPARE(boxes.requests().size(), size_t(answers.size()));
        for (const MsgRequest& request : boxes.requests()) {
            QCOMPARE(request.title + request.message, QStringLiteral("FájlhibaAz útvonal nem létezik."));
            QCOMPARE(request.style(), 53);
        }
        QVERIFY(!driveCheckFailed); // a cancel is followed by a check of the previous drive, which passes
        // Cancel goes back to the previous drive, in that drive's current directory: moving through
        // the directory list never changed it.
        QCOMPARE(start.Drive1->drive(), switched ? removable : QStringLiteral("/"));
        QCOMPARE(start.Dir1->path(), switched ? removable : currentOfRoot);
        if (switched)
            QCOMPARE(volumes().currentDrive(), removable);
        QCOMPARE(start.Text1->text(), start.Dir1->path());
        QCOMPARE(start.Dir1->entryPath(0), start.Drive1->drive()); // the tree of the drive listed
    }

    // Opening lists the visible files, counts them and sets both button groups; a directory that
    // cannot be listed goes to the "Fájlhiba" dialog, whose Retry lists it again.
    void opening_data()
    {
        QTest::addColumn<int>("files");
        QTest::addColumn<QString>("searchText");
        QTest::addColumn<int>("answer"); // 1 = Retry, 0 = Cancel, -1: the directory is there
        QTest::addColumn<QString>("count");
        QTest::newRow("empty directory") << 0 << QString() << -1 << QStringLiteral(" 0  db file");
        QTest::newRow("twelve files") << 12 << QString() << -1 << QStringLiteral(" 12  db file");
        QTest::newRow("with a search text")
            << 1 << QStringLiteral("x") << -1 << QStringLiteral(" 1  db file");
        QTest::newRow("a blank is a search text")
            << 0 << QStringLiteral(" ") << -1 << QStringLiteral(" 0  db file");
        QTest::newRow("missing, retry after it is back")
            << 2 << QString() << 1 << QStringLiteral(" 2  db file");
        QTest::newRow("missing, cancel") << 2 << QString() << 0 << QStringLiteral(" 0  db file");
    }
    void opening()
    {
        QFETCH(int, files);
        QFETCH(QString, searchText);
        QFETCH(int, answer);
        const QString directory = drive + QStringLiteral("/sub/deeper");
        const auto fill = [&] {
            QDir().mkpath(directory);
            touch(directory + QStringLiteral("/.hidden"));
            for (int k = 0; k < files; ++k)
                touch(directory + QStringLiteral("/file%1.txt").arg(k));
        };
        if (answer < 0)
            fill();
        MessageBoxScript boxes({{answer == 1 ? MsgAnswer::Retry : MsgAnswer::Cancel, fill}});
        Application app;
        indit& start = *app.startWindow();
        cserel& main = app.mainWindow();
        main.Text1->setText(searchText);
        main.enableReplaceButtons();
        start.Dir1->setPath(directory);
        if (answer >= 0)
            QVERIFY(QDir(directory).removeRecursively()); // gone before it is opened

        QTest::mouseClick(start.Command1, Qt::LeftButton);
        QCOMPARE(boxes.requests().size(), size_t(answer < 0 ? 0 : 1));
        if (answer >= 0) {
            QCOMPARE(boxes.requests()[0].message, QStringLiteral("Az útvonal nem létezik.\n") + directory);
            QCOMPARE(boxes.requests()[0].style(), 53);
        }
        QVERIFY(main.isVisible() && !start.isVisible());
        QCOMPARE(main.File1->path(), directory);
        QTEST(main.Label7->text(), "count");
        QCOMPARE(main.Command1->isEnabled(), !searchText.isEmpty());
        QCOMPARE(main.Command6->isEnabled(), !searchText.isEmpty());
        for (QPushButton* button : {main.Command2, main.Command3, main.Command4, main.Command7})
            QVERIFY(!button->isEnabled());
    }
};

QTEST_MAIN(StartWindowTest)
#include "tst_startwindow.moc"
