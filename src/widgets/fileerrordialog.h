#pragma once

#include "io/fileerror.h"
#include "io/fileselection.h"

#include <QString>

namespace kelvara {

// The answers of the "Fájlhiba" dialog.
enum class FileErrorAnswer { Retry = 0, Cancel = 2 };

// Shows the modal "Fájlhiba" dialog (exclamation, Retry and Cancel): the message of the error's kind,
// and `path` on a line of its own when one is given. Closing the dialog counts as Cancel.
FileErrorAnswer fileErrorDialog(const FileError& error, const QString& path = {});

// Asks the user through the "Fájlhiba" dialog whether to try a failed file again.
class DialogFileErrors : public FileErrorHandler
{
public:
    bool askRetry(const FileError& error, const QString& path) override
    {
        return fileErrorDialog(error, path) == FileErrorAnswer::Retry;
    }
};

} // namespace kelvara
