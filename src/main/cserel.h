#pragma once

#include "replace/replacecommands.h"
#include "search/mainstate.h"
#include "search/searchcommands.h"
#include "widgets/buttongroup.h"

#include <QString>
#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTimer;

namespace kelvara {

class Banner;
class FileList;
class HitList;

// The main window "Kelvara": the file list of the working directory, the search and replacement
// texts with their options, the command buttons and the hit list. Its state fields (MainState) are
// the ones the search and replace commands work with.
class cserel : public QWidget, public MainState
{
    Q_OBJECT

public:
    explicit cserel(QWidget* parent = nullptr);

    // Runs once, when the window is first created.
    void load();
    // Lists the files of `directory` in File1 and their count in Label7; the replace buttons are
    // disabled and the search buttons follow the search text.
    void openDirectory(const QString& directory);

    // The two button groups, always switched as a whole.
    void enableSearchButtons();
    void disableSearchButtons();
    void enableReplaceButtons();
    void disableReplaceButtons();

    // The header block of the file being read (filePath, or outFilePath unless modeMarker is "ak"):
    // csillag into the hit list List1, csillag2 into the hidden List2.
    void csillag();
    void csillag2();

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
    HitList* List1;
    HitList* List2;
    QTimer* Timer1;

    Banner* banner; // on Label2, with bannerPos, bannerText, bannerRunning and bannerColor

signals:
    // "Új könyvtár nyitása": show the start window again.
    void startWindowRequested();
    // "Kilépés", or the window frame closed.
    void quitRequested();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void connectEvents();
    void onText1Change();
    void onCommand8Click();
    void onCommand1Click();
    void onCommand6Click();
    void onFile1Click();
    void onList1Click();
    void onCommand2Click();
    void onCommand3Click();
    void onCommand4Click();
    void onCommand7Click();
    void runSearch(SearchCommand command);
    template <typename Command> void runReplace(Command command);
    template <typename Command> ReplaceSummary runPass(Command command);
    SearchText currentSearch() const;
    ReplaceText currentReplace() const;

    ButtonGroup SearchButtons;
    ButtonGroup ReplaceButtons;
    PassControl* running_ = nullptr; // the command that runs
    bool closeWhenDone_ = false;     // the window was closed while it ran
};

} // namespace kelvara
