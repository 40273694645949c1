#include "fileerrordialog.h"

#include "messagebox.h"

namespace kelvara {

FileErrorAnswer fileErrorDialog(const FileError& error, const QString& path)
{
    QString message = error.message();
    if (!path.isEmpty())
        message += QLatin1Char('\n') + path;
    const MsgAnswer answer =
        messageBox(message, MsgIcon::Exclamation, MsgButtons::RetryCancel, QStringLiteral("Fájlhiba"));
    return answer == MsgAnswer::Retry ? FileErrorAnswer::Retry : FileErrorAnswer::Cancel;
}

} // namespace kelvara
