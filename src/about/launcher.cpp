#include "launcher.h"

#include <QFileInfo>
#include <QProcess>

namespace kelvara {

namespace {

std::unique_ptr<LauncherSeam>& installed()
{
    static std::unique_ptr<LauncherSeam> seam = std::make_unique<ProcessLauncher>();
    return seam;
}

} // namespace

bool ProcessLauncher::start(const QString& commandLine)
{
    QString program = commandLine;
    QStringList arguments;
    if (!QFileInfo(commandLine).isFile()) {
        arguments = QProcess::splitCommand(commandLine);
        if (arguments.isEmpty())
            return false;
        program = arguments.takeFirst();
    }
    return QProcess::startDetached(program, arguments);
}

LauncherSeam& launcher()
{
    return *installed();
}

void installLauncher(std::unique_ptr<LauncherSeam> seam)
{
    installed() = seam ? std::move(seam) : std::make_unique<ProcessLauncher>();
}

} // namespace kelvara
