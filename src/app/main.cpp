#include "app/application.h"
#include "platform/look.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kelvara"));
    // Hidden windows keep the program alive; it ends when its windows are discarded.
    QApplication::setQuitOnLastWindowClosed(false);
    kelvara::applyLook();
    kelvara::Application kelvara;
    return app.exec();
}
