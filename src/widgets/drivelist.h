#pragma once

#include <QComboBox>

namespace kelvara {

// The drive list: one entry per drive, its text the drive's mount point. Picking an entry, or setting
// the drive from code, raises changed() once, and only when the drive differs.
class DriveList : public QComboBox
{
    Q_OBJECT

public:
    // Lists the drives with the program's current drive chosen.
    explicit DriveList(QWidget* parent = nullptr);

    // The current drive text.
    QString drive() const { return currentText(); }
    // Chooses the drive of `path`.
    void setDriveFromPath(const QString& path);
    int selectedIndex() const { return currentIndex(); }
    QString entryText(int k) const { return itemText(k); }

    // Reads the drives again (a medium may have come or gone), keeping the current one.
    void reload();

signals:
    void changed();

protected:
    void showPopup() override;
};

} // namespace kelvara
