#include "textlines.h"

#include "cpu.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <new>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace kelvara {

namespace {

constexpr size_t WriteBufferSize = 128 * 1024;
constexpr size_t DirectWriteSize = 16 * 1024; // written from where it is rather than copied
constexpr size_t PageSize = 4096;

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

std::optional<FileError> LineBlockReader::openAt(int dirFd, const QByteArray& name, bool followLink)
{
    close();
    // Non-blocking, so that a FIFO put in place of a listed file cannot hang the open; it is refused
    // below like a directory.
    const int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | (followLink ? 0 : O_NOFOLLOW);
    do {
        fd_ = ::openat(dirFd, name.constData(), flags);
    } while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) {
        error_ = FileError::fromErrno(errno);
        failed_ = true;
        return error_;
    }
    const int err = ::fstat(fd_, &status_) != 0 ? errno
                    : S_ISDIR(status_.st_mode)  ? EISDIR
                    : !S_ISREG(status_.st_mode) ? ENXIO
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
    begin_ = end_ = 0;
    withoutCr_ = 0;
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
    if (capacity_ > InitialBufferSize)
        release();
    begin_ = end_ = 0;
    withoutCr_ = 0;
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

    size_t wanted = capacity_ - end_;
    if (size_ > 0)
        wanted = size_t(std::min<off_t>(off_t(wanted), size_ - read_));
    ssize_t n;
    do {
        n = ::read(fd_, buffer_ + end_, wanted);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        error_ = FileError::fromErrno(errno);
        failed_ = true;
        return false;
    }
    // A file that ends before the size it had when opened was cut meanwhile: what was read of it
    // is not the file.
    if (n == 0 && read_ < size_) {
        error_ = FileError::unexpectedEnd();
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

} // namespace

const char* findLoneCr(const char* p, const char* end)
{
#if defined(__x86_64__)
    if (hasAvx2())
        return findLoneCrAvx2(p, end);
#endif
    return findLoneCrScalar(p, end);
}

// The thread that writes an OutputFile in the background. It takes steps off a queue in order and
// carries them out on a plain OutputFile of its own; the chunks of bytes it has written go back for
// the caller to fill again. Waking a thread costs more than writing a small file, so the steps of
// a few files are handed over together, and at once whenever the caller would wait.
struct OutputFile::Worker
{
    static constexpr int FilesPerWake = 4;
    // Few chunks in flight: the caller is never far ahead of what stands on disk.
    static constexpr size_t MaxChunks = 2 * FilesPerWake;

    enum class Kind { Open, Write, Restart, Commit, Discard, Stop };
    struct Step
    {
        Kind kind;
        int dirFd = -1;
        QByteArray name = {};
        mode_t mode = 0;
        std::unique_ptr<char[]> chunk = {};
        size_t size = 0;
    };

    Worker() : thread([this] { run(); }) {}
    ~Worker()
    {
        add(Step{Kind::Stop});
        submit();
        thread.join();
    }

    void add(Step step)
    {
        if (step.kind == Kind::Open)
            fileStart = batch.size();
        batch.push_back(std::move(step));
    }
    // Hands over the steps kept so far.
    void submit()
    {
        fileStart = NotKept;
        filesKept = 0;
        if (batch.empty())
            return;
        std::lock_guard lock(mutex);
        for (Step& step : batch)
            steps.push_back(std::move(step));
        batch.clear();
        wake.notify_one();
    }
    void commit()
    {
        add(Step{Kind::Commit});
        fileStart = NotKept;
        if (++filesKept == FilesPerWake)
            submit();
    }
    // Takes back the file being written; false when some of it was handed over already.
    bool takeBack()
    {
        if (fileStart == NotKept)
            return false;
        batch.resize(fileStart);
        fileStart = NotKept;
        return true;
    }

