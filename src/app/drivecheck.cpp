#include "drivecheck.h"

#include "io/directory.h"
#include "widgets/fileerrordialog.h"

namespace kelvara {

bool driveCheckFailed = false;

void checkDrive(QString path)
{
    driveCheckFailed = false;
    QString firstEntry; // only whether the root can be read matters
    while (std::optional<FileError> error = firstOrdinaryEntry(path, firstEntry)) {
        if (showFileError(*error) != 0)
            return;
    }
}

int showFileError(const FileError& error)
{
    if (fileErrorDialog(error) == FileErrorAnswer::Retry)
        return 0;
    driveCheckFailed = true;
    return 2;
}

} // namespace kelvara
