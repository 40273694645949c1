#include "application.h"

#include "about/frmabout.h"
#include "indit.h"
#include "io/directory.h"
#include "io/volumes.h"
#include "main/cserel.h"
#include "widgets/directorylist.h"
#include "widgets/drivelist.h"
#include "widgets/fileerrordialog.h"

#include <QCoreApplication>

namespace kelvara {

Application::Application(const QString& directory) : indit_(new indit)
{
    indit_->load();
    connect(indit_, &indit::openDirectoryRequested, this, &Application::openDirectory);
    connect(indit_, &indit::quitRequested, this, &Application::end);
    if (!directory.isEmpty() && chooseInStartWindow(directory))
        openDirectory();
    else
        indit_->show();
}

// Puts the start window on the directory's drive and on the directory, as if the user had chosen
// them, once the directory can be read: Retry in the "Fájlhiba" question reads it again, Cancel
// gives up.
bool Application::chooseInStartWindow(const QString& directory)
{
    QString firstEntry; // only whether the directory can be read matters
    while (std::optional<FileError> error = firstOrdinaryEntry(directory, firstEntry)) {
        if (fileErrorDialog(*error, directory) != FileErrorAnswer::Retry)
            return false;
    }
    indit_->Drive1->setDriveFromPath(directory);
    if (indit_->Drive1->drive() != volumes().driveOf(directory))
        return false; // the user gave up on the drive itself
    indit_->Dir1->setPath(directory);
    return true;
}

Application::~Application()
{
    delete about_;
    delete main_;
    delete indit_;
}

indit* Application::startWindow() const
{
    return indit_;
}

cserel& Application::mainWindow()
{
    if (!main_) {
        main_ = new cserel;
        main_->load();
        connect(main_, &cserel::startWindowRequested, indit_.data(), &indit::show);
        connect(main_, &cserel::quitRequested, this, &Application::quit);
    }
    return *main_;
}

void Application::openDirectory()
{
    cserel& main = mainWindow();
    main.show();
    main.openDirectory(indit_->Dir1->path());
    indit_->hide();
}

frmAbout* Application::aboutWindow() const
{
    return about_;
}

void Application::quit()
{
    // The windows go once the event that asked for this has been handled; the main window's
    // banner timer with it.
    if (main_) {
        main_->hide();
        main_->deleteLater();
    }
    if (indit_) {
        indit_->hide();
        indit_->deleteLater();
    }
    if (!about_) {
        about_ = new frmAbout;
        about_->load();
        connect(about_, &frmAbout::unloaded, this, &Application::onAboutUnloaded);
    }
    about_->show();
}

void Application::end()
{
    if (main_)
        main_->deleteLater();
    if (indit_)
        indit_->deleteLater();
    QCoreApplication::quit();
    emit finished();
}

void Application::onAboutUnloaded()
{
    // The last window is gone.
    about_->deleteLater();
    end();
}

} // namespace kelvara
