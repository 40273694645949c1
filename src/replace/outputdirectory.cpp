#include "outputdirectory.h"

#include "platform/directory.h"
#include "platform/pathcodec.h"

#include <cerrno>
#include <sys/stat.h>

namespace kelvara {

std::optional<FileError> ensureOutputDirectory(const QString& directory, MainState& state)
{
    state.outDirPath = joinPath(directory, OutputDirectoryName);
    const QByteArray path = pathToBytes(state.outDirPath);
    struct stat st;
    if (::lstat(path.constData(), &st) != 0) {
        if (errno != ENOENT)
            return FileError::fromErrno(errno);
        if (::mkdir(path.constData(), 0777) != 0)
            return FileError::fromErrno(errno);
        return std::nullopt;
    }
    // Something of that name is there; it serves only when it is a directory or leads to one.
    if (::stat(path.constData(), &st) != 0)
        return FileError::fromErrno(errno);
    if (!S_ISDIR(st.st_mode))
        return FileError::fromErrno(ENOTDIR);
    return std::nullopt;
}

bool isSameFile(const QString& a, const QString& b)
{
    struct stat sa;
    struct stat sb;
    // `b` first: a copy's path usually does not exist yet, and then one look is enough.
    return ::stat(pathToBytes(b).constData(), &sb) == 0 && ::stat(pathToBytes(a).constData(), &sa) == 0 &&
           sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

} // namespace kelvara
