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

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace kelvara;
using namespace kelvara::test;
using Step = ScriptedMessageBox::Step;

class StartWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        root = std::make_unique<QTemporaryDir>();
        QVERIFY(root->isValid());
        drive = root->filePath(QStringLiteral("drive"));
        QVERIFY(QDir().mkpath(drive + QStringLiteral("/sub/deeper")));
    }

    void loadShowsTheDirectoryListPathAndMakesTheProgramDirectoryCurrent()
    {
        Application app;
        indit& start = *app.startWindow();
        QVERIFY(start.isVisible());
        QCOMPARE(start.windowTitle(), QStringLiteral("Könyvtár megnyitása"));
        QCOMPARE(start.Text1->text(), start.Dir1->path());
        const QString programDirectory = Volumes::programDirectory();
        QCOMPARE(volumes().currentDrive(), volumes().driveOf(programDirectory));
        QCOMPARE(volumes().currentDirectory(volumes().currentDrive()), programDirectory);
    }

    void typingIntoThePathBoxHasNoLastingEffect()
    {
        Application app;
        indit& start = *app.startWindow();
        start.Dir1->setPath(drive);
        QTest::keyClicks(start.Text1, QStringLiteral("/etc"));
        QCOMPARE(start.Text1->text(), drive);
        start.Text1->clear();
        QCOMPARE(start.Text1->text(), drive);
    }

    void enterOpensTheHighlightedDirectoryOnly()
    {
        Application app;
        indit& start = *app.startWindow();
        start.Dir1->setPath(drive);
        QSignalSpy changes(start.Dir1, &DirectoryList::changed);

        QTest::keyClick(start.Dir1, Qt::Key_Return); // the highlight is on the open directory
        QCOMPARE(changes.count(), 0);
        QCOMPARE(start.Dir1->path(), drive);

        start.Dir1->setCurrentRow(start.Dir1->openIndex() + 1); // "sub"
        QTest::keyClick(start.Dir1, Qt::Key_Return);
        QCOMPARE(changes.count(), 1);
        QCOMPARE(start.Dir1->path(), drive + QStringLiteral("/sub"));
        QCOMPARE(start.Text1->text(), drive + QStringLiteral("/sub"));
    }

    // Retry answers, then whether the drive becomes readable before the last one.
    void driveCheck_data()
    {
        QTest::addColumn<QList<int>>("answers"); // 1 = Retry, 0 = Cancel
        QTest::addColumn<bool>("mediumArrives");
        QTest::addColumn<int>("dialogs");
        QTest::addColumn<bool>("switched");
        QTest::addColumn<bool>("shownInsideItsDrive"); // the directory shown is a mount point

        QTest::newRow("readable at once") << QList<int>{} << true << 0 << true << false;
        QTest::newRow("retry, then it passes") << QList<int>{1} << true << 1 << true << false;
        QTest::newRow("retry, retry, cancel") << QList<int>{1, 1, 0} << false << 3 << false << false;
        QTest::newRow("cancel") << QList<int>{0} << false << 1 << false << false;
        QTest::newRow("cancel, from a mount point inside /") << QList<int>{0} << false << 1 << false << true;
    }

    void driveCheck()
    {
        QFETCH(QList<int>, answers);
        QFETCH(bool, mediumArrives);
        QFETCH(int, dialogs);
        QFETCH(bool, switched);
        QFETCH(bool, shownInsideItsDrive);

        const QString removable = root->filePath(QStringLiteral("media"));
        if (answers.isEmpty())
            QVERIFY(QDir().mkpath(removable));
        DrivesForTest drives(shownInsideItsDrive ? QStringList{QStringLiteral("/"), removable, drive}
                                                 : QStringList{QStringLiteral("/"), removable});
        std::vector<Step> steps;
        for (int answer : answers) {
            steps.push_back({answer ? MsgAnswer::Retry : MsgAnswer::Cancel, [&, answer] {
                                 if (answer && mediumArrives)
                                     QDir().mkpath(removable);
                             }});
        }
        MessageBoxScript boxes(steps);
        Application app;
        indit& start = *app.startWindow();
        start.Dir1->setPath(drive); // somewhere on "/", but not the current directory of "/"
        const QString currentOfRoot = volumes().currentDirectory(QStringLiteral("/"));

        start.Drive1->setCurrentIndex(start.Drive1->findText(removable)); // the user picks it

        QCOMPARE(int(boxes.requests().size()), dialogs);
        for (const MsgRequest& request : boxes.requests()) {
            QCOMPARE(request.title, QStringLiteral("Fájlhiba"));
            QCOMPARE(request.style(), 53);
            QCOMPARE(request.message, QStringLiteral("Az útvonal nem létezik."));
        }
        QVERIFY(!driveCheckFailed); // a cancel is followed by a check of the previous drive, which passes
        if (switched) {
            QCOMPARE(start.Drive1->drive(), removable);
            QCOMPARE(volumes().currentDrive(), removable);
            QCOMPARE(start.Dir1->path(), removable);
        } else {
            // Back on the previous drive, in that drive's current directory: moving through the
            // directory list never changed it.
            QCOMPARE(start.Drive1->drive(), QStringLiteral("/"));
            QCOMPARE(start.Dir1->path(), currentOfRoot);
        }
        QCOMPARE(start.Text1->text(), start.Dir1->path());
        QCOMPARE(start.Dir1->entryPath(0), start.Drive1->drive()); // the tree of the drive listed
    }

    void openingListsTheFilesAndSetsTheButtonGroups_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("searchText");
        QTest::addColumn<QString>("count");
        QTest::addColumn<bool>("searchEnabled");

        QStringList twelve;
        for (int i = 1; i <= 12; ++i)
            twelve << QStringLiteral("file%1.txt").arg(i);
        QTest::newRow("empty directory")
            << QStringList{} << QString() << QStringLiteral(" 0  db file") << false;
        QTest::newRow("twelve files") << twelve << QString() << QStringLiteral(" 12  db file") << false;
        QTest::newRow("with a search text") << QStringList{QStringLiteral("a")} << QStringLiteral("x")
                                            << QStringLiteral(" 1  db file") << true;
        QTest::newRow("a blank is a search text")
            << QStringList{} << QStringLiteral(" ") << QStringLiteral(" 0  db file") << true;
    }

    void openingListsTheFilesAndSetsTheButtonGroups()
    {
        QFETCH(QStringList, files);
        QFETCH(QString, searchText);
        QFETCH(QString, count);
        QFETCH(bool, searchEnabled);

        const QString directory = drive + QStringLiteral("/sub");
        for (const QString& name : files)
            touch(directory + QLatin1Char('/') + name);
        touch(directory + QStringLiteral("/.hidden"));
        Application app;
        indit& start = *app.startWindow();
        app.mainWindow().Text1->setText(searchText);
        app.mainWindow().enableReplaceButtons();
        start.Dir1->setPath(directory);

        QTest::mouseClick(start.Command1, Qt::LeftButton);

        cserel& main = app.mainWindow();
        QVERIFY(main.isVisible());
        QVERIFY(!start.isVisible());
        QCOMPARE(main.File1->path(), directory);
        QCOMPARE(main.File1->count(), files.size());
        QCOMPARE(main.Label7->text(), count);
        QCOMPARE(main.Command1->isEnabled(), searchEnabled);
        QCOMPARE(main.Command6->isEnabled(), searchEnabled);
        for (QPushButton* button : {main.Command2, main.Command3, main.Command4, main.Command7})
            QVERIFY(!button->isEnabled());
    }

    void aDirectoryThatCannotBeListedGoesToTheDialog_data()
    {
        QTest::addColumn<bool>("retry");
        QTest::addColumn<QString>("count");
        QTest::newRow("retry after it is back") << true << QStringLiteral(" 2  db file");
        QTest::newRow("cancel") << false << QStringLiteral(" 0  db file");
    }

    void aDirectoryThatCannotBeListedGoesToTheDialog()
    {
        QFETCH(bool, retry);
        QFETCH(QString, count);

        const QString directory = drive + QStringLiteral("/sub/deeper");
        MessageBoxScript boxes({{retry ? MsgAnswer::Retry : MsgAnswer::Cancel, [&] {
                                     QDir().mkpath(directory);
                                     touch(directory + QStringLiteral("/a"));
                                     touch(directory + QStringLiteral("/b"));
                                 }}});
        Application app;
        indit& start = *app.startWindow();
        start.Dir1->setPath(directory);
        QVERIFY(QDir(directory).removeRecursively()); // gone before it is opened

        start.Command1->click();

        QCOMPARE(int(boxes.requests().size()), 1);
        QCOMPARE(boxes.requests()[0].message, QStringLiteral("Az útvonal nem létezik.\n") + directory);
        QCOMPARE(boxes.requests()[0].style(), 53);
        QCOMPARE(app.mainWindow().Label7->text(), count);
        QVERIFY(app.mainWindow().isVisible());
    }

    void closingTheStartWindowEndsTheProgram()
    {
        Application app;
        QSignalSpy finished(&app, &Application::finished);
        app.startWindow()->close();
        QCOMPARE(finished.count(), 1);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!app.startWindow());
    }

private:
    std::unique_ptr<QTemporaryDir> root;
    QString drive; // a directory tree on the drive "/"
};

QTEST_MAIN(StartWindowTest)
#include "tst_startwindow.moc"
