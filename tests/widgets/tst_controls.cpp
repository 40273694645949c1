// The controls the windows are built from; the directory list is tried in the start window (tests/app).

#include "support/files.h"
#include "support/lists.h"
#include "support/seams.h"
#include "widgets/drivelist.h"
#include "widgets/filelist.h"
#include "widgets/hitlist.h"
#include "widgets/look.h"
#include "widgets/messagebox.h"

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
using namespace Qt::StringLiterals;

namespace {

// Counts what the list tells assistive technology, which the offscreen platform never hears.
struct AnnouncingFileList : FileList
{
    int announcements = 0;
    void announceSelection() override { ++announcements; }
};

} // namespace

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

    // The user's mouse and keyboard selection, after entries selected by code, against a plain
    // QListWidget given the same entries, the same selections made entry by entry and the same input.
    void fileListUserSelection_data()
    {
        QTest::addColumn<QList<int>>("byCode");
        // N: click row N, N>M: drag from row N to M, v: arrow down, a: A; after + Shift, ^ Ctrl
        QTest::addColumn<QString>("input");
        const QList<int> command{0, 1, 2, 3};
        QTest::newRow("shift range, ctrl toggle") << QList<int>{} << u"0 +2 ^1"_s;
        QTest::newRow("ctrl after a command") << command << u"^1"_s;
        QTest::newRow("shift after a command") << command << u"+5"_s;
        QTest::newRow("ctrl, shift after a command") << command << u"^5 +1"_s;
        QTest::newRow("arrow after a command") << command << u"v"_s;
        QTest::newRow("shift arrow after a command") << command << u"+v"_s;
        QTest::newRow("out of order") << QList<int>{2, 0, 1} << u"+4 ^0"_s;
        QTest::newRow("drag") << QList<int>{} << u"1>4"_s; // a click for the press and one for the move
        QTest::newRow("select all") << QList<int>{1, 2} << u"^a ^3"_s;
        // Input that leaves a command's selection as it was still comes as a click.
        QTest::newRow("click on the one entry a command selected") << QList<int>{2} << u"2"_s;
        QTest::newRow("select all after a command selected all") << QList<int>{0, 1, 2, 3, 4, 5} << u"^a"_s;
    }
    void fileListUserSelection()
    {
        QFETCH(QList<int>, byCode);
        QFETCH(QString, input);
        AnnouncingFileList list;
        FileListModel& files = list.files();
        const auto currentText = [&] { return files.entryText(files.currentEntry()); };
        makeTree(dir->path(), "file a;file b;file c;file d;file e;file f");
        QVERIFY(!files.setDirectory(dir->path()));
        QListWidget plain;
        plain.setSelectionMode(QAbstractItemView::ExtendedSelection);
        plain.addItems(u"a b c d e f"_s.split(u' '));
        showOn(list);
        showOn(plain);
        QSignalSpy clicks(&list, &FileList::click);
        for (const int k : byCode) {
            files.setEntrySelected(k, true);
            plain.selectionModel()->setCurrentIndex(plain.model()->index(k, 0), QItemSelectionModel::Select);
        }
        QCoreApplication::processEvents();
        QCOMPARE(clicks.count(), 0); // selections from code raise no click
        // What a command selects is told to assistive technology once, not entry by entry.
        QCOMPARE(list.announcements, byCode.isEmpty() ? 0 : 1);
        int presses = 0; // of the list's buttons and keys, Shift and Ctrl too, and a drag's move
        for (QAbstractItemView* view : std::initializer_list<QAbstractItemView*>{&list, &plain}) {
            for (const QString& step : input.split(u' ')) {
                const Qt::KeyboardModifiers modifiers = step[0] == u'+'   ? Qt::ShiftModifier
                                                        : step[0] == u'^' ? Qt::ControlModifier
                                                                          : Qt::NoModifier;
                const QChar last = step.back();
                const auto at = [&](QChar row) {
                    return view->visualRect(view->model()->index(row.digitValue(), 0)).center();
                };
                if (view == &list)
                    presses +=
                        step.contains(u'>') || (!last.isDigit() && modifiers != Qt::NoModifier) ? 2 : 1;
                if (step.contains(u'>')) {
                    QTest::mousePress(view->viewport(), Qt::LeftButton, modifiers, at(step[0]));
                    QMouseEvent move(QEvent::MouseMove, at(last), view->viewport()->mapToGlobal(at(last)),
                                     Qt::NoButton, Qt::LeftButton, modifiers);
                    QApplication::sendEvent(view->viewport(), &move);
                    QTest::mouseRelease(view->viewport(), Qt::LeftButton, modifiers, at(last));
                } else if (last.isDigit())
                    QTest::mouseClick(view->viewport(), Qt::LeftButton, modifiers, at(last));
                else
                    QTest::keyClick(view, last == u'v' ? Qt::Key_Down : Qt::Key_A, modifiers);
            }
        }
        QList<int> expected;
        for (int k = 0; k < plain.count(); ++k)
            if (plain.item(k)->isSelected())
                expected.append(k);
        QCOMPARE(std::tuple(selectedEntries(list), files.selectedEntryCount(), currentText()),
                 std::tuple(expected, expected.size(), plain.currentItem()->text()));
        QCOMPARE(clicks.count(), presses); // one for each, whatever it changed
        // The list empties before the directory is listed again, so that the old entries are freed meanwhile.
        int shownWhileListing = -1;
        QVERIFY(!files.rereadThrough([&](const QString& directory, std::vector<DirectoryEntry>& entries) {
            shownWhileListing = list.model()->rowCount() + files.entryCount();
            return listFiles(directory, entries);
        }));
        QCOMPARE(shownWhileListing, 0);
        QVERIFY(files.entryCount() == 6 && files.selectedEntryCount() == 0 && currentText().isEmpty());
    }

    // Once events are processed, the list scrolls to the current entry that code moved, every time; a code
    // change that leaves the current entry where it was leaves the user's scrolling alone.
    void fileListScrollsToCodeSelection()
    {
        QStringList steps;
        for (int k = 0; k < 100; ++k)
            steps += u"file %1"_s.arg(k, 2, 10, QChar(u'0'));
        makeTree(dir->path(), steps.join(u';').toUtf8());
        FileList list;
        QVERIFY(!list.files().setDirectory(dir->path()));
        showOn(list);
        const auto shown = [&](int k) {
            return list.viewport()->rect().contains(list.visualRect(list.model()->index(k, 0)));
        };
        const std::tuple<int, bool, int> changes[] = {{80, true, 80}, {80, false, 0}, {90, true, 90}};
        for (const auto& [entry, select, seen] : changes) {
            list.files().setEntrySelected(entry, select);
            QCoreApplication::processEvents();
            QVERIFY2(shown(seen), qPrintable(u"%1 %2"_s.arg(entry).arg(select)));
            list.verticalScrollBar()->setValue(0); // the user scrolls to the top
        }
        list.files().setEntrySelected(100, true); // past the end: nothing changes
        QVERIFY(list.files().currentEntry() == 90 && list.files().selectedEntryCount() == 1);
    }

    // A drive that came after the list was filled is found; the drive on show stays listed once gone.
    void driveList()
    {
        const QString media = dir->filePath(u"media"_s);
        QVERIFY(QDir().mkpath(media + u"/a"_s));
        std::optional<DrivesForTest> drives(std::in_place, QStringList{u"/"_s});
        DriveList list;
        drives.emplace(QStringList{media, u"/"_s});
        QSignalSpy changes(&list, &DriveList::changed);
        list.setDriveFromPath(media + u"/a"_s);
        list.setDriveFromPath(media);
        QVERIFY(list.drive() == media && changes.count() == 1);
        drives.emplace(QStringList{u"/"_s});
        list.reload();
        QVERIFY(list.drive() == media && list.count() == 2 && changes.count() == 1);
    }

    // Rows keep their exact text and are drawn on one line; appended rows reach the view in bulk, the list
    // stays at its top, a row wider than the list is its own tooltip, and only the user's clicks signal.
    void hitList()
    {
        HitList list;
        const QStringList rows{u"  alma\tkörte\u00a0"_s, u"a\nb"_s, u"\x01\x7F"_s, u"a\u0080\u0085b\u2028c"_s,
                               u"\uFEFFalma"_s};
        const QStringList drawn{rows[0], u"a\u21B5b"_s, u"\u2401\u2421"_s, u"a\uFFFD\uFFFDb\uFFFDc"_s,
                                rows[4]};
        for (int k = 0; k < 5; ++k) {
            list.addItem(rows[k]);
            list.flush();
            QVERIFY(list.text(k) == rows[k] && list.model()->index(k, 0).data().toString() == drawn[k]);
        }
        QVERIFY(!list.model()->data(QModelIndex()).isValid());
        list.clear();
        showOn(list);
        const auto tipOf = [&](int row) { // the tooltip a hover over the row shows, empty for none
            const QPoint at = list.visualRect(list.model()->index(row, 0)).center();
            QHelpEvent help(QEvent::ToolTip, at, list.viewport()->mapToGlobal(at));
            QApplication::sendEvent(list.viewport(), &help);
            return QToolTip::isVisible() ? QToolTip::text() : QString();
        };
        QSignalSpy inserted(list.model(), &QAbstractItemModel::rowsInserted);
        const QString wide = u"wide\n"_s.repeated(40);
        list.addItem(wide);
        for (int i = 0; i < 1000; ++i)
            list.rows().appendRow("row");
        QTRY_COMPARE(list.model()->rowCount(), 1001);
        QVERIFY(inserted.count() == 1 && inserted[0][2].toInt() == 1000); // one notice, to the last row
        QCoreApplication::processEvents();
        QVERIFY(list.indexAt(QPoint(1, 1)).row() == 0 && list.horizontalScrollBar()->value() == 0);
        QCOMPARE(tipOf(1), QString()); // a row that fits has none
        QVERIFY(tipOf(0).contains(displayRow(wide)));
        QSignalSpy clicks(&list, &HitList::click);
        clickRow(list, 1);
        list.deselect(1);
        QVERIFY(list.selectedIndex() == -1 && clicks.count() == 1);

        // A row of 200 MB: drawn and tipped by its start, no surrogate pair cut in half, and kept whole.
        list.clear();
        std::string huge(200 << 20, 'x');
        huge.replace(size_t(MaxShownRowLength) - 1, 4, "\xF0\x9F\x98\x80");
        huge.back() = 'y';
        list.rows().appendRow(huge);
        list.flush();
        const QString start = QString(MaxShownRowLength - 1, u'x') + u'…';
        QCOMPARE(list.model()->index(0, 0).data().toString(), start);
        QVERIFY(!list.grab().isNull());
        const QString tip = tipOf(0);
        QVERIFY(!tip.isEmpty() && tip.size() < start.size());
        QVERIFY(list.text(0).size() == qsizetype(huge.size()) - 2 && list.text(0).endsWith(u'y'));
        list.rows().appendRow(std::string(size_t(MaxShownRowLength), 'z')); // as long as may be: drawn whole
        list.flush();
        QCOMPARE(list.model()->index(1, 0).data().toString(), QString(MaxShownRowLength, u'z'));
    }

    // The real message box answers the button pressed; closing it is Cancel (Ok when that is its only
    // button). Each box, a command's second too, belongs to the window in front and shows Kelvara's icon.
    void messageBoxAnswers()
    {
        QWidget front;
        front.show();
        QVERIFY(QTest::qWaitForWindowActive(&front));
        // A box each: its buttons, a standard button to click or 0 to close it, and the answer.
        const std::tuple<MsgButtons, int, MsgAnswer> boxes[] = {
            {MsgButtons::RetryCancel, QMessageBox::Retry, MsgAnswer::Retry},
            {MsgButtons::RetryCancel, QMessageBox::Cancel, MsgAnswer::Cancel},
            {MsgButtons::RetryCancel, 0, MsgAnswer::Cancel},
            {MsgButtons::Ok, 0, MsgAnswer::Ok}};
        for (const auto& [buttons, press, answer] : boxes) {
            QWidget* parent = nullptr;
            QImage icon;
            QTimer::singleShot(0, this, [&] {
                auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                if (!box || box->windowTitle() != u"Fájlhiba"_s)
                    return;
                parent = box->parentWidget();
                icon = box->windowIcon().pixmap(16).toImage();
                if (press)
                    box->button(QMessageBox::StandardButton(press))->click();
                else
                    box->close();
            });
            QCOMPARE(WidgetMessageBox().ask({u"Szöveg"_s, MsgIcon::Exclamation, buttons, u"Fájlhiba"_s}),
                     answer);
            QCOMPARE(parent, &front);
            QCOMPARE(icon, iconPixmap(16).toImage());
        }
    }
};

QTEST_MAIN(ControlsTest)
#include "tst_controls.moc"
