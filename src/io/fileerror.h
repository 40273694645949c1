#pragma once

#include <QString>

namespace kelvara {

// The kinds of file error the "Fájlhiba" dialog tells apart, in the order in which they are tested.
enum class FileErrorKind {
    DeviceUnavailable,
    DiskNotReady,
    DiskFull,
    InvalidFileName,
    PathNotFound,
    NotADirectory, // a directory was wanted, and something else stands there
    AccessDenied,
    AlreadyOpen,
    TooManyOpenFiles,
    EndOfFile,
    OutOfMemory,
    Other,
};

// A failed file operation: what went wrong, as the platform reported it.
struct FileError
{
    FileErrorKind kind = FileErrorKind::Other;
    int code = 0; // errno, or 0 for an unexpected end of file

    static FileError fromErrno(int errnoValue);
    static FileError unexpectedEnd();
    // The message of the "Fájlhiba" dialog for this error's kind.
    QString message() const;

    friend bool operator==(const FileError&, const FileError&) = default;
};

} // namespace kelvara
