#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;

namespace kelvara {

class DirectoryList;
class DriveList;

// The start window "Könyvtár megnyitása": the user picks a drive and a directory and opens it.
class indit : public QWidget
{
    Q_OBJECT

public:
    explicit indit(QWidget* parent = nullptr);

    // Centres the window and makes the program's own directory the current one.
    void load();

    QLabel* Label3;
    DirectoryList* Dir1;
    QLabel* Label2;
    DriveList* Drive1;
    QLabel* Label4;
    QLineEdit* Text1;
    QPushButton* Command1;

signals:
    // "Könyvtárnyitás": open the directory of Dir1 in the main window.
    void openDirectoryRequested();
    // The window frame was closed.
    void quitRequested();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void onDrive1Change();
    void onDir1Change();
    void onDir1KeyPress(int keyCode);
    void onText1Change();
};

} // namespace kelvara
