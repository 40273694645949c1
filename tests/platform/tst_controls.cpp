// The controls the windows are built from: file list, directory list, drive list.

#include "platform/directorylist.h"
#include "platform/drivelist.h"
#include "platform/filelist.h"
#include "platform/hitlist.h"
#include "platform/messagebox.h"
#include "platform/volumes.h"
#include "support/files.h"
#include "support/lists.h"
#include "support/seams.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QMessageBox>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolTip>

using namespace kelvara;
using namespace kelvara::test;

namespace {

QStringList texts(const FileList& list)
{
    QStringList result;
    for (int k = 0; k < list.count(); ++k)
        result << list.entryText(k);
    return result;
}

QStringList paths(const DirectoryList& list)
{
    QStringList result;
    for (int k = 0; k < list.count(); ++k)
        result << list.entryPath(k);
    return result;
}

} // namespace

class ControlsTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid());
    }

    void fileListSelection()
    {
        for (const char* name : {"a", "b", "c"})
            touch(dir->filePath(QLatin1String(name)));
        FileList list;
        QVERIFY(!list.setPath(dir->path()));
        QSignalSpy clicks(&list, &FileList::click);
        QCOMPARE(list.currentText(), QString());

        list.setEntrySelected(2, true);
        list.setEntrySelected(0, true);
        QVERIFY(list.isEntrySelected(0));
        QVERIFY(!list.isEntrySelected(1));
        QVERIFY(list.isEntrySelected(2));
        QCOMPARE(list.currentText(), QStringLiteral("a")); // selecting makes it current
        list.setEntrySelected(2, false);
        QVERIFY(!list.isEntrySelected(2));
        QCOMPARE(clicks.count(), 0); // selections from code raise no click

        QVERIFY(!list.refresh());
        QCOMPARE(list.count(), 3);
        QVERIFY(!list.isEntrySelected(0));
        QCOMPARE(list.currentText(), QString());
        QCOMPARE(clicks.count(), 0);
    }

    // The user's mouse and keyboard selection, after entries selected by code, against a plain
    // QListWidget given the same entries, the same selections made entry by entry and the same input.
    void fileListUserSelection_data()
    {
        QTest::addColumn<QList<int>>("byCode");
        QTest::addColumn<QString>("input"); // N: click, +N: Shift+click, ^N: Ctrl+click, keys
        QTest::newRow("shift range, ctrl toggle") << QList<int>{} << QStringLiteral("0 +2 ^1");
        QTest::newRow("ctrl after a command") << QList<int>{0, 1, 2, 3} << QStringLiteral("^1");
        QTest::newRow("shift after a command") << QList<int>{0, 1, 2, 3} << QStringLiteral("+5");
        QTest::newRow("ctrl, shift after a command") << QList<int>{0, 1, 2, 3} << QStringLiteral("^5 +1");
        QTest::newRow("arrow after a command") << QList<int>{0, 1, 2, 3} << QStringLiteral("down");
        QTest::newRow("shift arrow after a command") << QList<int>{0, 1, 2, 3} << QStringLiteral("+down");
        QTest::newRow("out of order") << QList<int>{2, 0, 1} << QStringLiteral("+4 ^0");
        QTest::newRow("select all") << QList<int>{1, 2} << QStringLiteral("^a ^3");
    }

    void fileListUserSelection()
    {
        QFETCH(QList<int>, byCode);
        QFETCH(QString, input);
        for (const char* name : {"a", "b", "c", "d", "e", "f"})
            touch(dir->filePath(QLatin1String(name)));
        FileList list;
        QListWidget plain;
        QVERIFY(!list.setPath(dir->path()));
        plain.setSelectionMode(QAbstractItemView::ExtendedSelection);
        plain.addItems(texts(list));
        for (QAbstractItemView* view : std::initializer_list<QAbstractItemView*>{&list, &plain}) {
            view->resize(200, 300);
            view->show();
            QVERIFY(QTest::qWaitForWindowExposed(view));
        }
        QSignalSpy clicks(&list, &FileList::click);
        for (const int k : byCode) {
            list.setEntrySelected(k, true);
            plain.selectionModel()->setCurrentIndex(plain.model()->index(k, 0), QItemSelectionModel::Select);
        }
        QCoreApplication::processEvents();
        QCOMPARE(clicks.count(), 0);
        for (QAbstractItemView* view : std::initializer_list<QAbstractItemView*>{&list, &plain}) {
            for (QString step : input.split(QLatin1Char(' '))) {
                Qt::KeyboardModifiers modifiers;
                if (step.startsWith(QLatin1Char('+')))
                    modifiers = Qt::ShiftModifier;
                else if (step.startsWith(QLatin1Char('^')))
                    modifiers = Qt::ControlModifier;
                if (modifiers)
                    step.remove(0, 1);
                bool isRow = false;
                const int row = step.toInt(&isRow);
                if (isRow)
                    QTest::mouseClick(view->viewport(), Qt::LeftButton, modifiers,
                                      view->visualRect(view->model()->index(row, 0)).center());
                else
                    QTest::keyClick(view,
                                    step == QLatin1String("down") ? Qt::Key_Down
                                    : step == QLatin1String("up") ? Qt::Key_Up
                                                                  : Qt::Key_A,
                                    modifiers);
            }
        }
        QList<int> expected;
        for (int k = 0; k < plain.count(); ++k)
            if (plain.item(k)->isSelected())
                expected.append(k);
        QCOMPARE(selectedEntries(list), expected);
        QCOMPARE(list.selectedEntryCount(), expected.size());
        QCOMPARE(list.currentText(), plain.currentItem()->text());
        QVERIFY(clicks.count() >= 1);
    }

    void fileListOfAMissingDirectoryIsEmptyAndTriesAgain()
    {
        const QString missing = dir->filePath(QStringLiteral("later"));
        FileList list;
        const std::optional<FileError> error = list.setPath(missing);
        QVERIFY(error);
        QCOMPARE(error->kind, FileErrorKind::PathNotFound);
        QCOMPARE(list.count(), 0);
        QVERIFY(QDir().mkdir(missing));
        touch(missing + QStringLiteral("/x"));
        QVERIFY(!list.refresh());
        QCOMPARE(texts(list), QStringList{QStringLiteral("x")});
    }

    void directoryListShowsAncestorsOpenDirectoryAndChildren()
    {
        const QString open = dir->filePath(QStringLiteral("open"));
        for (const char* sub : {"open/Beta", "open/alpha", "open/.hidden", "open/alpha/deep"})
            QVERIFY(QDir(dir->path()).mkpath(QLatin1String(sub)));
        touch(open + QStringLiteral("/file"));

        DirectoryList list;
        QSignalSpy changes(&list, &DirectoryList::changed);
        list.setPath(open + QStringLiteral("/")); // the trailing separator names the same directory
        QCOMPARE(changes.count(), 1);
        QCOMPARE(list.path(), open);

        QStringList expected{QStringLiteral("/")};
        for (const QString& part : open.split(QLatin1Char('/'), Qt::SkipEmptyParts))
            expected << expected.last() + (expected.size() > 1 ? QStringLiteral("/") : QString()) + part;
        const int openRow = int(expected.size()) - 1;
        expected << open + QStringLiteral("/alpha") << open + QStringLiteral("/Beta");
        QCOMPARE(paths(list).join(QLatin1Char('|')), expected.join(QLatin1Char('|')));
        QCOMPARE(list.openIndex(), openRow);
        QCOMPARE(list.highlightedIndex(), openRow);

        list.setPath(open);
        QCOMPARE(changes.count(), 1); // the same path again raises nothing

        list.resize(300, 300);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        const QPoint child = list.visualItemRect(list.item(openRow + 1)).center();
        QTest::mousePress(list.viewport(), Qt::LeftButton, {}, child);
        QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, child);
        QCOMPARE(list.path(), open + QStringLiteral("/alpha"));
        QCOMPARE(changes.count(), 2);
    }

    void directoryListFallsBackToTheNearestExistingAncestor()
    {
        DirectoryList list;
        list.setPath(dir->filePath(QStringLiteral("gone/too")));
        QCOMPARE(list.path(), dir->path());
    }

    void driveListChangesOnlyWhenTheDriveDiffers()
    {
        const QString media = dir->filePath(QStringLiteral("media"));
        QVERIFY(QDir().mkpath(media + QStringLiteral("/a/b")));
        DrivesForTest drives({media, QStringLiteral("/")});
        DriveList list;
        QCOMPARE(list.count(), 2);
        QCOMPARE(list.entryText(0), QStringLiteral("/")); // the root comes first
        QSignalSpy changes(&list, &DriveList::changed);

        list.setDriveFromPath(media + QStringLiteral("/a/b"));
        QCOMPARE(list.drive(), media);
        QCOMPARE(changes.count(), 1);
        list.setDriveFromPath(media + QStringLiteral("/a"));
        QCOMPARE(changes.count(), 1);
        list.setDriveFromPath(dir->path());
        QCOMPARE(list.drive(), QStringLiteral("/"));
        QCOMPARE(list.selectedIndex(), 0);
        QCOMPARE(changes.count(), 2);
    }

    // Rows keep their exact text; the view draws each on one line.
    void hitListRowsAreDrawnOnOneLine_data()
    {
        QTest::addColumn<QString>("row");
        QTest::addColumn<QString>("drawn");
        QTest::newRow("plain") << QStringLiteral("  alma\tkörte ") << QStringLiteral("  alma\tkörte ");
        QTest::newRow("line feed") << QStringLiteral("a\nb") << QStringLiteral("a\u21B5b");
        QTest::newRow("other controls") << QStringLiteral("\x01\x7F") << QStringLiteral("\u2401\u2421");
        QTest::newRow("line breaking")
            << QStringLiteral("a\u0085b\u2028c") << QStringLiteral("a\uFFFDb\uFFFDc");
    }
    void hitListRowsAreDrawnOnOneLine()
    {
        QFETCH(QString, row);
        QFETCH(QString, drawn);
        HitList list;
        list.addItem(QStringLiteral("first"));
        list.addItem(row);
        QCOMPARE(list.count(), 2);
        QCOMPARE(list.text(1), row);
        list.flush();
        QCOMPARE(list.model()->rowCount(), 2);
        QCOMPARE(list.model()->index(1, 0).data().toString(), drawn);
        list.clear();
        QCOMPARE(list.count(), 0);
        QCOMPARE(list.model()->rowCount(), 0);
    }

    // Rows appended without an explicit flush reach the view once the event loop runs, in bulk;
    // the list keeps showing its top. A row wider than the list is its own tooltip.
    void hitListShowsAppendedRowsInBulk()
    {
        HitList list;
        list.resize(200, 100);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        QSignalSpy inserted(list.model(), &QAbstractItemModel::rowsInserted);
        const QString wide = QStringLiteral("wide\n").repeated(40);
        list.addItem(wide);
        for (int i = 0; i < 1000; ++i)
            list.appendRow("row");
        QCOMPARE(list.count(), 1001);
        QTRY_COMPARE(list.model()->rowCount(), 1001);
        QCOMPARE(inserted.count(), 1);
        QCoreApplication::processEvents();
        QCOMPARE(list.indexAt(QPoint(1, 1)).row(), 0);
        QCOMPARE(list.horizontalScrollBar()->value(), 0);
        for (int k : {1, 0}) { // a row that fits has none
            const QPoint at = list.visualRect(list.model()->index(k, 0)).center();
            QHelpEvent help(QEvent::ToolTip, at, list.viewport()->mapToGlobal(at));
            QApplication::sendEvent(list.viewport(), &help);
            QCOMPARE(QToolTip::isVisible(), k == 0);
            if (k == 0)
                QVERIFY(QToolTip::text().contains(displayRow(wide)));
        }
    }

    void hitListClickComesFromTheUserOnly()
    {
        HitList list;
        for (const char* row : {"*****", "hit"})
            list.appendRow(row);
        list.flush();
        list.resize(200, 100);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        QSignalSpy clicks(&list, &HitList::click);
        QTest::mouseClick(list.viewport(), Qt::LeftButton, {},
                          list.visualRect(list.model()->index(1, 0)).center());
        QCOMPARE(list.selectedIndex(), 1);
        QCOMPARE(clicks.count(), 1);
        list.deselect(1);
        QCOMPARE(list.selectedIndex(), -1);
        QCOMPARE(clicks.count(), 1);
    }

    // The real message box: the button pressed comes back, and closing it counts as Cancel (as Ok
    // when Ok is its only button).
    void messageBoxAnswers_data()
    {
        QTest::addColumn<MsgButtons>("buttons");
        QTest::addColumn<int>("press"); // a standard button to click, or 0 to close the box
        QTest::addColumn<MsgAnswer>("answer");
        QTest::newRow("retry") << MsgButtons::RetryCancel << int(QMessageBox::Retry) << MsgAnswer::Retry;
        QTest::newRow("cancel") << MsgButtons::RetryCancel << int(QMessageBox::Cancel) << MsgAnswer::Cancel;
        QTest::newRow("closed") << MsgButtons::RetryCancel << 0 << MsgAnswer::Cancel;
        QTest::newRow("ok only, closed") << MsgButtons::Ok << 0 << MsgAnswer::Ok;
    }

    void messageBoxAnswers()
    {
        QFETCH(MsgButtons, buttons);
        QFETCH(int, press);
        QFETCH(MsgAnswer, answer);
        QString shownTitle;
        QTimer::singleShot(0, this, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box);
            shownTitle = box->windowTitle();
            if (press)
                box->button(QMessageBox::StandardButton(press))->click();
            else
                box->close();
        });
        QCOMPARE(WidgetMessageBox().ask(
                     {QStringLiteral("Szöveg"), MsgIcon::Exclamation, buttons, QStringLiteral("Fájlhiba")}),
                 answer);
        QCOMPARE(shownTitle, QStringLiteral("Fájlhiba"));
    }

private:
    std::unique_ptr<QTemporaryDir> dir;
};

QTEST_MAIN(ControlsTest)
#include "tst_controls.moc"
