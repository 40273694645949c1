// The controls the windows are built from: file list, directory list, drive list.

#include "platform/directorylist.h"
#include "platform/drivelist.h"
#include "platform/filelist.h"
#include "platform/volumes.h"
#include "support/seams.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace kelvara;
using namespace kelvara::test;

namespace {

void touch(const QString& path)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
}

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

    void fileListClickComesFromTheUser()
    {
        for (const char* name : {"a", "b", "c"})
            touch(dir->filePath(QLatin1String(name)));
        FileList list;
        QVERIFY(!list.setPath(dir->path()));
        list.resize(200, 200);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        QSignalSpy clicks(&list, &FileList::click);
        const QRect first = list.visualItemRect(list.item(0));
        const QRect third = list.visualItemRect(list.item(2));
        QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, first.center());
        QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::ShiftModifier, third.center());
        QVERIFY(clicks.count() >= 2);
        QVERIFY(list.isEntrySelected(0) && list.isEntrySelected(1) && list.isEntrySelected(2));
        QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::ControlModifier,
                          list.visualItemRect(list.item(1)).center());
        QVERIFY(list.isEntrySelected(0) && !list.isEntrySelected(1) && list.isEntrySelected(2));
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

private:
    std::unique_ptr<QTemporaryDir> dir;
};

QTEST_MAIN(ControlsTest)
#include "tst_controls.moc"
