#include "platform/descriptor.h"
#include "platform/textlines.h"
#include "support/files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace kelvara;
using kelvara::test::FileSizeLimit;
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
    void changedWhileRead_data();
    void changedWhileRead();
    void loneCr_data();
    void loneCr();
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

// A file that changes after it was opened is read as far as its size then; one that ends before is
// not the file that was opened.
void TestTextLines::changedWhileRead_data()
{
    QTest::addColumn<qint64>("newSize");
    QTest::newRow("shrinks") << qint64(Buffer);
    QTest::newRow("grows") << qint64(8 * Buffer);
}

void TestTextLines::changedWhileRead()
{
    QFETCH(qint64, newSize);
    const QString path = dir_.filePath(QStringLiteral("changing.txt"));
    const QByteArray content = QByteArray("0123456\r\n").repeated(4 * Buffer / 9);
    writeFile(path, content);
    LineBlockReader reader;
    QVERIFY(!reader.open(QFile::encodeName(path)));
    std::string_view block;
    QCOMPARE(reader.next(block), LineBlockReader::Status::Block);
    QByteArray read(block.data(), qsizetype(block.size()));
    QVERIFY(QFile::resize(path, newSize));
    LineBlockReader::Status status;
    while ((status = reader.next(block)) == LineBlockReader::Status::Block)
        read.append(block.data(), qsizetype(block.size()));
    if (newSize < content.size()) {
        QCOMPARE(status, LineBlockReader::Status::Error);
        QCOMPARE(reader.error(), FileError::unexpectedEnd());
    } else {
        QCOMPARE(status, LineBlockReader::Status::End);
        QVERIFY(read == content);
    }
}

void TestTextLines::loneCr_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("at"); // -1: none
    QTest::newRow("empty") << QByteArray() << -1;
    QTest::newRow("CR LF only") << QByteArray("ab\r\ncd\r\n") << -1;
    QTest::newRow("CR at the end") << QByteArray("ab\r\ncd\r") << 6;
    QTest::newRow("CR then text") << QByteArray("a\rb") << 1;
    QTest::newRow("LF alone is no CR") << QByteArray("a\nb\n") << -1;
    QTest::newRow("CR CR LF") << QByteArray("a\r\r\n") << 1;
    // Around the 32-byte steps: a CR at the last byte of a step, its LF the first of the next.
    const QByteArray pad(31, 'x');
    QTest::newRow("pair across a step") << pad + "\r\n" + pad + "\r\n" << -1;
    QTest::newRow("lone CR at a step's last byte") << pad + "\ry" + pad << 31;
    QTest::newRow("lone CR in the tail") << QByteArray(70, 'x') + "\r\n\rz" << 72;
    QTest::newRow("lone CR far in") << QByteArray("\r\n").repeated(500) + "\r" << 1000;
}

void TestTextLines::loneCr()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, at);
    const char* found = findLoneCr(bytes.constData(), bytes.constData() + bytes.size());
    QCOMPARE(found ? int(found - bytes.constData()) : -1, at);
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
    Descriptor d;
    QVERIFY(!openDirectory(dir_.path(), d));
    {
        OutputFile out;
        QVERIFY(!out.open(d.get(), "out.txt"));
        for (const QByteArray& line : lines)
            out.writeLine(std::string_view(line.constData(), size_t(line.size())));
        QCOMPARE(readFile(path), QByteArray(4 * Buffer, '!')); // nothing shows before the commit
        QVERIFY(!out.commit());
        QVERIFY(!out.isOpen());
    }
    QCOMPARE(readFile(path), bytes);
    const auto back = readLines(path);
    QVERIFY(std::holds_alternative<Lines>(back) && std::get<Lines>(back) == lines);
    QCOMPARE(QDir(dir_.path()).entryList({QStringLiteral(".kelvara-*")}, QDir::Files | QDir::Hidden), {});
}

void TestTextLines::writerErrors()
{
    QTemporaryDir dir;
    QDir d(dir.path());
    const auto leftovers = [&d] { return d.entryList(QDir::Files | QDir::Hidden | QDir::System); };

    Descriptor fd;
    QVERIFY(!openDirectory(dir.path(), fd));

    // A link at the target is replaced, not written through; until then it stays as it was.
    const QString elsewhere = d.filePath(QStringLiteral("elsewhere"));
    const QString target = d.filePath(QStringLiteral("target"));
    writeFile(elsewhere, "keep");
    QVERIFY(QFile::link(elsewhere, target));
    {
        OutputFile out;
        QVERIFY(!out.open(fd.get(), "target"));
        out.writeLine("new");
        out.discard(); // given up: nothing changes, nothing stays behind
        QCOMPARE(readFile(elsewhere), QByteArray("keep"));
        QVERIFY(QFileInfo(target).isSymLink());
        QCOMPARE(leftovers().size(), 2);
        QVERIFY(!out.open(fd.get(), "target"));
        out.writeLine("new");
        QVERIFY(!out.restart());
        out.writeLine("newer");
        QVERIFY(!out.commit());
    }
    QCOMPARE(readFile(elsewhere), QByteArray("keep"));
    QVERIFY(!QFileInfo(target).isSymLink());
    QCOMPARE(readFile(target), QByteArray("newer\r\n"));

    // A write that fails (here at the file size limit) fails the commit, leaves the target as it
    // was and removes the temporary file.
    std::optional<FileError> commitError;
    {
        const FileSizeLimit limit(1000);
        QVERIFY(limit.isActive());
        OutputFile out;
        if (!out.open(fd.get(), "target")) {
            for (int i = 0; i < 100000 && !out.error(); ++i)
                out.writeLine("0123456789");
            commitError = out.commit();
        }
        QCOMPARE(out.commit(), commitError); // the first error sticks
    }
    QVERIFY(commitError);
    QCOMPARE(*commitError, FileError::fromErrno(EFBIG));
    QCOMPARE(readFile(target), QByteArray("newer\r\n"));
    QCOMPARE(leftovers().size(), 2);
}

QTEST_APPLESS_MAIN(TestTextLines)
#include "tst_textlines.moc"
