#include "descriptor.h"

#include "text/pathcodec.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvara {

int openAtRetrying(int dirFd, const char* name, int flags, unsigned mode)
{
    int fd;
    do {
        fd = ::openat(dirFd, name, flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

void Descriptor::reset(int fd)
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = fd;
}

std::optional<FileError> openDirectory(const QString& path, Descriptor& out)
{
    const int fd =
        openAtRetrying(AT_FDCWD, pathToBytes(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return FileError::fromErrno(errno);
    out.reset(fd);
    return std::nullopt;
}

bool isSameFile(int fdA, int fdB)
{
    struct stat a;
    struct stat b;
    return ::fstat(fdA, &a) == 0 && ::fstat(fdB, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

} // namespace kelvara
