#include "fileerror.h"

#include <cerrno>

namespace kelvara {

namespace {

FileErrorKind fileErrorKind(int errnoValue)
{
    switch (errnoValue) {
    case ENXIO:
    case ENODEV:
        return FileErrorKind::DeviceUnavailable;
    case EIO:
#ifdef ENOMEDIUM
    case ENOMEDIUM:
#endif
        return FileErrorKind::DiskNotReady;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return FileErrorKind::DiskFull;
    case ENAMETOOLONG:
    case EILSEQ:
        return FileErrorKind::InvalidFileName;
    case ENOENT:
    case ELOOP:
        return FileErrorKind::PathNotFound;
    case ENOTDIR:
        return FileErrorKind::NotADirectory;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
        return FileErrorKind::AccessDenied;
    case EBUSY:
    case ETXTBSY:
        return FileErrorKind::AlreadyOpen;
    case EMFILE:
    case ENFILE:
        return FileErrorKind::TooManyOpenFiles;
    case ENOMEM:
        return FileErrorKind::OutOfMemory;
    case 0: // no errno at all: the data ended before it should have
        return FileErrorKind::EndOfFile;
    default:
        return FileErrorKind::Other;
    }
}

} // namespace

QString FileError::message() const
{
    // The wording, accents included, is what users of the tool have always seen; keep it as it is.
    switch (kind) {
    case FileErrorKind::DeviceUnavailable:
        return QStringLiteral("Az eszköz valószínûleg nem érhetõ el.");
    case FileErrorKind::DiskNotReady:
        return QStringLiteral("A lemez nem üzemkész.");
    case FileErrorKind::DiskFull:
        return QStringLiteral("A lemez megtelt.");
    case FileErrorKind::InvalidFileName:
        return QStringLiteral("Érvénytelen fájlnév.");
    case FileErrorKind::PathNotFound:
        return QStringLiteral("Az útvonal nem létezik.");
    case FileErrorKind::NotADirectory:
        return QStringLiteral("Az útvonal nem könyvtár.");
    case FileErrorKind::AccessDenied:
        return QStringLiteral("A fájl erre a mûveletre nem nyitható meg.");
    case FileErrorKind::AlreadyOpen:
        return QStringLiteral("A fájl már megnyitott.");
    case FileErrorKind::TooManyOpenFiles:
        return QStringLiteral("Túl sok a megnyitott fájl.");
    case FileErrorKind::EndOfFile:
        return QStringLiteral("Érvénytelen fájlvége-jelzõ,"
                              "vagy kísérlet a fájlvége jelzõn "
                              "túli olvasásra.");
    case FileErrorKind::OutOfMemory:
        return QStringLiteral("Nincs elég memória a fájl feldolgozásához.");
    case FileErrorKind::Other:
        break;
    }
    return QStringLiteral("Egyéb hiba - a lemezegység nem üzemkész.");
}

FileError FileError::fromErrno(int errnoValue)
{
    return FileError{fileErrorKind(errnoValue), errnoValue};
}

FileError FileError::unexpectedEnd()
{
    return FileError{FileErrorKind::EndOfFile, 0};
}

} // namespace kelvara
