#include "platform/textlines.h"
#include "support/files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace kelvara;
using kelvara::test::writeFile;
using Lines = QList<QByteArray>;

namespace {

constexpr qsizetype Buffer = qsizetype(LineBlockReader::InitialBufferSize);

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// Every line of the file, or the error that stopped the reading.
std::variant<Lines, FileError> readLines(const QString& path)
{
    LineReader reader;
    if (auto error = reader.open(QFile::encodeName(path)))
        return *error;
    Lines lines;
    std::string_view line;
    LineReader::Status status;
    while ((status = reader.next(line)) == LineReader::Status::Line) {
        lines.append(QByteArray(line.data(), qsizetype(line.size())));
        if (lines.size() > 100000) // no file here has that many: the reader is not stopping
            break;
    }
    if (status == LineReader::Status::Error)
        return reader.error();
    if (reader.next(line) != LineReader::Status::End) // the end stays the end
        lines.append("<more after the end>");
    return lines;
}

} // namespace

class TestTextLines : public QObject
{
    Q_OBJECT

private slots:
    void reader_data();
    void reader();
    void readerErrors_data();
    void readerErrors();
    void writer_data();
    void writer();
    void writerErrors();

private:
    QTemporaryDir dir_;
};

void TestTextLines::reader_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<Lines>("lines");
    const QByteArray pad(Buffer, 'x');

    QTest::newRow("CR") << QByteArray("a\rb\r") << Lines{"a", "b"};
    QTest::newRow("CR LF") << QByteArray("a\r\nb\r\n") << Lines{"a", "b"};
    QTest::newRow("lone LF") << QByteArray("a\nb\n") << Lines{"a\nb\n"};
    QTest::newRow("mixed") << QByteArray("a\rb\r\nc\nd\r\r\ne") << Lines{"a", "b", "c\nd", "", "e"};
    QTest::newRow("no final terminator") << QByteArray("a\r\nb") << Lines{"a", "b"};
    QTest::newRow("empty file") << QByteArray() << Lines{};
    QTest::newRow("only CR") << QByteArray("\r") << Lines{""};
    QTest::newRow("CR at the end") << QByteArray("a\r\nb\r") << Lines{"a", "b"};
    QTest::newRow("CR CR LF") << QByteArray("\r\r\n") << Lines{"", ""};
    QTest::newRow("LF CR") << QByteArray("\n\r") << Lines{"\n"};
    QTest::newRow("NUL bytes") << QByteArray("a\0b\r\0\r\n", 7)
                               << Lines{QByteArray("a\0b", 3), QByteArray(1, '\0')};
    QTest::newRow("line far longer than the buffer")
        << (pad + pad + pad + "y\r\nz") << Lines{pad + pad + pad + "y", "z"};
    QTest::newRow("CR LF across the first read")
        << (pad.left(Buffer - 1) + "\r\nb") << Lines{pad.left(Buffer - 1), "b"};
    QTest::newRow("CR last in the first read, no LF")
        << (pad.left(Buffer - 1) + "\rb") << Lines{pad.left(Buffer - 1), "b"};
    QTest::newRow("CR last in the first read, then the end")
        << (pad.left(Buffer - 1) + "\r") << Lines{pad.left(Buffer - 1)};
    QTest::newRow("CR first after the first read") << (pad + "\r\nb") << Lines{pad, "b"};
    QTest::newRow("CR LF across the first read after a line")
        << ("a\r" + pad.left(Buffer - 3) + "\r\nb") << Lines{"a", pad.left(Buffer - 3), "b"};

    QByteArray many;
    Lines manyLines;
    for (int i = 0; i < 30000; ++i) {
        manyLines.append(QByteArray::number(i) + (i % 3 ? "\n" : ""));
        many += manyLines.last() + (i % 2 ? "\r" : "\r\n");
    }
    QTest::newRow("many short lines") << many << manyLines;
}

