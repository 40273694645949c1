#include "platform/directory.h"
#include "platform/pathcodec.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kelvara;
using Names = QList<QByteArray>;

class TestDirectory : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void listing_data();
    void listing();
    void errors_data();
    void errors();
    void firstOrdinaryEntry_data();
    void firstOrdinaryEntry();
    void joinPath_data();
    void joinPath();
    void isDirectory_data();
    void isDirectory();

private:
    QByteArray path(const char* name) const { return QFile::encodeName(dir_.path()) + '/' + name; }

    QTemporaryDir dir_;
};

void TestDirectory::initTestCase()
{
    QVERIFY(dir_.isValid());
    for (const char* sub : {"sub", "Zed", ".hiddendir"})
        QVERIFY(::mkdir(path(sub).constData(), 0755) == 0);
    // Created through the raw bytes: the last name is not UTF-8.
    for (const char* file : {"A", "B", "C.txt", "b", "a", "c.txt", ".hidden", "sub/inner", "\xe9t\xe9"}) {
        const int fd = ::open(path(file).constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        QVERIFY(fd >= 0);
        ::close(fd);
    }
    QVERIFY(::mkfifo(path("fifo").constData(), 0644) == 0);
    QVERIFY(::symlink("b", path("link-file").constData()) == 0);
    QVERIFY(::symlink("sub", path("link-dir").constData()) == 0);
    QVERIFY(::symlink("nowhere", path("dangling").constData()) == 0);
}

void TestDirectory::cleanupTestCase()
{
    // QTemporaryDir goes through QString names and cannot reach this one.
    ::unlink(path("\xe9t\xe9").constData());
}

void TestDirectory::listing_data()
{
    QTest::addColumn<bool>("subdirectories");
    QTest::addColumn<Names>("names");
    // Case-insensitive first ("b" before "C.txt"), then by bytes ("B" before "b"); the kept bytes of a
    // non-UTF-8 name sort last.
    QTest::newRow("files") << false << Names{"A", "a", "B", "b", "C.txt", "c.txt", "link-file", "\xe9t\xe9"};
    QTest::newRow("subdirectories") << true << Names{"link-dir", "sub", "Zed"};
}

void TestDirectory::listing()
{
    QFETCH(bool, subdirectories);
    QFETCH(Names, names);
    std::vector<DirectoryEntry> entries{{"stale", QStringLiteral("stale")}};
    const auto error =
        subdirectories ? listSubdirectories(dir_.path(), entries) : listFiles(dir_.path(), entries);
    QVERIFY(!error);
    Names listed;
    for (const DirectoryEntry& entry : entries) {
        listed.append(entry.name);
        QCOMPARE(pathToBytes(entry.text), entry.name);
    }
    QCOMPARE(listed, names);
}

void TestDirectory::errors_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("code");
    QTest::newRow("missing") << QStringLiteral("missing") << ENOENT;
    QTest::newRow("a file") << QStringLiteral("b") << ENOTDIR;
    QTest::newRow("dangling link") << QStringLiteral("dangling") << ENOENT;
}

void TestDirectory::errors()
{
    QFETCH(QString, name);
    QFETCH(int, code);
    const QString target = dir_.filePath(name);
    const FileError expected = FileError::fromErrno(code);
    QCOMPARE(expected.kind, FileErrorKind::PathNotFound);

    std::vector<DirectoryEntry> entries{{"stale", QStringLiteral("stale")}};
    QCOMPARE(listFiles(target, entries), expected);
    QVERIFY(entries.empty());
    entries.push_back({"stale", QStringLiteral("stale")});
    QCOMPARE(listSubdirectories(target, entries), expected);
    QVERIFY(entries.empty());
    QString first = QStringLiteral("stale");
    QCOMPARE(kelvara::firstOrdinaryEntry(target, first), expected);
}

void TestDirectory::firstOrdinaryEntry_data()
{
    QTest::addColumn<QStringList>("dirs");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QString>("first");
    QTest::newRow("empty") << QStringList{} << QStringList{} << QString();
    QTest::newRow("only directories")
        << QStringList{QStringLiteral("x"), QStringLiteral(".y")} << QStringList{} << QString();
    QTest::newRow("a file among directories") << QStringList{QStringLiteral("x"), QStringLiteral("z")}
                                              << QStringList{QStringLiteral("f")} << QStringLiteral("f");
    QTest::newRow("a hidden file counts")
        << QStringList{} << QStringList{QStringLiteral(".h")} << QStringLiteral(".h");
}

void TestDirectory::firstOrdinaryEntry()
{
    QFETCH(QStringList, dirs);
    QFETCH(QStringList, files);
    QFETCH(QString, first);
    QTemporaryDir root;
    for (const QString& d : dirs)
        QVERIFY(QDir(root.path()).mkdir(d));
    for (const QString& f : files)
        QVERIFY(QFile(root.filePath(f)).open(QIODevice::WriteOnly));
    QString name = QStringLiteral("stale");
    QVERIFY(!kelvara::firstOrdinaryEntry(root.path(), name));
    QCOMPARE(name, first);
}

void TestDirectory::joinPath_data()
{
    QTest::addColumn<QString>("directory");
    QTest::addColumn<QString>("joined");
    QTest::newRow("root") << QStringLiteral("/") << QStringLiteral("/a");
    QTest::newRow("plain") << QStringLiteral("/home") << QStringLiteral("/home/a");
    QTest::newRow("trailing separator") << QStringLiteral("/home/") << QStringLiteral("/home/a");
}

void TestDirectory::joinPath()
{
    QFETCH(QString, directory);
    QFETCH(QString, joined);
    QCOMPARE(kelvara::joinPath(directory, QStringLiteral("a")), joined);
}

void TestDirectory::isDirectory_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("directory");
    QTest::newRow("link to a directory") << QStringLiteral("link-dir") << true;
    QTest::newRow("file") << QStringLiteral("b") << false;
    QTest::newRow("FIFO") << QStringLiteral("fifo") << false;
    QTest::newRow("dangling link") << QStringLiteral("dangling") << false;
}

void TestDirectory::isDirectory()
{
    QFETCH(QString, name);
    QFETCH(bool, directory);
    QCOMPARE(kelvara::isDirectory(dir_.filePath(name)), directory);
}

QTEST_APPLESS_MAIN(TestDirectory)
#include "tst_directory.moc"
