#include "tempfiles.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvara {

namespace {

// The temporary file being written, read by the signal handler: its directory and its number (0:
// none). A handler on another thread that runs while a new file is marked may pair the old number
// with the new directory: a random name that is not there, so it removes nothing.
std::atomic<int> pendingDir{-1};
std::atomic<std::uint64_t> pendingId{0};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<std::uint64_t>::is_always_lock_free);

void onSignal(int signal)
{
    const int savedErrno = errno;
    if (const std::uint64_t id = pendingId.load()) {
        const TemporaryName name = temporaryName(id);
        ::unlinkat(pendingDir.load(), name.data(), 0);
    }
    errno = savedErrno;
    // SA_RESETHAND has put the default action back; the signal is delivered again on return.
    ::raise(signal);
}

std::uint64_t randomId()
{
    static std::mt19937_64 random{std::random_device{}()};
    std::uint64_t id;
    do
        id = random();
    while (id == 0);
    return id;
}

bool sameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

} // namespace

TemporaryName temporaryName(std::uint64_t id)
{
    // Plain steps only: the signal handler calls this.
    TemporaryName name = {};
    const size_t prefix = sizeof TemporaryPrefix - 1;
    std::memcpy(name.data(), TemporaryPrefix, prefix);
    for (int k = 0; k < 16; ++k)
        name[prefix + size_t(k)] = "0123456789abcdef"[(id >> (60 - 4 * k)) & 15];
    return name;
}

int createTemporary(int dirFd, unsigned mode, TemporaryName& name)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::uint64_t id = randomId();
        name = temporaryName(id);
        // Marked before it exists, so that no signal can come between its making and its marking.
        // A name of 64 random bits that someone else took meanwhile is not to be feared.
        pendingId.store(0);
        pendingDir.store(dirFd);
        pendingId.store(id);
        int fd;
        do {
            fd = ::openat(dirFd, name.data(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0) {
            forgetTemporary();
            if (errno == EEXIST)
                continue;
            break;
        }
        // A sweep of another run may have locked and removed it between the two steps; then the
        // lock fails, or the file has no name any more.
        struct stat st;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &st) == 0 && st.st_nlink > 0)
            return fd;
        ::close(fd);
    }
    forgetTemporary();
    name = {};
    return -1;
}

void removeTemporary(int dirFd, const TemporaryName& name)
{
    ::unlinkat(dirFd, name.data(), 0);
    forgetTemporary();
}

void forgetTemporary()
{
    pendingId.store(0);
}

void removeTemporaryOnSignals()
{
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old;
        if (::sigaction(signal, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
            continue;
        struct sigaction action = {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESETHAND;
        ::sigaction(signal, &action, nullptr);
    }
}

void removeAbandonedTemporaries(int dirFd)
{
    const int listFd = ::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listFd < 0)
        return;
    DIR* dir = ::fdopendir(listFd);
    if (!dir) {
        ::close(listFd);
        return;
    }
    while (const dirent* entry = ::readdir(dir)) {
        if (std::strncmp(entry->d_name, TemporaryPrefix, sizeof TemporaryPrefix - 1) != 0)
            continue;
        // Only a regular file that nobody holds locked, and only while the name still leads to it.
        const int fd = ::openat(dirFd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat held;
        struct stat named;
        if (::fstat(fd, &held) == 0 && S_ISREG(held.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            ::fstatat(dirFd, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(held, named))
            ::unlinkat(dirFd, entry->d_name, 0);
        ::close(fd);
    }
    ::closedir(dir);
}

} // namespace kelvara
