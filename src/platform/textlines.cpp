#include "textlines.h"

#include "cpu.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <random>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace kelvara {

namespace {

constexpr size_t WriteBufferSize = 128 * 1024;
constexpr size_t DirectWriteSize = 16 * 1024; // written from where it is rather than copied
constexpr size_t PageSize = 4096;

int openRetrying(const char* path, int flags, mode_t mode = 0)
{
    int fd;
    do {
        fd = ::open(path, flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

} // namespace

LineBlockReader::~LineBlockReader()
{
    close();
}

std::optional<FileError> LineBlockReader::openAt(int dirFd, const QByteArray& name)
{
    close();
    // Non-blocking, so that a FIFO put in place of a listed file cannot hang the open; it is refused
    // below like a directory.
    do {
        fd_ = ::openat(dirFd, name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    } while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) {
        error_ = FileError::fromErrno(errno);
        failed_ = true;
        return error_;
    }
    struct stat st;
    const int err = ::fstat(fd_, &st) != 0 ? errno
                    : S_ISDIR(st.st_mode)  ? EISDIR
                    : !S_ISREG(st.st_mode) ? ENXIO
                                           : 0;
    if (err != 0) {
        close();
        error_ = FileError::fromErrno(err);
        failed_ = true;
        return error_;
    }
    size_ = st.st_size;
    read_ = 0;
    if (!buffer_)
        allocate(InitialBufferSize);
    return std::nullopt;
}

std::optional<FileError> LineBlockReader::rewind()
{
    if (fd_ < 0)
        return error_;
    if (::lseek(fd_, 0, SEEK_SET) < 0) {
        error_ = FileError::fromErrno(errno);
        failed_ = true;
        return error_;
    }
    begin_ = end_ = 0;
    read_ = 0;
    eof_ = false;
    return std::nullopt;
}

void LineBlockReader::close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    // A reader that goes from file to file keeps its buffer, unless a long line made it grow.
    if (capacity_ > InitialBufferSize) {
        buffer_.reset();
        capacity_ = 0;
    }
    begin_ = end_ = 0;
    eof_ = false;
    failed_ = false;
    error_ = FileError();
}

void LineBlockReader::allocate(size_t capacity)
{
    auto* memory = static_cast<char*>(std::aligned_alloc(PageSize, capacity));
    if (!memory)
        throw std::bad_alloc();
    if (end_ > begin_)
        std::memcpy(memory, buffer_.get() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
    buffer_.reset(memory);
    capacity_ = capacity;
}

// Moves the tail not yet handed out to just before a page boundary and reads more from there. The
// buffer grows only when the tail alone fills half of it, so its size follows the longest line
// rather than the file.
bool LineBlockReader::fill()
{
    const size_t tail = end_ - begin_;
    if (tail > capacity_ / 2)
        allocate(capacity_ * 2);
    const size_t readAt = (tail + PageSize - 1) / PageSize * PageSize;
    if (tail > 0 && begin_ != readAt - tail)
        std::memmove(buffer_.get() + readAt - tail, buffer_.get() + begin_, tail);
    begin_ = readAt - tail;
    end_ = readAt;

    ssize_t n;
    do {
        n = ::read(fd_, buffer_.get() + end_, capacity_ - end_);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        error_ = FileError::fromErrno(errno);
        failed_ = true;
        return false;
    }
    end_ += static_cast<size_t>(n);
    read_ += n;
    // Having read as much as the file held when opened spares the read that would only say so.
    if (n == 0 || (size_ > 0 && read_ >= size_))
        eof_ = true;
    return true;
}

LineBlockReader::Status LineBlockReader::next(std::string_view& block)
{
    if (failed_)
        return Status::Error;
    if (fd_ < 0)
        return Status::End;
    for (;;) {
        const char* data = buffer_.get();
        if (eof_) {
            if (begin_ == end_)
                return Status::End;
            block = std::string_view(data + begin_, end_ - begin_);
            begin_ = end_;
            return Status::Block;
        }
        // The block ends after the last CR of the buffer, unless that CR is the last byte read:
        // it may still be the first half of a CR LF.
        if (end_ - begin_ >= 2) {
            if (const void* cr = ::memrchr(data + begin_, '\r', end_ - begin_ - 1)) {
                size_t after = static_cast<size_t>(static_cast<const char*>(cr) - data) + 1;
                if (data[after] == '\n')
                    ++after;
                block = std::string_view(data + begin_, after - begin_);
                begin_ = after;
                return Status::Block;
            }
        }
        if (!fill())
            return Status::Error;
    }
}

LineReader::Status LineReader::next(std::string_view& line)
{
    if (block_.empty()) {
        switch (blocks_.next(block_)) {
        case LineBlockReader::Status::Block:
            break;
        case LineBlockReader::Status::End:
            return Status::End;
        case LineBlockReader::Status::Error:
            return Status::Error;
        }
    }
    line = splitFirstLine(block_);
    return Status::Line;
}

namespace {

const char* findLoneCrScalar(const char* p, const char* end)
{
    while ((p = static_cast<const char*>(std::memchr(p, '\r', size_t(end - p))))) {
        if (p + 1 == end || p[1] != '\n')
            return p;
        p += 2;
    }
    return nullptr;
}

#if defined(__x86_64__)
__attribute__((target("avx2"))) const char* findLoneCrAvx2(const char* p, const char* end)
{
    const __m256i cr = _mm256_set1_epi8('\r');
    const __m256i lf = _mm256_set1_epi8('\n');
    // Each step also reads the byte after its 32, so it stops one byte early.
    while (end - p > 32) {
        const __m256i here = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 1));
        const auto crs = std::uint32_t(_mm256_movemask_epi8(_mm256_cmpeq_epi8(here, cr)));
        const auto lfs = std::uint32_t(_mm256_movemask_epi8(_mm256_cmpeq_epi8(next, lf)));
        if (const std::uint32_t lone = crs & ~lfs)
            return p + __builtin_ctz(lone);
        p += 32;
    }
    return findLoneCrScalar(p, end);
}
#endif

// A name for a temporary file that no one else is likely to pick, hidden from the file lists.
QByteArray temporaryName(const QByteArray& directory)
{
    static std::mt19937_64 random{std::random_device{}()};
    return directory + "/.kelvara-" + QByteArray::number(qulonglong(random()), 36);
}

} // namespace

const char* findLoneCr(const char* p, const char* end)
{
#if defined(__x86_64__)
    if (hasAvx2())
        return findLoneCrAvx2(p, end);
#endif
    return findLoneCrScalar(p, end);
}

std::optional<FileError> OutputFile::open(const QByteArray& path)
{
    discard();
    error_.reset();
    const qsizetype slash = path.lastIndexOf('/');
    const QByteArray directory = slash < 0    ? QByteArray(".")
                                 : slash == 0 ? QByteArray("/")
                                              : path.left(slash);
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary_ = temporaryName(directory == "/" ? QByteArray() : directory);
        fd_ = openRetrying(temporary_.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ >= 0 || errno != EEXIST)
            break;
    }
    if (fd_ < 0) {
        error_ = FileError::fromErrno(errno);
        temporary_.clear();
        return error_;
    }
    target_ = path;
    if (!buffer_)
        buffer_.reset(new char[WriteBufferSize]);
    used_ = 0;
    return std::nullopt;
}

