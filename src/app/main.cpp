#include "app/application.h"
#include "platform/look.h"
#include "platform/tempfiles.h"

#include <QApplication>
#include <csignal>

int main(int argc, char* argv[])
{
    // A copy that reaches the file size limit fails with EFBIG and goes to the "Fájlhiba" dialog,
    // instead of the signal ending the program.
    std::signal(SIGXFSZ, SIG_IGN);
    kelvara::removeTemporaryOnSignals();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kelvara"));
    // Hidden windows keep the program alive; it ends when its windows are discarded.
    QApplication::setQuitOnLastWindowClosed(false);
    kelvara::applyLook();
    kelvara::Application kelvara;
    return app.exec();
}
