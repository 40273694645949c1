#include "outputdirectory.h"

#include "io/directory.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace kelvara {

QString fileTypeName(unsigned seen)
{
    switch (seen & S_IFMT) {
    case S_IFIFO:
        return QStringLiteral("FIFO");
    case S_IFSOCK:
        return QStringLiteral("socket");
    case S_IFCHR:
    case S_IFBLK:
        return QStringLiteral("eszközfájl");
    default:
        return QStringLiteral("fájl");
    }
}

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
    // What stands at uj is taken as it is, a link included, and looked at through the one descriptor:
    // a second look by name could see something else swapped in meanwhile and name the wrong cause.
    Descriptor found;
    for (int attempt = 0;; ++attempt) {
        found.reset(openAtRetrying(dirFd, name.constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        if (found.isOpen())
            break;
        // Made when missing; someone else making it meanwhile is as good.
        if (errno != ENOENT || attempt == 1 ||
            (::mkdirat(dirFd, name.constData(), 0777) != 0 && errno != EEXIST))
            return OutputDirectoryProblem{Kind::FileError, FileError::fromErrno(errno), state.outDirPath};
    }
    struct stat st;
    if (::fstat(found.get(), &st) != 0)
        return OutputDirectoryProblem{Kind::FileError, FileError::fromErrno(errno), state.outDirPath};
    if (S_ISLNK(st.st_mode))
        return OutputDirectoryProblem{Kind::Link, FileError::fromErrno(ELOOP), state.outDirPath};
    if (!S_ISDIR(st.st_mode))
        return OutputDirectoryProblem{Kind::NotDirectory, FileError::fromErrno(ENOTDIR), state.outDirPath,
                                      unsigned(st.st_mode & S_IFMT)};
    // The directory found, opened for its entries through itself rather than by its name again.
    dirs.output.reset(openAtRetrying(found.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dirs.output.isOpen())
        return OutputDirectoryProblem{Kind::FileError, FileError::fromErrno(errno), state.outDirPath};
    if (isSameFile(dirs.source.get(), dirs.output.get()))
        return OutputDirectoryProblem{Kind::Same, FileError(), state.outDirPath};
    return std::nullopt;
}

} // namespace kelvara