void OutputFile::write(std::string_view bytes)
{
    if (error_ || fd_ < 0)
        return;
    // A large piece goes out from where it is, in one call with what is buffered before it.
    if (bytes.size() >= DirectWriteSize) {
        writeOut(std::string_view(buffer_.get(), used_), bytes);
        used_ = 0;
        return;
    }
    if (used_ + bytes.size() > WriteBufferSize)
        flush();
    std::memcpy(buffer_.get() + used_, bytes.data(), bytes.size());
    used_ += bytes.size();
}

void OutputFile::flush()
{
    writeOut(std::string_view(buffer_.get(), used_), {});
    used_ = 0;
}

void OutputFile::writeOut(std::string_view first, std::string_view second)
{
    iovec parts[2] = {{const_cast<char*>(first.data()), first.size()},
                      {const_cast<char*>(second.data()), second.size()}};
    iovec* part = parts;
    int count = 2;
    while (!error_) {
        while (count > 0 && part->iov_len == 0) {
            ++part;
            --count;
        }
        if (count == 0)
            return;
        const ssize_t n = ::writev(fd_, part, count);
        if (n < 0) {
            if (errno != EINTR)
                error_ = FileError::fromErrno(errno);
            continue;
        }
        size_t done = size_t(n);
        while (count > 0 && done >= part->iov_len) {
            done -= part->iov_len;
            ++part;
            --count;
        }
        if (count > 0) {
            part->iov_base = static_cast<char*>(part->iov_base) + done;
            part->iov_len -= done;
        }
    }
}

std::optional<FileError> OutputFile::restart()
{
    if (fd_ < 0)
        return error_ ? error_ : FileError::fromErrno(EBADF);
    used_ = 0;
    if (::ftruncate(fd_, 0) != 0 || ::lseek(fd_, 0, SEEK_SET) != 0)
        error_ = FileError::fromErrno(errno);
    return error_;
}

std::optional<FileError> OutputFile::commit()
{
    if (fd_ < 0)
        return error_ ? error_ : FileError::fromErrno(EBADF);
    flush();
    // On Linux the descriptor is gone even when close() is interrupted, so EINTR is not retried.
    if (::close(fd_) != 0 && errno != EINTR && !error_)
        error_ = FileError::fromErrno(errno);
    fd_ = -1;
    if (!error_ && ::rename(temporary_.constData(), target_.constData()) != 0)
        error_ = FileError::fromErrno(errno);
    if (error_) {
        ::unlink(temporary_.constData());
        temporary_.clear();
        return error_;
    }
    temporary_.clear();
    return std::nullopt;
}

void OutputFile::discard()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!temporary_.isEmpty()) {
        ::unlink(temporary_.constData());
        temporary_.clear();
    }
    used_ = 0;
}

} // namespace kelvara
