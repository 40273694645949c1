#include "outputdirectory.h"

#include "platform/directory.h"
#include "platform/pathcodec.h"
#include "platform/tempfiles.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace kelvara {

std::optional<OutputDirectoryProblem> openOutputDirectory(const QString& directory, MainState& state,
                                                          ReplaceDirectories& dirs)
{
    using Kind = OutputDirectoryProblem::Kind;
    state.outDirPath = joinPath(directory, OutputDirectoryName);
    dirs.path = directory;
    if (const std::optional<FileError> error = openDirectory(directory, dirs.source))
        return OutputDirectoryProblem{Kind::FileError, *error, directory};
    const QByteArray name = QByteArray(OutputDirectoryName.data(), OutputDirectoryName.size());
    const int dirFd = dirs.source.get();
    std::optional<FileError> error;
    // Made when missing; someone else making it meanwhile is as good.
    for (int attempt = 0; attempt < 2; ++attempt) {
        error = openSubdirectory(dirFd, name, dirs.output);
        if (!error || error->code != ENOENT)
            break;
        if (::mkdirat(dirFd, name.constData(), 0777) != 0 && errno != EEXIST)
            return OutputDirectoryProblem{Kind::FileError, FileError::fromErrno(errno), state.outDirPath};
    }
    if (error) {
        struct stat st;
        const bool link =
            ::fstatat(dirFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
        return OutputDirectoryProblem{link ? Kind::Link : Kind::FileError, *error, state.outDirPath};
    }
    if (isSameFile(dirs.source.get(), dirs.output.get()))
        return OutputDirectoryProblem{Kind::Same, FileError(), state.outDirPath};
    removeAbandonedTemporaries(dirs.output.get());
    return std::nullopt;
}

} // namespace kelvara