    // A chunk to fill: one written out, or a new one while there are few.
    std::unique_ptr<char[]> freeChunk()
    {
        if (chunks < MaxChunks) {
            std::lock_guard lock(mutex);
            if (spare.empty()) {
                ++chunks;
                return std::unique_ptr<char[]>(new char[WriteBufferSize]);
            }
        } else {
            submit();
        }
        std::unique_lock lock(mutex);
        done.wait(lock, [this] { return !spare.empty(); });
        std::unique_ptr<char[]> chunk = std::move(spare.back());
        spare.pop_back();
        return chunk;
    }

    bool hasResult() const { return ready.load(std::memory_order_acquire) > 0; }

    std::optional<FileError> nextResult()
    {
        submit();
        std::unique_lock lock(mutex);
        done.wait(lock, [this] { return !results.empty(); });
        std::optional<FileError> result = results.front();
        results.pop_front();
        ready.fetch_sub(1, std::memory_order_relaxed);
        return result;
    }

    void settle()
    {
        submit();
        std::unique_lock lock(mutex);
        done.wait(lock, [this] { return steps.empty() && !busy; });
    }

    void run()
    {
        std::deque<Step> taken;
        for (;;) {
            {
                std::unique_lock lock(mutex);
                busy = false;
                done.notify_all();
                wake.wait(lock, [this] { return !steps.empty(); });
                taken.swap(steps);
                busy = true;
            }
            for (Step& step : taken) {
                std::optional<std::optional<FileError>> result;
                switch (step.kind) {
                case Kind::Open:
                    file.open(step.dirFd, step.name, step.mode);
                    break;
                case Kind::Write:
                    file.writeOut(std::string_view(step.chunk.get(), step.size), {});
                    break;
                case Kind::Restart:
                    file.restart();
                    break;
                case Kind::Commit:
                    result = file.commit();
                    break;
                case Kind::Discard:
                    file.discard();
                    break;
                case Kind::Stop:
                    file.discard();
                    return;
                }
                if (!step.chunk && !result)
                    continue;
                std::lock_guard lock(mutex);
                if (step.chunk)
                    spare.push_back(std::move(step.chunk));
                if (result) {
                    results.push_back(*result);
                    ready.fetch_add(1, std::memory_order_release);
                }
                done.notify_all();
            }
            taken.clear();
        }
    }

    static constexpr size_t NotKept = size_t(-1);

    // The caller's.
    std::vector<Step> batch;    // steps not yet handed over
    size_t fileStart = NotKept; // where the file being written starts in it, if it does
    int filesKept = 0;
    size_t chunks = 0; // made so far

    // The thread's.
    OutputFile file;

