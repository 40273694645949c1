#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

namespace kelvara {

class cserel;
class frmAbout;
class indit;

// Creates the windows, each on first use, and carries out what passes between them.
class Application : public QObject
{
    Q_OBJECT

public:
    // Loads and shows the start window. With a directory, the start window is loaded on it but
    // stays hidden, and the main window opens on it at once; a directory that cannot be read goes
    // to the "Fájlhiba" question first, and when the user gives up the start window shows.
    explicit Application(const QString& directory = {});
    ~Application() override;

    indit* startWindow() const;
    // The main window, created and loaded on first use (not shown by this).
    cserel& mainWindow();

    // "Könyvtárnyitás": opens the directory chosen in the start window in the main window.
    void openDirectory();
    // The About window, once "Kilépés" has shown it.
    frmAbout* aboutWindow() const;

    // "Kilépés": discards the main and the start window and leaves the About window, whose
    // closing ends the program.
    void quit();

signals:
    // The windows are gone and the event loop has been asked to end.
    void finished();

private:
    bool chooseInStartWindow(const QString& directory);
    // Closing the start window: the program ends without the About window.
    void end();
    void onAboutUnloaded();

    QPointer<indit> indit_;
    QPointer<cserel> main_;
    QPointer<frmAbout> about_;
};

} // namespace kelvara
