#include "textlines.h"

#include "descriptor.h"
#include "text/cpu.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#include <utility>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace kelvara {

namespace {

constexpr size_t WriteBufferSize = 128 * 1024;
constexpr size_t SmallPiece = 128;
constexpr size_t MaxPieces = IOV_MAX;
constexpr size_t PageSize = 4096;
constexpr size_t KeptBufferSize = 4 << 20;
std::atomic<void (*)(const char*)> openingHook{nullptr};

size_t roundToPages(size_t n)
{
    return (n + PageSize - 1) / PageSize * PageSize;
}

} // namespace

LineBlockReader::~LineBlockReader()
{
    close();
    release();
}

void runBeforeOpening(void (*hook)(const char* name))
{
    openingHook = hook;
}

void beforeOpening(const char* name)
{
    if (void (*const hook)(const char*) = openingHook.load(std::memory_order_relaxed))
        hook(name);
}

std::optional<FileError> LineBlockReader::openAt(int dirFd, const QByteArray& name, bool followLink)
{
    close();
    beforeOpening(name.constData());
    // Non-blocking, so that a FIFO put in place of a listed file cannot hang the open; it is refused
    // below like a directory.
    const int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | (followLink ? 0 : O_NOFOLLOW);
    fd_ = openAtRetrying(dirFd, name.constData(), flags);
    const int err = fd_ < 0 || ::fstat(fd_, &status_) != 0 ? errno
                    : S_ISDIR(status_.st_mode)             ? EISDIR
                    : !S_ISREG(status_.st_mode)            ? ENXIO
                                                           : 0;
    if (err != 0) {
        close();
        error_ = FileError::fromErrno(err);
        failed_ = true;
        return error_;
    }
    size_ = status_.st_size;
    read_ = 0;
    if (!buffer_)
        resize(InitialBufferSize);
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
    begin_ = end_ = withoutCr_ = 0;
    read_ = 0;
    eof_ = false;
    return std::nullopt;
}

void LineBlockReader::close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    // A reader that goes from file to file keeps its buffer, so that files with long lines, one
    // after another, do not make it anew each time; a very long line's is given back.
    if (capacity_ > KeptBufferSize)
        release();
    begin_ = end_ = withoutCr_ = 0;
    eof_ = false;
    failed_ = false;
    error_ = FileError();
}

void LineBlockReader::release()
{
    if (buffer_)
        ::munmap(buffer_, capacity_);
    buffer_ = nullptr;
    capacity_ = 0;
}

void LineBlockReader::resize(size_t capacity)
{
    void* memory =
        buffer_ ? ::mremap(buffer_, capacity_, capacity, MREMAP_MAYMOVE)
                : ::mmap(nullptr, capacity, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED)
        throw std::bad_alloc();
    // The new pages are read into at once: made present in one call rather than a fault each.
    ::madvise(static_cast<char*>(memory) + capacity_, capacity - capacity_, MADV_POPULATE_WRITE);
    buffer_ = static_cast<char*>(memory);
    capacity_ = capacity;
}

