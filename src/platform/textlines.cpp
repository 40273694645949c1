#include "textlines.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvara {

namespace {

constexpr size_t WriteBufferSize = 64 * 1024;
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

std::optional<FileError> LineBlockReader::open(const QByteArray& path)
{
    close();
    // Non-blocking, so that a FIFO put in place of a listed file cannot hang the open; it is refused
    // below like a directory.
    fd_ = openRetrying(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
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

LineWriter::~LineWriter()
{
    close();
}

std::optional<FileError> LineWriter::open(const QByteArray& path)
{
    close();
    error_.reset();
    fd_ = openRetrying(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) {
        error_ = FileError::fromErrno(errno);
        return error_;
    }
    buffer_.reserve(WriteBufferSize);
    return std::nullopt;
}

std::optional<FileError> LineWriter::writeLine(std::string_view text)
{
    if (error_)
        return error_;
    if (fd_ < 0)
        return error_ = FileError::fromErrno(EBADF);
    buffer_.insert(buffer_.end(), text.begin(), text.end());
    buffer_.push_back('\r');
    buffer_.push_back('\n');
    if (buffer_.size() >= WriteBufferSize)
        return flush();
    return std::nullopt;
}

std::optional<FileError> LineWriter::flush()
{
    size_t done = 0;
    while (!error_ && done < buffer_.size()) {
        const ssize_t n = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
        if (n >= 0)
            done += static_cast<size_t>(n);
        else if (errno != EINTR)
            error_ = FileError::fromErrno(errno);
    }
    buffer_.clear();
    return error_;
}

std::optional<FileError> LineWriter::close()
{
    if (fd_ < 0)
        return error_;
    flush();
    // On Linux the descriptor is gone even when close() is interrupted, so EINTR is not retried.
    if (::close(fd_) != 0 && errno != EINTR && !error_)
        error_ = FileError::fromErrno(errno);
    fd_ = -1;
    std::vector<char>().swap(buffer_);
    return error_;
}

} // namespace kelvara
