// The start window: directory choice, the drive check with its dialog, and opening a directory. Every
// window: captions fit at 96 DPI, Kelvara's icon, Enter, keypad Enter and Space press a focused button.

#include "about/frmabout.h"
#include "app/application.h"
#include "app/desktop.h"
#include "app/drivecheck.h"
#include "app/indit.h"
#include "main/cserel.h"
#include "platform/directorylist.h"
#include "platform/drivelist.h"
#include "platform/filelist.h"
#include "platform/look.h"
#include "platform/volumes.h"
#include "support/files.h"
#include "support/seams.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QStyle>
#include <QTemporaryDir>

using namespace kelvara;
using namespace kelvara::test;

class StartWindowTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> root;
    QString drive; // a directory tree on the drive "/"

private slots:
    void initTestCase()
    {
        applyLook();
        joinDesktop();
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Retry"), QStringLiteral("Újra"));
    }

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
        QCOMPARE(start.Text1->text(), drive + QStringLiteral("/sub"));
        QSignalSpy finished(&app, &Application::finished);
        start.close();
        QCOMPARE(finished.count(), 1);
    }

    // A drive or a directory that cannot be read goes to the "Fájlhiba" box, whose Retry tries again.
    // Cancel goes back to the previous drive, in that drive's current directory (moving through the
    // directory list never changed it), or opens the directory with an empty file list.
    void fileErrors_data()
    {
        QTest::addColumn<QString>("target");     // "mount": the directory shown is a mount point inside "/"
        QTest::addColumn<QList<int>>("answers"); // 1 = Retry, 0 = Cancel
        QTest::addColumn<bool>("readable");      // from the start or after the first Retry
        const QString drive = QStringLiteral("drive"), directory = QStringLiteral("directory");
        QTest::newRow("drive readable at once") << drive << QList<int>{} << true;
        QTest::newRow("drive, retry, then it passes") << drive << QList<int>{1} << true;
        QTest::newRow("drive, retry, retry, cancel") << drive << QList<int>{1, 1, 0} << false;
        QTest::newRow("drive, cancel from a mount point")
            << QStringLiteral("mount") << QList<int>{0} << false;
        QTest::newRow("directory there") << directory << QList<int>{} << true;
        QTest::newRow("directory, retry after it is back") << directory << QList<int>{1} << true;
        QTest::newRow("directory, cancel") << directory << QList<int>{0} << false;
    }
    void fileErrors()
    {
        QFETCH(QString, target);
        QFETCH(QList<int>, answers);
        QFETCH(bool, readable);
        const bool onDrive = target != QLatin1String("directory");
        const QString removable = root->filePath(QStringLiteral("media"));
        const QString directory = drive + QStringLiteral("/sub/deeper");
        const auto arrive = [&] {
            QDir().mkpath(onDrive ? removable : directory);
            for (const char* name : {"/.hidden", "/a.txt", "/b.txt"})
                touch(directory + QLatin1String(name));
        };
        if (answers.isEmpty())
            arrive();
        std::vector<ScriptedMessageBox::Step> steps;
        for (int answer : answers)
            steps.push_back({answer ? MsgAnswer::Retry : MsgAnswer::Cancel, [&, answer] {
                                 if (answer && readable)
                                     arrive();
                             }});
        DrivesForTest drives(target == QLatin1String("mount")
                                 ? QStringList{QStringLiteral("/"), removable, drive}
                                 : QStringList{QStringLiteral("/"), removable});
        MessageBoxScript boxes(steps);
        Application app;
        indit& start = *app.startWindow();
        cserel& main = app.mainWindow();
        main.Text1->setText(QStringLiteral(" ")); // a blank is a search text
        main.enableReplaceButtons();
        start.Dir1->setPath(onDrive ? drive : directory); // on "/", but not the current directory of "/"
        const QString currentOfRoot = volumes().currentDirectory(QStringLiteral("/"));
        if (onDrive) {
            start.Drive1->setCurrentIndex(start.Drive1->findText(removable)); // the user picks it
        } else {
            if (!answers.isEmpty())
                QVERIFY(QDir(directory).removeRecursively()); // gone before it is opened
            QTest::mouseClick(start.Command1, Qt::LeftButton);
        }
        QCOMPARE(boxes.requests().size(), size_t(answers.size()));
        for (const MsgRequest& request : boxes.requests()) {
            QCOMPARE(request.title, QStringLiteral("Fájlhiba"));
            QCOMPARE(request.message, QStringLiteral("Az útvonal nem létezik.") +
                                          (onDrive ? QString() : QLatin1Char('\n') + directory));
            QCOMPARE(request.style(), 53); // Retry and Cancel, with the exclamation mark
        }
        if (onDrive) {
            QVERIFY(!driveCheckFailed); // a cancel is followed by a check of the previous drive, which passes
            QCOMPARE(start.Drive1->drive(), readable ? removable : QStringLiteral("/"));
            QCOMPARE(start.Dir1->path(), readable ? removable : currentOfRoot);
            QCOMPARE(volumes().currentDrive(), start.Drive1->drive());
            QCOMPARE(start.Text1->text(), start.Dir1->path());
            QCOMPARE(start.Dir1->entryPath(0), start.Drive1->drive()); // the tree of the drive listed
            return;
        }
        QVERIFY(main.isVisible() && !start.isVisible());
        QCOMPARE(main.File1->path(), directory);
        QCOMPARE(main.Label7->text(),
                 readable ? QStringLiteral(" 2  db file") : QStringLiteral(" 0  db file"));
        QVERIFY(main.Command1->isEnabled() && main.Command6->isEnabled());
        for (QPushButton* button : {main.Command2, main.Command3, main.Command4, main.Command7})
            QVERIFY(!button->isEnabled());
    }

    void windows_data()
    {
        QTest::addColumn<QString>("button"); // one whose click opens no modal box, in the window to check
        QTest::addColumn<int>("key");
        for (const char* button : {"Command1", "Command8", "cmdOK"})
            for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space})
                QTest::addRow("%s, key %x", button, key) << QString::fromLatin1(button) << int(key);
    }
    void windows()
    {
        QFETCH(QString, button);
        QFETCH(int, key);
        Application app;
        if (button == u"cmdOK")
            app.quit(); // shows the About window
        QWidget* shown = button == u"Command1"   ? app.startWindow()
                         : button == u"Command8" ? static_cast<QWidget*>(&app.mainWindow())
                                                 : app.aboutWindow();
        QVERIFY(!shown->windowIcon().isNull());
        int checked = 0;
        for (const QWidget* control : shown->findChildren<QWidget*>()) {
            const auto* label = qobject_cast<const QLabel*>(control);
            const auto* box = qobject_cast<const QAbstractButton*>(control);
            QString caption = label ? label->text() : box ? box->text() : QString();
            if (caption.remove(QLatin1Char('&')).isEmpty())
                continue;
            ++checked;
            const QFontMetrics metrics = control->fontMetrics();
            if (label && label->wordWrap()) { // a paragraph wraps at its width and must fit the height
                QVERIFY2(control->rect().contains(metrics.boundingRect(
                             control->rect(), int(label->alignment()) | Qt::TextWordWrap, caption)),
                         qPrintable(control->objectName()));
                continue;
            }
            // The text, plus the indicator of a check box or an option button, or a button's margins.
            const auto metric = [&](QStyle::PixelMetric m) {
                return control->style()->pixelMetric(m, nullptr, control);
            };
            int needed = metrics.horizontalAdvance(caption);
            if (qobject_cast<const QCheckBox*>(control))
                needed += metric(QStyle::PM_IndicatorWidth) + metric(QStyle::PM_CheckBoxLabelSpacing);
            else if (qobject_cast<const QRadioButton*>(control))
                needed +=
                    metric(QStyle::PM_ExclusiveIndicatorWidth) + metric(QStyle::PM_RadioButtonLabelSpacing);
            else if (box)
                needed += 2 * metric(QStyle::PM_ButtonMargin);
            QVERIFY2(needed <= control->width() && metrics.height() <= control->height(),
                     qPrintable(control->objectName() + QLatin1Char(' ') + caption));
        }
        QVERIFY(checked > 0);
        auto* pressed = shown->findChild<QPushButton*>(button);
        QSignalSpy clicked(pressed, &QPushButton::clicked);
        QTest::keyClick(pressed, Qt::Key(key), key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
        QCOMPARE(clicked.count(), 1);
    }
};

QTEST_MAIN(StartWindowTest)
#include "tst_startwindow.moc"
