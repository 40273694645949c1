#include "indit.h"

#include "drivecheck.h"
#include "io/volumes.h"
#include "widgets/directorylist.h"
#include "widgets/drivelist.h"
#include "widgets/look.h"

#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace kelvara {

indit::indit(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("indit"));
    setWindowTitle(QStringLiteral("Könyvtár megnyitása"));
    sizeTwips(this, 3375, 4665);
    setWindowIcon(kelvaraIcon());

    // The drive list and the directory list start at the current drive and directory.
    Label3 = addControl<QLabel>(this, "Label3", QStringLiteral("Könyvtár:"), 120, 120, 855, 255);
    Dir1 = addControl<DirectoryList>(this, "Dir1", 120, 360, 3135, 1890);
    Label2 = addControl<QLabel>(this, "Label2", QStringLiteral("Meghajtó:"), 120, 2520, 855, 255);
    Drive1 = addControl<DriveList>(this, "Drive1", 120, 2760, 3135, 315);
    Label4 = addControl<QLabel>(this, "Label4", QStringLiteral("Megnyitni kívánt alkönyvtár:"), 120, 3360,
                                3015, 255);
    Text1 = addControl<QLineEdit>(this, "Text1", QStringLiteral("Text1"), 120, 3600, 3135, 285);
    Command1 =
        addControl<QPushButton>(this, "Command1", QStringLiteral("Könyvtárnyitás"), 120, 4080, 3135, 375);

    for (QWidget* control : std::initializer_list<QWidget*>{Text1, Dir1, Drive1})
        setColors(control, SystemColor::InactiveCaption, SystemColor::WindowBackground);

    connect(Drive1, &DriveList::changed, this, &indit::onDrive1Change);
    connect(Dir1, &DirectoryList::changed, this, &indit::onDir1Change);
    connect(Dir1, &DirectoryList::keyPressed, this, &indit::onDir1KeyPress);
    connect(Text1, &QLineEdit::textChanged, this, &indit::onText1Change);
    connect(Command1, &QPushButton::clicked, this, &indit::openDirectoryRequested);
}

void indit::load()
{
    centreOnScreen(this);
    const QString programDirectory = Volumes::programDirectory();
    volumes().setCurrentDrive(volumes().driveOf(programDirectory));
    volumes().setCurrentDirectory(programDirectory);
    Text1->setText(Dir1->path());
}

void indit::onDrive1Change()
{
    checkDrive(Volumes::withSeparator(Drive1->drive()));
    if (!driveCheckFailed) {
        volumes().setCurrentDrive(Drive1->entryText(Drive1->selectedIndex()));
        Dir1->setPath(volumes().currentDirectory(volumes().currentDrive()), volumes().currentDrive());
        Text1->setText(Dir1->path());
    } else {
        // Back to the drive whose tree is on show (the directory shown may lie in a file system
        // mounted inside it); that change checks it once more.
        Drive1->setDriveFromPath(Dir1->drive());
    }
}

void indit::onDir1Change()
{
    Text1->setText(Dir1->path());
}

void indit::onDir1KeyPress(int keyCode)
{
    if (keyCode == 13)
        Dir1->setPath(Dir1->entryPath(Dir1->highlightedIndex()));
}

void indit::onText1Change()
{
    // The box only shows the chosen directory; typing into it is undone at once.
    Text1->setText(Dir1->path());
}

void indit::closeEvent(QCloseEvent* event)
{
    event->ignore();
    emit quitRequested();
}

} // namespace kelvara
