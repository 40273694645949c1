#include "tempfiles.h"

#include "descriptor.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <random>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvara {

namespace {

// The temporary files being written, read by the signal handler: each one's directory and number
// (Free: none; Taken: being marked). A handler on another thread that runs while a slot changes
// hands may pair the old number with the new directory: a random name that is not there, so it
// removes nothing.
constexpr std::uint64_t Free = 0;
constexpr std::uint64_t Taken = ~std::uint64_t(0);
struct Pending
{
    std::atomic<int> dir{-1};
    std::atomic<std::uint64_t> id{Free};
};
Pending pending[MaxTemporaries];
std::atomic<bool> unnamedAllowed{true};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<std::uint64_t>::is_always_lock_free);
std::atomic<void (*)(int)> namingHook{nullptr};

// A temporary file's mode: its owner can always open it to lock it.
constexpr mode_t TemporaryMode = 0600;

// The umask, read once while the program starts, before any thread runs: reading it means setting
// it, which would race with files made on other threads meanwhile.
const mode_t processUmask = [] {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}();

// Makes a new file's mode TemporaryMode where the umask took some of it.
void ensureTemporaryMode(int fd)
{
    if ((processUmask & TemporaryMode) != 0)
        ::fchmod(fd, TemporaryMode);
}

void onSignal(int signal)
{
    const int savedErrno = errno;
    for (Pending& slot : pending) {
        const std::uint64_t id = slot.id.load();
        if (id != Free && id != Taken)
            ::unlinkat(slot.dir.load(), temporaryName(id).data(), 0);
    }
    errno = savedErrno;
    // SA_RESETHAND has put the default action back; the signal is delivered again on return.
    ::raise(signal);
}

std::uint64_t randomId()
{
    static std::mutex mutex;
    static std::mt19937_64 random{std::random_device{}()};
    std::lock_guard lock(mutex);
    std::uint64_t id;
    do
        id = random();
    while (id == Free || id == Taken);
    return id;
}

Pending* takeSlot()
{
    for (Pending& slot : pending) {
        std::uint64_t free = Free;
        if (slot.id.compare_exchange_strong(free, Taken))
            return &slot;
    }
    return nullptr;
}

// The number a temporary name was made of.
std::uint64_t idOf(const TemporaryName& name)
{
    std::uint64_t id = 0;
    for (size_t k = sizeof TemporaryPrefix - 1; k < sizeof TemporaryPrefix - 1 + 16; ++k) {
        const char c = name[k];
        id = id << 4 | std::uint64_t(c <= '9' ? c - '0' : c - 'a' + 10);
    }
    return id;
}

// Marks `slot` with one fresh temporary name after another until `make`, given the name, succeeds
// (0) or fails otherwise than with EEXIST. The name is marked before it exists, so that no signal
// can come between its making and its marking; a name of 64 random bits that someone else took
// meanwhile is not to be feared. 0, or the errno value of the last attempt.
template <typename Make> int withFreshName(Pending& slot, int dirFd, TemporaryName& name, Make make)
{
    int err = EEXIST;
    for (int attempt = 0; attempt < 100 && err == EEXIST; ++attempt) {
        const std::uint64_t id = randomId();
        slot.id.store(Taken);
        slot.dir.store(dirFd);
        slot.id.store(id);
        name = temporaryName(id);
        err = make(name);
    }
    return err;
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

int createTemporary(int dirFd, TemporaryName& name)
{
    Pending* const slot = takeSlot();
    if (!slot) {
        name = {};
        errno = EMFILE;
        return -1;
    }
    int fd = -1;
    const int err = withFreshName(*slot, dirFd, name, [&](const TemporaryName& fresh) {
        fd = openAtRetrying(dirFd, fresh.data(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                            TemporaryMode);
        if (fd < 0)
            return errno;
        ensureTemporaryMode(fd);
        // A sweep of another run may have locked and removed it between the two steps; then the
        // lock fails, or the file has no name any more.
        struct stat st;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &st) == 0 && st.st_nlink > 0)
            return 0;
        ::close(fd);
        fd = -1;
        return EEXIST;
    });
    if (err != 0) {
        slot->id.store(Free);
        name = {};
        errno = err;
    }
    return fd;
}

void allowUnnamedFiles(bool allow)
{
    unnamedAllowed = allow;
}

int createUnnamed(int dirFd)
{
    // Such a file is given its name through /proc, which must be there.
    static const bool canName = ::access("/proc/self/fd", X_OK) == 0;
    if (!canName || !unnamedAllowed) {
        errno = EOPNOTSUPP;
        return -1;
    }
    const int fd = openAtRetrying(dirFd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, TemporaryMode);
    if (fd >= 0)
        ensureTemporaryMode(fd);
    return fd;
}

unsigned finalMode(unsigned mode)
{
    return mode & ~unsigned(processUmask) & 07777;
}

void runBeforeNaming(void (*hook)(int dirFd))
{
    namingHook = hook;
}

void beforeNaming(int dirFd)
{
    if (void (*const hook)(int) = namingHook.load())
        hook(dirFd);
}

int placeUnnamed(int fd, int dirFd, const char* name, unsigned mode)
{
    char path[32];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    if (::fchmod(fd, mode_t(mode)) != 0)
        return errno;
    if (::linkat(AT_FDCWD, path, dirFd, name, AT_SYMLINK_FOLLOW) == 0)
        return 0;
    if (errno != EEXIST)
        return errno;
    // Something stands at the name: the file gets a temporary name, which then replaces it in one
    // step. Locked and open to its owner as long as it has that name, so that a sweep of another run
    // can always see that it is taken, and leaves it alone.
    Pending* const slot = takeSlot();
    if (!slot)
        return EMFILE;
    ::flock(fd, LOCK_EX | LOCK_NB);
    if (::fchmod(fd, TemporaryMode) != 0) {
        slot->id.store(Free);
        return errno;
    }
    TemporaryName temporary;
    int err = withFreshName(*slot, dirFd, temporary, [&](const TemporaryName& fresh) {
        return ::linkat(AT_FDCWD, path, dirFd, fresh.data(), AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
    });
    if (err == 0) {
        beforeNaming(dirFd);
        if (::fchmod(fd, mode_t(mode)) != 0 || ::renameat(dirFd, temporary.data(), dirFd, name) != 0) {
            err = errno;
            ::unlinkat(dirFd, temporary.data(), 0);
        }
    }
    slot->id.store(Free);
    return err;
}

void removeTemporary(int dirFd, const TemporaryName& name)
{
    ::unlinkat(dirFd, name.data(), 0);
    forgetTemporary(name);
}

void forgetTemporary(const TemporaryName& name)
{
    if (name[0] == 0)
        return;
    const std::uint64_t id = idOf(name);
    for (Pending& slot : pending) {
        std::uint64_t held = id;
        if (slot.id.compare_exchange_strong(held, Free))
            return;
    }
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
            ::fstatat(dirFd, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino)
            ::unlinkat(dirFd, entry->d_name, 0);
        ::close(fd);
    }
    ::closedir(dir);
}

} // namespace kelvara