void TestTextLines::reader()
{
    QFETCH(QByteArray, content);
    QFETCH(Lines, lines);
    const QString path = dir_.filePath(QStringLiteral("in.txt"));
    writeFile(path, content);
    const auto result = readLines(path);
    QVERIFY(std::holds_alternative<Lines>(result));
    const Lines& read = std::get<Lines>(result);
    QCOMPARE(read.size(), lines.size());
    for (qsizetype i = 0; i < read.size(); ++i)
        QVERIFY2(read.at(i) == lines.at(i), qPrintable(QStringLiteral("line %1 differs").arg(i)));
}

void TestTextLines::readerErrors_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<FileErrorKind>("kind");
    QTest::newRow("missing file") << QStringLiteral("missing.txt") << FileErrorKind::PathNotFound;
    QTest::newRow("missing directory") << QStringLiteral("nowhere/a.txt") << FileErrorKind::PathNotFound;
    QTest::newRow("directory") << QStringLiteral(".") << FileErrorKind::AccessDenied;
    // Opens fine, but reading from offset 0 of the own address space fails with EIO.
    QTest::newRow("read error") << QStringLiteral("/proc/self/mem") << FileErrorKind::DiskNotReady;
}

void TestTextLines::readerErrors()
{
    QFETCH(QString, name);
    QFETCH(FileErrorKind, kind);
    const auto result = readLines(QDir(dir_.path()).filePath(name));
    QVERIFY(std::holds_alternative<FileError>(result));
    QCOMPARE(std::get<FileError>(result).kind, kind);
}

void TestTextLines::writer_data()
{
    QTest::addColumn<Lines>("lines");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("lines and an empty one") << Lines{"a", "", "b"} << QByteArray("a\r\n\r\nb\r\n");
    QTest::newRow("no line") << Lines{} << QByteArray();
    QTest::newRow("LF kept") << Lines{"a\nb"} << QByteArray("a\nb\r\n");
    const QByteArray big(3 * Buffer + 1, 'q');
    QTest::newRow("longer than the buffer") << Lines{"a", big, "b"} << ("a\r\n" + big + "\r\nb\r\n");
    Lines many;
    QByteArray manyBytes;
    for (int i = 0; i < 30000; ++i) {
        many.append(QByteArray::number(i));
        manyBytes += many.last() + "\r\n";
    }
    QTest::newRow("many lines") << many << manyBytes;
}

void TestTextLines::writer()
{
    QFETCH(Lines, lines);
    QFETCH(QByteArray, bytes);
    const QString path = dir_.filePath(QStringLiteral("out.txt"));
    writeFile(path, QByteArray(4 * Buffer, '!')); // must be replaced, not overwritten in place
    {
        LineWriter writer;
        QVERIFY(!writer.open(QFile::encodeName(path)));
        for (const QByteArray& line : lines)
            QVERIFY(!writer.writeLine(std::string_view(line.constData(), size_t(line.size()))));
        QVERIFY(!writer.close());
        QVERIFY(!writer.isOpen());
    }
    QCOMPARE(readFile(path), bytes);
    const auto back = readLines(path);
    QVERIFY(std::holds_alternative<Lines>(back) && std::get<Lines>(back) == lines);
}

void TestTextLines::writerErrors()
{
    LineWriter missing;
    const auto openError = missing.open(QFile::encodeName(dir_.filePath(QStringLiteral("nowhere/out.txt"))));
    QVERIFY(openError);
    QCOMPARE(openError->kind, FileErrorKind::PathNotFound);

    if (!QFile::exists(QStringLiteral("/dev/full")))
        QSKIP("no /dev/full here");
    LineWriter full;
    QVERIFY(!full.open("/dev/full"));
    QVERIFY(!full.writeLine("buffered, not yet written"));
    const auto closeError = full.close();
    QVERIFY(closeError);
    QCOMPARE(*closeError, FileError::fromErrno(ENOSPC));
    QCOMPARE(full.writeLine("later"), closeError); // the first error sticks
}

QTEST_APPLESS_MAIN(TestTextLines)
#include "tst_textlines.moc"
