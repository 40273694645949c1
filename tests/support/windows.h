#pragma once

#include "app/application.h"
#include "app/indit.h"
#include "main/cserel.h"
#include "platform/directorylist.h"

#include <QPushButton>

namespace kelvara::test {

// Opens `dir` in the application's main window, as "Könyvtárnyitás" does.
inline cserel& openInMainWindow(Application& app, const QString& dir)
{
    app.startWindow()->Dir1->setPath(dir);
    app.startWindow()->Command1->click();
    return app.mainWindow();
}

} // namespace kelvara::test
