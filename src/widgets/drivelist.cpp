#include "drivelist.h"

#include "io/volumes.h"

#include <QSignalBlocker>
#include <QStyle>

namespace kelvara {

DriveList::DriveList(QWidget* parent) : QComboBox(parent)
{
    reload();
    setCurrentIndex(findText(volumes().driveOf(volumes().currentDrive())));
    connect(this, &QComboBox::currentIndexChanged, this, &DriveList::changed);
}

void DriveList::setDriveFromPath(const QString& path)
{
    const QString drive = volumes().driveOf(path);
    int index = findText(drive);
    if (index < 0) {
        reload();
        index = findText(drive);
    }
    setCurrentIndex(index); // emits only when the index differs
}

void DriveList::reload()
{
    const QSignalBlocker quiet(this);
    const QString current = currentText();
    const QIcon icon = style()->standardIcon(QStyle::SP_DriveHDIcon);
    clear();
    for (const QString& drive : volumes().drives())
        addItem(icon, drive);
    setCurrentIndex(findText(current));
    if (currentIndex() < 0 && !current.isEmpty()) {
        // The drive on show has gone; keep it listed so the list and the directory tree still agree.
        addItem(icon, current);
        setCurrentIndex(count() - 1);
    }
}

void DriveList::showPopup()
{
    reload();
    QComboBox::showPopup();
}

} // namespace kelvara
