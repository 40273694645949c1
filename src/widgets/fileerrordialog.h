#pragma once

#include "io/fileerror.h"

#include <QString>

namespace kelvara {

// The answers of the "Fájlhiba" dialog.
enum class FileErrorAnswer { Retry = 0, Cancel = 2 };

// Shows the modal "Fájlhiba" dialog (exclamation, Retry and Cancel): the message of the error's kind,
// and `path` on a line of its own when one is given. Closing the dialog counts as Cancel.
FileErrorAnswer fileErrorDialog(const FileError& error, const QString& path = {});

} // namespace kelvara
