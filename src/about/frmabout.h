#pragma once

#include <QDialog>
#include <array>

class QFrame;
class QLabel;
class QPushButton;
class QTimer;

namespace kelvara {

class Banner;

// The About window "Névjegy", the last window of the program: title, version, notices, the maker
// banner, and a button that starts the system-information program.
class frmAbout : public QDialog
{
    Q_OBJECT

public:
    explicit frmAbout(QWidget* parent = nullptr);

    // Runs once, before the window is first shown.
    void load();

    void StartSysInfo();

    QPushButton* cmdOK;
    QLabel* picIcon;
    QPushButton* cmdSysInfo;
    QLabel* lblTitle;
    QLabel* lblVersion;
    QLabel* Label1;
    QLabel* lblDescription;
    QLabel* Label2;
    std::array<QFrame*, 2> Line1; // the etched separator: grey, then white below it
    QLabel* lblDisclaimer;
    QTimer* Timer1;
    Banner* banner; // on Label1, with bannerPos, bannerText, bannerRunning and bannerColor

signals:
    // The window was closed by "OK", Enter, Esc or its frame.
    void unloaded();

protected:
    void closeEvent(QCloseEvent* event) override;
    // Esc: the same as "OK".
    void reject() override;
};

} // namespace kelvara
