#include "platform/fileerror.h"

#include <QTest>
#include <cerrno>

using namespace kelvara;

class TestFileError : public QObject
{
    Q_OBJECT

private slots:
    void kindOfErrno_data();
    void kindOfErrno();
    void message_data();
    void message();
};

void TestFileError::kindOfErrno_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<FileErrorKind>("kind");
    using K = FileErrorKind;
    const std::pair<int, K> rows[] = {
        {ENXIO, K::DeviceUnavailable},
        {EIO, K::DiskNotReady},
        {ENOSPC, K::DiskFull},
        {EFBIG, K::DiskFull},
        {ENAMETOOLONG, K::InvalidFileName},
        {ENOENT, K::PathNotFound},
        {ENOTDIR, K::PathNotFound},
        {EACCES, K::AccessDenied},
        {EROFS, K::AccessDenied},
        {EBUSY, K::AlreadyOpen},
        {0, K::EndOfFile},
        {ENOMEM, K::OutOfMemory},
        {EINVAL, K::Other},
    };
    for (const auto& [code, kind] : rows)
        QTest::addRow("errno %d", code) << code << kind;
}

void TestFileError::kindOfErrno()
{
    QFETCH(int, code);
    QFETCH(FileErrorKind, kind);
    QCOMPARE(fileErrorKind(code), kind);
    const FileError error = FileError::fromErrno(code);
    QCOMPARE(error.kind, kind);
    QCOMPARE(error.code, code);
    if (code == 0)
        QVERIFY(error == FileError::unexpectedEnd());
}

void TestFileError::message_data()
{
    // UTF-8 bytes spelled out, so that no editor can quietly change a letter.
    QTest::addColumn<FileErrorKind>("kind");
    QTest::addColumn<QByteArray>("utf8");
    using K = FileErrorKind;
    QTest::newRow("device") << K::DeviceUnavailable
                            << QByteArray("Az eszk\xc3\xb6z val\xc3\xb3sz\xc3\xadn\xc3\xbbleg nem "
                                          "\xc3\xa9rhet\xc3\xb5 el.");
    QTest::newRow("not ready") << K::DiskNotReady << QByteArray("A lemez nem \xc3\xbczemk\xc3\xa9sz.");
    QTest::newRow("full") << K::DiskFull << QByteArray("A lemez megtelt.");
    QTest::newRow("name") << K::InvalidFileName
                          << QByteArray("\xc3\x89rv\xc3\xa9nytelen f\xc3\xa1jln\xc3\xa9v.");
    QTest::newRow("path") << K::PathNotFound << QByteArray("Az \xc3\xbatvonal nem l\xc3\xa9tezik.");
    QTest::newRow("access") << K::AccessDenied
                            << QByteArray("A f\xc3\xa1jl erre a m\xc3\xbbveletre nem nyithat\xc3\xb3 meg.");
    QTest::newRow("open") << K::AlreadyOpen << QByteArray("A f\xc3\xa1jl m\xc3\xa1r megnyitott.");
    QTest::newRow("eof") << K::EndOfFile
                         << QByteArray("\xc3\x89rv\xc3\xa9nytelen f\xc3\xa1jlv\xc3\xa9ge-jelz\xc3\xb5,vagy "
                                       "k\xc3\xads\xc3\xa9rlet a f\xc3\xa1jlv\xc3\xa9ge jelz\xc3\xb5n "
                                       "t\xc3\xbali olvas\xc3\xa1sra.");
    QTest::newRow("memory") << K::OutOfMemory
                            << QByteArray("Nincs el\xc3\xa9g mem\xc3\xb3ria a f\xc3\xa1jl "
                                          "feldolgoz\xc3\xa1s\xc3\xa1hoz.");
    QTest::newRow("other") << K::Other
                           << QByteArray("Egy\xc3\xa9"
                                         "b hiba - a lemezegys\xc3\xa9g nem \xc3\xbczemk\xc3\xa9sz.");
}

void TestFileError::message()
{
    QFETCH(FileErrorKind, kind);
    QFETCH(QByteArray, utf8);
    QCOMPARE(fileErrorMessage(kind).toUtf8(), utf8);
    QCOMPARE((FileError{kind, 0}.message().toUtf8()), utf8);
}

QTEST_APPLESS_MAIN(TestFileError)
#include "tst_fileerror.moc"