// Moves the tail not yet handed out to just before a page boundary and reads more from there. A
// tail that leaves too little room makes the buffer grow by an eighth of it: reads stay large
// against the tail, and a line of any length needs little more than its own size.
bool LineBlockReader::fill()
{
    const size_t tail = end_ - begin_;
    const size_t readAt = roundToPages(tail);
    const size_t room = std::max(InitialBufferSize / 2, roundToPages(tail / 8));
    if (capacity_ < readAt + room)
        resize(readAt + room);
    if (tail > 0 && begin_ != readAt - tail)
        std::memmove(buffer_ + readAt - tail, buffer_ + begin_, tail);
    begin_ = readAt - tail;
    end_ = readAt;

    // A buffer kept large from an earlier file is read into as far as a new one would be.
    size_t wanted = std::min(capacity_, std::max(InitialBufferSize, readAt + room)) - end_;
    if (size_ > 0)
        wanted = size_t(std::min<off_t>(off_t(wanted), size_ - read_));
    ssize_t n;
    do {
        n = ::read(fd_, buffer_ + end_, wanted);
    } while (n < 0 && errno == EINTR);
    // A file that ends before the size it had when opened was cut meanwhile: what was read of it
    // is not the file.
    if (n < 0 || (n == 0 && read_ < size_)) {
        error_ = n < 0 ? FileError::fromErrno(errno) : FileError::unexpectedEnd();
        failed_ = true;
        return false;
    }
    end_ += static_cast<size_t>(n);
    read_ += n;
    // Having read as much as the file held when opened spares the read that would only say so, and
    // what was added since is not read.
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
        const char* data = buffer_;
        if (eof_) {
            if (begin_ == end_)
                return Status::End;
            block = std::string_view(data + begin_, end_ - begin_);
            begin_ = end_;
            return Status::Block;
        }
        // The block ends after the last CR of the buffer, unless that CR is the last byte read:
        // it may still be the first half of a CR LF. Only bytes not searched before are searched,
        // so that a line longer than the buffer is not searched again at every read.
        const size_t from = begin_ + withoutCr_;
        if (end_ - from >= 2) {
            if (const void* cr = ::memrchr(data + from, '\r', end_ - from - 1)) {
                size_t after = static_cast<size_t>(static_cast<const char*>(cr) - data) + 1;
                if (data[after] == '\n')
                    ++after;
                block = std::string_view(data + begin_, after - begin_);
                begin_ = after;
                withoutCr_ = 0;
                return Status::Block;
            }
            withoutCr_ = end_ - 1 - begin_;
        }
        if (!fill())
            return Status::Error;
    }
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

} // namespace

const char* findLoneCr(const char* p, const char* end)
{
#if defined(__x86_64__)
    if (hasAvx2())
        return findLoneCrAvx2(p, end);
#endif
    return findLoneCrScalar(p, end);
}

std::optional<FileError> OutputFile::open(int dirFd, const QByteArray& name, mode_t mode)
{
    discard();
    error_.reset();
    file_.fd_ = createUnnamed(dirFd);
    file_.unnamed_ = file_.fd_ >= 0;
    if (!file_.unnamed_)
        file_.fd_ = createTemporary(dirFd, file_.temporary_);
    if (file_.fd_ < 0) {
        error_ = FileError::fromErrno(errno);
        return error_;
    }
    file_.dirFd_ = dirFd;
    file_.mode_ = mode_t(finalMode(mode));
    file_.target_ = name;
    if (!buffer_) {
        buffer_.reset(new char[WriteBufferSize]);
        pieces_.reserve(MaxPieces);
    }
    writing_ = true;
    return std::nullopt;
}

void OutputFile::write(std::string_view bytes)
{
    if (error_ || !writing_)
        return;
    while (!bytes.empty()) {
        if (used_ == WriteBufferSize || pieces_.size() == MaxPieces)
            flush();
        const size_t n = std::min(bytes.size(), WriteBufferSize - used_);
        char* const at = buffer_.get() + used_;
        std::memcpy(at, bytes.data(), n);
        used_ += n;
        bytes.remove_prefix(n);
        // What follows the last piece in the buffer lengthens it.
        if (!pieces_.empty() && static_cast<char*>(pieces_.back().iov_base) + pieces_.back().iov_len == at)
            pieces_.back().iov_len += n;
        else
            pieces_.push_back({at, n});
    }
}

void OutputFile::writeFrom(std::string_view bytes)
{
    // A short piece costs less copied than written as a piece of its own.
    if (bytes.size() < SmallPiece) {
        write(bytes);
        return;
    }
    if (error_ || !writing_)
        return;
    if (pieces_.size() == MaxPieces)
        flush();
    pieces_.push_back({const_cast<char*>(bytes.data()), bytes.size()});
}