    // Shared.
    std::mutex mutex;
    std::condition_variable wake; // for the thread: steps to take
    std::condition_variable done; // for the caller: a chunk, a result, or nothing left to do
    std::deque<Step> steps;
    std::deque<std::optional<FileError>> results;
    std::atomic<size_t> ready{0}; // results.size(), read without the lock
    std::vector<std::unique_ptr<char[]>> spare;
    bool busy = true;
    std::thread thread; // last: it starts on a complete object
};

OutputFile::OutputFile() = default;

OutputFile::~OutputFile()
{
    discard();
}

void OutputFile::writeInBackground()
{
    if (worker_)
        return;
    discard();
    try {
        worker_ = std::make_unique<Worker>();
    } catch (const std::system_error&) {
        // No thread to be had: the files are written here, as they are without one.
    }
}

std::optional<FileError> OutputFile::open(int dirFd, const QByteArray& name, mode_t mode)
{
    discard();
    error_.reset();
    used_ = 0;
    if (worker_) {
        worker_->add({Worker::Kind::Open, dirFd, name, mode});
        if (!buffer_)
            buffer_ = worker_->freeChunk();
        writing_ = true;
        return std::nullopt;
    }
    fd_ = createTemporary(dirFd, mode, temporary_);
    if (fd_ < 0) {
        error_ = FileError::fromErrno(errno);
        return error_;
    }
    dirFd_ = dirFd;
    target_ = name;
    if (!buffer_)
        buffer_.reset(new char[WriteBufferSize]);
    writing_ = true;
    return std::nullopt;
}

void OutputFile::write(std::string_view bytes)
{
    if (error_ || !writing_)
        return;
    // A large piece goes out from where it is, in one call with what is buffered before it; the
    // background thread needs it in its own chunks.
    if (bytes.size() >= DirectWriteSize && !worker_) {
        writeOut(std::string_view(buffer_.get(), used_), bytes);
        used_ = 0;
        return;
    }
    while (used_ + bytes.size() > WriteBufferSize) {
        const size_t room = WriteBufferSize - used_;
        std::memcpy(buffer_.get() + used_, bytes.data(), room);
        used_ += room;
        bytes.remove_prefix(room);
        flush();
    }
    std::memcpy(buffer_.get() + used_, bytes.data(), bytes.size());
    used_ += bytes.size();
}

void OutputFile::flush()
{
    if (worker_) {
        if (used_ > 0) {
            worker_->add({Worker::Kind::Write, -1, {}, 0, std::move(buffer_), used_});
            worker_->submit();
            buffer_ = worker_->freeChunk();
        }
    } else {
        writeOut(std::string_view(buffer_.get(), used_), {});
    }
    used_ = 0;
}

void OutputFile::writeOut(std::string_view first, std::string_view second)
{
    iovec parts[2] = {{const_cast<char*>(first.data()), first.size()},
                      {const_cast<char*>(second.data()), second.size()}};
    iovec* part = parts;
    int count = 2;
    while (!error_ && fd_ >= 0) {
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
    used_ = 0;
    if (worker_) {
        if (writing_ && worker_->fileStart == Worker::NotKept)
            worker_->add({Worker::Kind::Restart});
        return std::nullopt;
    }
    if (fd_ < 0)
        return error_ ? error_ : FileError::fromErrno(EBADF);
    if (::ftruncate(fd_, 0) != 0 || ::lseek(fd_, 0, SEEK_SET) != 0)
        error_ = FileError::fromErrno(errno);
    return error_;
}

std::optional<FileError> OutputFile::commit()
{
    if (worker_) {
        if (!writing_)
            return FileError::fromErrno(EBADF);
        if (used_ > 0)
            worker_->add({Worker::Kind::Write, -1, {}, 0, std::move(buffer_), used_});
        worker_->commit();
        used_ = 0;
        writing_ = false;
        return std::nullopt;
    }
    writing_ = false;
    if (fd_ < 0)
        return error_ ? error_ : FileError::fromErrno(EBADF);
    flush();
    // On Linux the descriptor is gone even when close() is interrupted, so EINTR is not retried.
    if (::close(fd_) != 0 && errno != EINTR && !error_)
        error_ = FileError::fromErrno(errno);
    fd_ = -1;
    if (!error_ && ::renameat(dirFd_, temporary_.data(), dirFd_, target_.constData()) != 0)
        error_ = FileError::fromErrno(errno);
    if (error_) {
        removeTemporary();
        return error_;
    }
    forgetTemporary();
    temporary_ = {};
    return std::nullopt;
}

void OutputFile::discard()
{
    used_ = 0;
    if (worker_) {
        if (!std::exchange(writing_, false))
            return;
        if (!worker_->takeBack()) { // else nothing of it was made yet
            worker_->add({Worker::Kind::Discard});
            worker_->submit();
        }
        return;
    }
    writing_ = false;
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    removeTemporary();
}

bool OutputFile::hasCommitted() const
{
    return worker_ && worker_->hasResult();
}

std::optional<FileError> OutputFile::committed()
{
    return worker_ ? worker_->nextResult() : std::nullopt;
}

void OutputFile::settle()
{
    if (worker_)
        worker_->settle();
}

void OutputFile::removeTemporary()
{
    if (temporary_[0] != 0)
        kelvara::removeTemporary(dirFd_, temporary_);
    temporary_ = {};
}

} // namespace kelvara
