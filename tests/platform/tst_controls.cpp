// The controls the windows are built from: file list, directory list, drive list, hit list, message box.

#include "platform/directorylist.h"
#include "platform/drivelist.h"
#include "platform/filelist.h"
#include "platform/hitlist.h"
#include "platform/messagebox.h"
#include "support/files.h"
#include "support/lists.h"
#include "support/seams.h"

#include <QAbstractButton>
#include <QApplication>
#include <QListWidget>
#include <QMessageBox>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolTip>

using namespace kelvara;
using namespace kelvara::test;

class ControlsTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;

    static void showOn(QAbstractItemView& view)
    {
        view.resize(200, 300);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
    }

private slots:
    void init() { dir = std::make_unique<QTemporaryDir>(); }

    void fileListSelectionByCode()
    {
        const QString later = dir->filePath(QStringLiteral("later"));
        FileList list;
        const std::optional<FileError> error = list.setPath(later);
        QVERIFY(error && error->kind == FileErrorKind::PathNotFound);
        QVERIFY(QDir().mkdir(later));
        for (const char* name : {"a", "b", "c"})
            touch(later + QLatin1Char('/') + QLatin1String(name));
        QVERIFY(!list.refresh()); // the same directory again
        QSignalSpy clicks(&list, &FileList::click);
        list.setEntrySelected(2, true);
        list.setEntrySelected(0, true);
        QCOMPARE(selectedEntries(list), (QList<int>{0, 2}));
        QVERIFY(!list.isEntrySelected(-1) && !list.isEntrySelected(3));
        QCOMPARE(list.currentText(), QStringLiteral("a")); // selecting makes it current
        list.setEntrySelected(2, false);
        QCOMPARE(list.selectedEntryCount(), 1);
        QVERIFY(!list.refresh());
        QVERIFY(list.count() == 3 && list.selectedEntryCount() == 0 && list.currentText().isEmpty());
        QCOMPARE(clicks.count(), 0); // selections from code raise no click
    }

    // The user's mouse and keyboard selection, after entries selected by code, against a plain
    // QListWidget given the same entries, the same selections made entry by entry and the same input.
    void fileListUserSelection_data()
    {
        QTest::addColumn<QList<int>>("byCode");
        QTest::addColumn<QString>("input"); // N: click row N, v: arrow down, a: A; after + Shift, ^ Ctrl
        const QList<int> command{0, 1, 2, 3};
        QTest::newRow("shift range, ctrl toggle") << QList<int>{} << QStringLiteral("0 +2 ^1");
        QTest::newRow("ctrl after a command") << command << QStringLiteral("^1");
        QTest::newRow("shift after a command") << command << QStringLiteral("+5");
        QTest::newRow("ctrl, shift after a command") << command << QStringLiteral("^5 +1");
        QTest::newRow("arrow after a command") << command << QStringLiteral("v");
        QTest::newRow("shift arrow after a command") << command << QStringLiteral("+v");
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
        for (int k = 0; k < list.count(); ++k)
            plain.addItem(list.entryText(k));
        showOn(list);
        showOn(plain);
        QSignalSpy clicks(&list, &FileList::click);
        for (const int k : byCode) {
            list.setEntrySelected(k, true);
            plain.selectionModel()->setCurrentIndex(plain.model()->index(k, 0), QItemSelectionModel::Select);
        }
        QCoreApplication::processEvents();
        QCOMPARE(clicks.count(), 0);
        for (QAbstractItemView* view : std::initializer_list<QAbstractItemView*>{&list, &plain}) {
            for (const QString& step : input.split(QLatin1Char(' '))) {
                const Qt::KeyboardModifiers modifiers = step[0] == QLatin1Char('+')   ? Qt::ShiftModifier
                                                        : step[0] == QLatin1Char('^') ? Qt::ControlModifier
                                                                                      : Qt::NoModifier;
                const QChar last = step.back();
                if (last.isDigit())
                    QTest::mouseClick(view->viewport(), Qt::LeftButton, modifiers,
                                      view->visualRect(view->model()->index(last.digitValue(), 0)).center());
                else
                    QTest::keyClick(view, last == QLatin1Char('v') ? Qt::Key_Down : Qt::Key_A, modifiers);
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

    // The open directory's ancestors, then its visible subdirectories by name, case ignored; a double
    // click opens one, and a path that is gone opens its nearest existing ancestor.
    void directoryList()
    {
        const QString open = dir->filePath(QStringLiteral("open"));
        for (const char* sub : {"open/Beta", "open/alpha/deep", "open/.hidden"})
            QVERIFY(QDir(dir->path()).mkpath(QLatin1String(sub)));
        touch(open + QStringLiteral("/file"));
        DirectoryList list;
        QSignalSpy changes(&list, &DirectoryList::changed);
        list.setPath(open + QStringLiteral("/")); // the trailing separator names the same directory
        list.setPath(open);
        QCOMPARE(changes.count(), 1);
        const int openRow = list.openIndex();
        QCOMPARE(list.entryPath(openRow - 1), dir->path());
        QCOMPARE(list.entryPath(openRow), open);
        QCOMPARE(list.highlightedIndex(), openRow);
        QCOMPARE(list.count(), openRow + 3);
        QCOMPARE(list.entryPath(openRow + 2), open + QStringLiteral("/Beta"));
        showOn(list);
        const QPoint child = list.visualItemRect(list.item(openRow + 1)).center();
        QTest::mousePress(list.viewport(), Qt::LeftButton, {}, child);
        QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, child);
        QCOMPARE(list.path(), open + QStringLiteral("/alpha"));
        list.setPath(dir->filePath(QStringLiteral("gone/too")));
        QCOMPARE(list.path(), dir->path());
        QCOMPARE(list.entryPath(0), QStringLiteral("/"));
    }

    void driveListChangesOnlyWhenTheDriveDiffers()
    {
        const QString media = dir->filePath(QStringLiteral("media"));
        QVERIFY(QDir().mkpath(media + QStringLiteral("/a/b")));
        DrivesForTest drives({media, QStringLiteral("/")});
        DriveList list;
        QCOMPARE(list.entryText(0), QStringLiteral("/")); // the root comes first
        QSignalSpy changes(&list, &DriveList::changed);
        list.setDriveFromPath(media + QStringLiteral("/a/b"));
        list.setDriveFromPath(media + QStringLiteral("/a"));
        QVERIFY(list.drive() == media && changes.count() == 1);
        list.setDriveFromPath(dir->path());
        QVERIFY(list.selectedIndex() == 0 && changes.count() == 2);
    }

    // Rows keep their exact text and are drawn on one line. Appended rows reach the view in bulk once
    // the event loop runs, the list keeps showing its top, a row wider than the list is its own
    // tooltip, and only the user's clicks are signalled.
    void hitList()
    {
        HitList list;
        const QStringList rows{QStringLiteral("  alma\tkörte "), QStringLiteral("a\nb"),
                               QStringLiteral("\x01\x7F"), QStringLiteral("a\u0085b\u2028c")};
        const QStringList drawn{rows[0], QStringLiteral("a\u21B5b"), QStringLiteral("\u2401\u2421"),
                                QStringLiteral("a\uFFFDb\uFFFDc")};
        for (int k = 0; k < 4; ++k) {
            list.addItem(rows[k]);
            list.flush();
            QVERIFY(list.text(k) == rows[k] && list.model()->index(k, 0).data().toString() == drawn[k]);
        }
        list.clear();
        QCOMPARE(list.model()->rowCount(), 0);
        showOn(list);
        QSignalSpy inserted(list.model(), &QAbstractItemModel::rowsInserted);
        const QString wide = QStringLiteral("wide\n").repeated(40);
        list.addItem(wide);
        for (int i = 0; i < 1000; ++i)
            list.appendRow("row");
        QTRY_COMPARE(list.model()->rowCount(), 1001);
        QCOMPARE(inserted.count(), 1);
        QCoreApplication::processEvents();
        QVERIFY(list.indexAt(QPoint(1, 1)).row() == 0 && list.horizontalScrollBar()->value() == 0);
        for (int k : {1, 0}) { // a row that fits has none
            const QPoint at = list.visualRect(list.model()->index(k, 0)).center();
            QHelpEvent help(QEvent::ToolTip, at, list.viewport()->mapToGlobal(at));
            QApplication::sendEvent(list.viewport(), &help);
            QCOMPARE(QToolTip::isVisible(), k == 0);
        }
        QVERIFY(QToolTip::text().contains(displayRow(wide)));
        QSignalSpy clicks(&list, &HitList::click);
        clickRow(list, 1);
        QCOMPARE(list.selectedIndex(), 1);
        list.deselect(1);
        QVERIFY(list.selectedIndex() == -1 && clicks.count() == 1);
    }

    // The real message box: the button pressed comes back, and closing it counts as Cancel (as Ok
    // when Ok is its only button).
    void messageBoxAnswers_data()
    {
        QTest::addColumn<MsgButtons>("buttons");
        QTest::addColumn<int>("press"); // a standard button to click, or 0 to close the box
        QTest::addColumn<MsgAnswer>("answer");
        QTest::newRow("retry") << MsgButtons::RetryCancel << int(QMessageBox::Retry) << MsgAnswer::Retry;
        QTest::newRow("closed") << MsgButtons::RetryCancel << 0 << MsgAnswer::Cancel;
        QTest::newRow("ok only, closed") << MsgButtons::Ok << 0 << MsgAnswer::Ok;
    }
    void messageBoxAnswers()
    {
        QFETCH(MsgButtons, buttons);
        QFETCH(int, press);
        QTimer::singleShot(0, this, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box && box->windowTitle() == QStringLiteral("Fájlhiba"));
            if (press)
                box->button(QMessageBox::StandardButton(press))->click();
            else
                box->close();
        });
        QTEST(WidgetMessageBox().ask(
                  {QStringLiteral("Szöveg"), MsgIcon::Exclamation, buttons, QStringLiteral("Fájlhiba")}),
              "answer");
    }
};

QTEST_MAIN(ControlsTest)
#include "tst_controls.moc"
