#pragma once

#include <QDir>
#include <QFile>
#include <QTest>
#include <csignal>
#include <sys/resource.h>

namespace kelvara::test {

// Creates or overwrites a file with exactly these bytes.
inline void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    QCOMPARE(file.write(bytes), bytes.size());
}

// The file's bytes, or "<none>" when it cannot be read.
inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<none>");
}

// Names and bytes of the working directory's own files; uj and the links in it are left out, and so
// are FIFOs, which would block the reading.
inline QByteArray fingerprint(const QString& dir)
{
    QByteArray all;
    for (const QFileInfo& info :
         QDir(dir).entryInfoList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name))
        if (info.isFile() || !info.exists())
            all += QFile::encodeName(info.fileName()) + '\0' + readFile(info.filePath()) + '\0';
    return all;
}

// Lowers the file size limit while it lives, with SIGXFSZ ignored, so that a write past the limit
// fails with EFBIG instead of ending the test. `active` tells whether the limit was set.
struct FileSizeLimit
{
    explicit FileSizeLimit(rlim_t bytes) : handler(std::signal(SIGXFSZ, SIG_IGN))
    {
        ::getrlimit(RLIMIT_FSIZE, &old);
        const struct rlimit lowered = {bytes, old.rlim_max};
        active = ::setrlimit(RLIMIT_FSIZE, &lowered) == 0;
    }
    ~FileSizeLimit() { lift(), std::signal(SIGXFSZ, handler); }
    FileSizeLimit(const FileSizeLimit&) = delete;
    bool lift() { return ::setrlimit(RLIMIT_FSIZE, &old) == 0; } // back to the limit from before

    struct rlimit old = {};
    void (*handler)(int);
    bool active = false;
};

} // namespace kelvara::test
