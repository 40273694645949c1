#pragma once

#include <QFile>
#include <QTest>
#include <csignal>
#include <sys/resource.h>

namespace kelvara::test {

// Creates an empty file.
inline void touch(const QString& path)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
}

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

// Lowers the file size limit while it lives, with SIGXFSZ ignored, so that a write past the limit
// fails with EFBIG instead of ending the test.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes) : oldHandler_(std::signal(SIGXFSZ, SIG_IGN))
    {
        ::getrlimit(RLIMIT_FSIZE, &old_);
        struct rlimit lowered = old_;
        lowered.rlim_cur = bytes;
        active_ = ::setrlimit(RLIMIT_FSIZE, &lowered) == 0;
    }
    ~FileSizeLimit()
    {
        lift();
        std::signal(SIGXFSZ, oldHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

    bool isActive() const { return active_; }
    // Back to the limit from before.
    bool lift() { return ::setrlimit(RLIMIT_FSIZE, &old_) == 0; }

private:
    struct rlimit old_ = {};
    void (*oldHandler_)(int);
    bool active_ = false;
};

} // namespace kelvara::test
