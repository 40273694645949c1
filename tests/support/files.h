#pragma once

#include <QDir>
#include <QFile>
#include <QTest>
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvara::test {

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

// Makes entries under `dir`, steps split at ';', names as bytes: "dir NAME", "file NAME" (holds "a" CR LF),
// "ln TARGET NAME" (symbolic), "hard OLD NEW", "fifo NAME", "socket NAME", "rm NAME", "private NAME" (0600).
inline void makeTree(const QString& dir, const QByteArray& steps)
{
    const auto file = [](const QByteArray& path) {
        const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        return fd < 0 || ::write(fd, "a\r\n", 3) != 3 || ::close(fd) != 0;
    };
    for (const QByteArray& step : steps.split(';')) {
        const QList<QByteArray> w = step.split(' ');
        const auto at = [&](qsizetype k) { return QFile::encodeName(dir) + '/' + w.value(k); };
        const QByteArray& op = w[0];
        const int failed = op == "dir"       ? ::mkdir(at(1), 0755)
                           : op == "file"    ? file(at(1))
                           : op == "ln"      ? ::symlink(w.value(1), at(2))
                           : op == "hard"    ? ::link(at(1), at(2))
                           : op == "fifo"    ? ::mkfifo(at(1), 0600)
                           : op == "socket"  ? ::mknod(at(1), S_IFSOCK | 0600, 0)
                           : op == "rm"      ? ::unlink(at(1))
                           : op == "private" ? ::chmod(at(1), 0600)
                                             : -1;
        QVERIFY2(failed == 0, step.constData());
    }
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