void OutputFile::flush()
{
    iovec* part = pieces_.data();
    size_t count = pieces_.size();
    while (!error_ && file_.fd_ >= 0 && count > 0) {
        const ssize_t n = ::writev(file_.fd_, part, int(std::min<size_t>(count, MaxPieces)));
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
    pieces_.clear();
    used_ = 0;
}

std::optional<FileError> OutputFile::restart()
{
    pieces_.clear();
    used_ = 0;
    if (file_.fd_ < 0)
        return error_ ? error_ : FileError::fromErrno(EBADF);
    if (::ftruncate(file_.fd_, 0) != 0 || ::lseek(file_.fd_, 0, SEEK_SET) != 0)
        error_ = FileError::fromErrno(errno);
    return error_;
}

std::optional<FileError> OutputFile::finish(WrittenFile& file)
{
    writing_ = false;
    if (file_.fd_ < 0)
        return error_ ? error_ : FileError::fromErrno(EBADF);
    flush();
    if (error_) {
        file_.drop();
        return error_;
    }
    file = std::move(file_);
    return std::nullopt;
}

void OutputFile::discard()
{
    pieces_.clear();
    used_ = 0;
    writing_ = false;
    file_.drop();
}

WrittenFile::WrittenFile(WrittenFile&& other) noexcept
{
    *this = std::move(other);
}

WrittenFile& WrittenFile::operator=(WrittenFile&& other) noexcept
{
    if (this != &other) {
        drop();
        fd_ = std::exchange(other.fd_, -1);
        dirFd_ = other.dirFd_;
        unnamed_ = other.unnamed_;
        mode_ = other.mode_;
        target_ = std::move(other.target_);
        temporary_ = std::exchange(other.temporary_, {});
    }
    return *this;
}

std::optional<FileError> WrittenFile::place()
{
    if (fd_ < 0)
        return FileError::fromErrno(EBADF);
    std::optional<FileError> error;
    // The file takes its own mode only right before it is named: until then its owner can open it,
    // so that a sweep of another run can try its lock and see that it is taken.
    if (unnamed_) {
        if (const int err = placeUnnamed(fd_, dirFd_, target_.constData(), mode_))
            error = FileError::fromErrno(err);
        // A file system that can hold a file without a name keeps its bytes as it keeps any other
        // file's; should closing fail even so, the copy stands, but the failure is told.
        if (::close(fd_) != 0 && errno != EINTR && !error)
            error = FileError::fromErrno(errno);
        fd_ = -1;
        return error;
    }
    // The lock belongs to the open file, not to one descriptor: a second descriptor holds it through
    // the rename, while closing the first tells of a write that failed late (as on a network file
    // system) before the copy takes its name. Else a sweep of another run could take the file for
    // an abandoned one and remove it in between.
    const Descriptor lock(::fcntl(fd_, F_DUPFD_CLOEXEC, 0));
    if (!lock.isOpen())
        error = FileError::fromErrno(errno);
    // On Linux the descriptor is gone even when close() is interrupted, so EINTR is not retried.
    if (::close(fd_) != 0 && errno != EINTR && !error)
        error = FileError::fromErrno(errno);
    fd_ = -1;
    if (!error)
        beforeNaming(dirFd_);
    if (!error && ::fchmod(lock.get(), mode_) != 0)
        error = FileError::fromErrno(errno);
    if (!error && ::renameat(dirFd_, temporary_.data(), dirFd_, target_.constData()) != 0)
        error = FileError::fromErrno(errno);
    if (error)
        removeTemporary(dirFd_, temporary_);
    else
        forgetTemporary(temporary_);
    temporary_ = {};
    return error;
}

void WrittenFile::drop()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    if (temporary_[0] != 0)
        removeTemporary(dirFd_, temporary_);
    temporary_ = {};
}

} // namespace kelvara
