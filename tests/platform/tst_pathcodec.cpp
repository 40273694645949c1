// Paths keep every byte of a file name, UTF-8 or not.

#include "platform/directory.h"
#include "platform/pathcodec.h"
#include "platform/textlines.h"

#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kelvara;

class PathCodecTest : public QObject
{
    Q_OBJECT

private slots:
    void everySingleByteRoundTrips()
    {
        for (int b = 0; b < 256; ++b) {
            const QByteArray bytes(1, char(b));
            QCOMPARE(pathToBytes(pathFromBytes(bytes)), bytes);
        }
    }

    void sequences_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("keptBytes"); // bytes that are not valid UTF-8
        QTest::newRow("ascii") << QByteArray("plain.txt") << 0;
        QTest::newRow("hungarian utf-8") << QByteArray("\xc3\xa1rv\xc3\xadzt\xc5\xb1r\xc5\x91") << 0;
        QTest::newRow("four-byte") << QByteArray("\xf0\x9f\x98\x80") << 0;
        QTest::newRow("windows-1250") << QByteArray("\xe1rv\xedzt\xfbr\xf5.txt") << 4;
        QTest::newRow("overlong") << QByteArray("\xc0\xaf") << 2;
        QTest::newRow("surrogate") << QByteArray("\xed\xa0\x80") << 3;
        QTest::newRow("above U+10FFFF") << QByteArray("\xf4\x90\x80\x80") << 4;
        QTest::newRow("cut short") << QByteArray("a\xe2\x82") << 2;
        QTest::newRow("kept byte then valid") << QByteArray("\xff\xc3\xa9") << 1;
        // Low surrogates in the kept-byte range: U+1F4A9 is D83D DCA9, U+1F480 is D83D DC80.
        QTest::newRow("U+1F4A9") << QByteArray("work\xf0\x9f\x92\xa9") << 0;
        QTest::newRow("U+1F480") << QByteArray("\xf0\x9f\x92\x80") << 0;
        QTest::newRow("mixed with kept bytes")
            << QByteArray("\xa9\xf0\x9f\x92\xa9\xa9\xf0\x9f\x92\x80\xed\xb2\xa9\xf0\x9f\x92") << 8;
    }

    void sequences()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, keptBytes);
        const QString path = pathFromBytes(bytes);
        QCOMPARE(pathToBytes(path), bytes);
        QCOMPARE(int(displayPath(path).count(QChar::ReplacementCharacter)), keptBytes);
        if (keptBytes == 0)
            QCOMPARE(path, QString::fromUtf8(bytes));
    }

    void aLegacyNamedFileCanBeListedAndOpened()
    {
        QTemporaryDir root;
        const QByteArray dir = QFile::encodeName(root.path()) + "/\xe9rt\xe9k"; // "érték" in Windows-1250
        QCOMPARE(::mkdir(dir.constData(), 0755), 0);
        const QByteArray file = dir + "/\xe1rv\xedz.txt";
        const int fd = ::open(file.constData(), O_WRONLY | O_CREAT, 0644);
        QVERIFY(fd >= 0);
        QCOMPARE(::write(fd, "sor\r\n", 5), ssize_t(5));
        ::close(fd);

        std::vector<DirectoryEntry> dirs, files;
        QVERIFY(!listSubdirectories(root.path(), dirs));
        QCOMPARE(dirs.size(), size_t(1));
        const QString dirPath = joinPath(root.path(), dirs[0].text);
        QVERIFY(isDirectory(dirPath));
        QVERIFY(!listFiles(dirPath, files));
        QCOMPARE(files.size(), size_t(1));

        LineReader reader;
        QVERIFY(!reader.open(pathToBytes(joinPath(dirPath, files[0].text))));
        std::string_view line;
        QCOMPARE(reader.next(line), LineReader::Status::Line);
        QCOMPARE(line, std::string_view("sor"));
        reader.close();
        QCOMPARE(::unlink(file.constData()), 0); // QTemporaryDir cannot remove these names itself
        QCOMPARE(::rmdir(dir.constData()), 0);
    }
};

QTEST_APPLESS_MAIN(PathCodecTest)
#include "tst_pathcodec.moc"
