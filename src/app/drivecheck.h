#pragma once

#include "io/fileerror.h"

#include <QString>

namespace kelvara {

// Set by every drive check: true when the user gave up on a drive that could not be read.
extern bool driveCheckFailed;

// Tests a drive by listing its root (`path` is the drive text followed by the separator). A file
// error goes to the "Fájlhiba" dialog: Retry lists again, Cancel sets driveCheckFailed.
void checkDrive(QString path);

// The "Fájlhiba" dialog of the drive check: 0 for Retry, 2 for Cancel (which sets driveCheckFailed).
int showFileError(const FileError& error);

} // namespace kelvara
