#pragma once

#include "platform/buttongroup.h"

#include <QString>
#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QTimer;

namespace kelvara {

class Banner;
class FileList;

// The main window "Kelvara": the file list of the working directory, the search and replacement
// texts with their options, the command buttons and the hit list.
class cserel : public QWidget
{
    Q_OBJECT

public:
    explicit cserel(QWidget* parent = nullptr);

    // Runs once, when the window is first created.
    void load();

    // The two button groups, always switched as a whole.
    void enableSearchButtons();
    void disableSearchButtons();
    void enableReplaceButtons();
    void disableReplaceButtons();

    QLabel* Label4;
    QLineEdit* Text1;
    QRadioButton* Option1;
    QRadioButton* Option2;
    QCheckBox* Check1;
    QLabel* Label5;
    QLineEdit* Text2;
    QPushButton* Command8;
    QPushButton* Command5;
    QLabel* Label3;
    QLabel* Label6;
    QPushButton* Command1;
    QPushButton* Command6;
    QPushButton* Command7;
    QPushButton* Command2;
    QPushButton* Command4;
    QPushButton* Command3;
    QLabel* Label2;
    QLabel* Label1;
    FileList* File1;
    QLabel* Label7;
    QListWidget* List1;
    QListWidget* List2;
    QTimer* Timer1;

    // The window's state, kept between events. Lengths and counters are 64-bit so that lines, texts
    // and hit counts of any size work.
    QString filePath;    // the input file being read
    QString outFilePath; // its output file in the uj subdirectory
    QString outDirPath;  // the output directory
    QString lineText;    // the line read last
    QString matchWindow; // the part of the line under comparison during a replacement
    QString modeMarker;  // "ak" or "ujak": which path the header rows name
    qint64 hitCount = 0;
    qint64 searchLen = 0;
    qint64 replaceLen = 0;
    qint64 lineLen = 0;
    qint64 prefixLen = 0;
    QString starRow;
    Banner* banner; // on Label2, with bannerPos, bannerText, bannerRunning and bannerColor

signals:
    // "Új könyvtár nyitása": show the start window again.
    void startWindowRequested();
    // "Kilépés", or the window frame closed.
    void quitRequested();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void onText1Change();
    void onCommand8Click();

    ButtonGroup SearchButtons;
    ButtonGroup ReplaceButtons;
};

} // namespace kelvara
