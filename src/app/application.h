#pragma once

#include <QObject>
#include <QPointer>

namespace kelvara {

class cserel;
class indit;

// Creates the windows, each on first use, and carries out what passes between them.
class Application : public QObject
{
    Q_OBJECT

public:
    // Loads and shows the start window.
    Application();
    ~Application() override;

    indit* startWindow() const;
    // The main window, created and loaded on first use (not shown by this).
    cserel& mainWindow();

    // "Könyvtárnyitás": opens the directory chosen in the start window in the main window.
    void openDirectory();
    // "Kilépés": discards both windows and ends the program.
    void quit();

signals:
    // The windows are gone and the event loop has been asked to end.
    void finished();

private:
    void showStartWindow();

    QPointer<indit> indit_;
    QPointer<cserel> main_;
};

} // namespace kelvara
