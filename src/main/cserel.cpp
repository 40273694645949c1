#include "cserel.h"

#include "about/banner.h"
#include "progresswindow.h"
#include "search/headerblock.h"
#include "text/countdisplay.h"
#include "widgets/fileerrordialog.h"
#include "widgets/filelist.h"
#include "widgets/hitlist.h"
#include "widgets/look.h"
#include "widgets/messagebox.h"
#include "widgets/waitcursor.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QTimer>
#include <utility>

namespace kelvara {

namespace {

QPushButton* addButton(QWidget* window, const char* name, const QString& caption, int left, int top,
                       int width)
{
    auto* button = addControl<QPushButton>(window, name, left, top, width, 315);
    button->setText(caption);
    return button;
}

// File errors go to the "Fájlhiba" dialog, anything else to a message box; none once the user asked
// the command to stop: the file is given up, and the counts show what was kept.
class DialogReplaceErrors : public ReplaceErrors
{
public:
    explicit DialogReplaceErrors(const PassControl& control) : control_(control) {}
    bool askRetry(const FileError& error, const QString& path) override
    {
        return !control_.stopped() && fileErrorDialog(error, path) == FileErrorAnswer::Retry;
    }
    void tell(const QString& message) override
    {
        if (!control_.stopped())
            messageBox(message, MsgIcon::Exclamation, MsgButtons::Ok, QStringLiteral("Kelvara"));
    }

private:
    const PassControl& control_;
};

// File1 as a command sees it. The entries it selects one after the other reach the list as one range
// at each pulse instead of one by one; anything else it asks or does takes them in first.
class BatchedSelection final : public FileSelection
{
public:
    BatchedSelection(FileListModel& list, PassControl& control) : list_(list), control_(control) {}
    ~BatchedSelection() override { flush(); }

    void flush() const
    {
        if (first_ >= 0)
            list_.selectRange(std::exchange(first_, -1), last_);
    }
    QString directoryPath() const override { return list_.directoryPath(); }
    int entryCount() const override { return list_.entryCount(); }
    std::shared_ptr<const std::vector<DirectoryEntry>> entries() const override { return list_.entries(); }
    QString entryText(int k) const override { return list_.entryText(k); }
    QByteArray entryName(int k) const override { return list_.entryName(k); }
    bool isEntrySelected(int k) const override { return flush(), list_.isEntrySelected(k); }
    int selectedEntryCount() const override { return flush(), list_.selectedEntryCount(); }
    int currentEntry() const override { return flush(), list_.currentEntry(); }
    // The directory is listed on another thread, which a slow drive may take long.
    std::optional<FileError> reread() override
    {
        flush();
        return list_.rereadThrough([this](const QString& directory, std::vector<DirectoryEntry>& entries) {
            std::optional<FileError> error;
            control_.runPulsing([&] { error = listFiles(directory, entries); });
            return error;
        });
    }
    void setEntrySelected(int k, bool selected) override
    {
        if (selected && first_ < 0) {
            first_ = last_ = k;
        } else if (selected && k == last_ + 1) {
            last_ = k;
        } else {
            flush();
            list_.setEntrySelected(k, selected);
        }
    }

private:
    FileListModel& list_;
    PassControl& control_;
    mutable int first_ = -1; // entries first_..last_ wait to be selected; -1: none
    mutable int last_ = -1;
};

} // namespace

cserel::cserel(QWidget* parent)
    : QWidget(parent),
      Label4(addControl<QLabel>(this, "Label4", QStringLiteral("Keresett szöveg:"), 120, 370, 1215, 255)),
      Text1(addControl<QLineEdit>(this, "Text1", 1440, 360, 2655, 285)),
      Option1(
          addControl<QRadioButton>(this, "Option1", QStringLiteral("Előfordul benne"), 480, 840, 1575, 255)),
      Option2(
          addControl<QRadioButton>(this, "Option2", QStringLiteral("Így kezdődik"), 2280, 840, 1335, 255)),
      Check1(addControl<QCheckBox>(this, "Check1", QStringLiteral("Kisbetű / NAGYBETŰ megkülönböztetése"),
                                   480, 1200, 3495, 255)),
      Label5(addControl<QLabel>(this, "Label5", QStringLiteral("Cserélje erre:"), 120, 1575, 975, 255)),
      Text2(addControl<QLineEdit>(this, "Text2", 1440, 1560, 2655, 285)),
      Command8(addButton(this, "Command8", QStringLiteral("Új könyvtár nyitása"), 120, 2055, 1695)),
      Command5(addButton(this, "Command5", QStringLiteral("Kilépés"), 2400, 2055, 1695)),
      Label3(addControl<QLabel>(this, "Label3", QStringLiteral("Találatok száma:"), 120, 2640, 1815, 255)),
      Label6(addControl<QLabel>(this, "Label6", 2400, 2640, 1695, 285)),
      Command1(
          addButton(this, "Command1", QStringLiteral("Keres a kiválasztott file-okban"), 4560, 360, 2500)),
      Command6(addButton(this, "Command6", QStringLiteral("Keres az összes file-ban"), 4560, 675, 2500)),
      Command7(addButton(this, "Command7", QStringLiteral("Cserél a kiválasztott sorban"), 4560, 1110, 2500)),
      Command2(addButton(this, "Command2", QStringLiteral("Cserél a teljes file-ban"), 4560, 1425, 2500)),
      Command4(
          addButton(this, "Command4", QStringLiteral("Cserél a kiválasztott file-okban"), 4560, 1740, 2500)),
      Command3(addButton(this, "Command3", QStringLiteral("Cserél az összes file-ban"), 4560, 2055, 2500)),
      Label2(addControl<QLabel>(this, "Label2", 4680, 2520, 2295, 375)),
      Label1(addControl<QLabel>(this, "Label1", QStringLiteral("File-lista:"), 7320, 120, 975, 255)),
      File1(addControl<FileList>(this, "File1", 7320, 360, 1815, 2235)),
      Label7(addControl<QLabel>(this, "Label7", 7320, 2640, 1815, 285)),
      List1(addControl<HitList>(this, "List1", 120, 3120, 9015, 2205)),
      List2(addControl<HitList>(this, "List2", 4680, 0, 735, 255)), Timer1(new QTimer(this)),
      banner(new Banner(Label2, Timer1)), SearchButtons{Command1, Command6}, ReplaceButtons{
                                                                                 Command2, Command3, Command4,
                                                                                 Command7}
{
    setObjectName(QStringLiteral("cserel"));
    setWindowTitle(QStringLiteral("Kelvara"));
    sizeTwips(this, 9240, 5445);
    setWindowIcon(kelvaraIcon());

    setColors(Text1, SystemColor::TooltipBackground, Qt::black);
    Option1->setChecked(true);
    Check1->setChecked(true);
    setColors(Text2, SystemColor::TooltipBackground, Qt::black);
    Label2->setAlignment(Qt::AlignCenter);
    Label2->setFont(bannerFont());
    Label2->setToolTip(QStringLiteral("Rákattintva megállítható..."));
    setColors(File1, SystemColor::InactiveCaption, SystemColor::WindowBackground);
    setColors(List1, SystemColor::InactiveCaption, Colors::PaleYellow);
    List2->setVisible(false);
    for (QLabel* counter : {Label6, Label7}) {
        counter->setFont(countFont());
        setColors(counter, Colors::LightBlue, SystemColor::WindowBackground);
    }
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(150);
    connectEvents();
}

// Each event of a control to its handler.
void cserel::connectEvents()
{
    connect(Text1, &QLineEdit::textChanged, this, &cserel::onText1Change);
    connect(Command8, &QPushButton::clicked, this, &cserel::onCommand8Click);
    connect(Command5, &QPushButton::clicked, this, &cserel::quitRequested);
    connect(Command1, &QPushButton::clicked, this, &cserel::onCommand1Click);
    connect(Command6, &QPushButton::clicked, this, &cserel::onCommand6Click);
    connect(Command7, &QPushButton::clicked, this, &cserel::onCommand7Click);
    connect(Command2, &QPushButton::clicked, this, &cserel::onCommand2Click);
    connect(Command4, &QPushButton::clicked, this, &cserel::onCommand4Click);
    connect(Command3, &QPushButton::clicked, this, &cserel::onCommand3Click);
    connect(File1, &FileList::click, this, &cserel::onFile1Click);
    connect(List1, &HitList::click, this, &cserel::onList1Click);
}

void cserel::load()
{
    centreOnScreen(this);
    banner->load();
    List1->update();
    Label6->hide();
    Label3->hide();
    Timer1->start();
}

void cserel::openDirectory(const QString& directory)
{
    // A directory that cannot be listed goes to the "Fájlhiba" dialog: Retry lists it again,
    // Cancel leaves the file list empty.
    std::optional<FileError> error = File1->files().setDirectory(directory);
    while (error && fileErrorDialog(*error, directory) == FileErrorAnswer::Retry)
        error = File1->files().reread();
    Label7->setText(countDisplay(File1->files().entryCount()) + QStringLiteral("  db file"));
    List1->update();
    disableReplaceButtons();
    onText1Change();
}

void cserel::enableSearchButtons()
{
    SearchButtons.setEnabled(true);
}

void cserel::disableSearchButtons()
{
    SearchButtons.setEnabled(false);
}

void cserel::enableReplaceButtons()
{
    ReplaceButtons.setEnabled(true);
}

void cserel::disableReplaceButtons()
{
    ReplaceButtons.setEnabled(false);
}

void cserel::csillag()
{
    appendHeaderBlock(*this, List1->rows());
    List1->flush();
}

void cserel::csillag2()
{
    appendHeaderBlock(*this, List2->rows());
    List2->flush();
}

// "Keres a kiválasztott file-okban"
void cserel::onCommand1Click()
{
    runSearch(searchSelectedFiles);
}

// "Keres az összes file-ban"
void cserel::onCommand6Click()
{
    runSearch(searchAllFiles);
}

// The steps both search commands share around their own: the count labels appear, the hit count is
// shown at the end and the replace buttons are enabled, whatever was found.
void cserel::runSearch(SearchCommand command)
{
    if (running_)
        return;
    const WaitCursor wait;
    Label6->setVisible(true);
    Label3->setVisible(true);
    runPass([&](FileSelection& files, ReplaceErrors& errors, PassControl& control) {
        command(files, currentSearch(), *this, List1->rows(), errors, &control);
        return ReplaceSummary{true, 0};
    });
    List1->flush();
    Label6->setText(countDisplay(hitCount) + QStringLiteral(" db sor"));
    enableReplaceButtons();
}

// Runs a command with the window alive: its files are read on other threads while this one commits
// them and, between commits, handles the window's events, shows the progress window after half a
// second and fills the hit list in batches. Closing the window meanwhile stops the command first.
//
// Invariant: the window's thread is the pass's calling thread, so it alone touches the window, its
// state fields and the questions (rows, selection, "Fájlhiba", all in file order); other threads
// read files, write copies without a name and name them in file order ahead of their commits
// (OrderedPool), and no second command starts while running_ is set.
template <typename Command> ReplaceSummary cserel::runPass(Command command)
{
    PassControl control;
    control.callerCommitsOnly = true;
    ProgressWindow progress(this, control);
    BatchedSelection files(File1->files(), control);
    control.pulse = [&] { progress.pulse([&] { files.flush(); }); };
    DialogReplaceErrors errors(control);
    running_ = &control;
    const auto done = qScopeGuard([this] {
        running_ = nullptr;
        if (std::exchange(closeWhenDone_, false))
            QTimer::singleShot(0, this, &cserel::quitRequested);
    });
    return command(files, errors, control);
}

// The search text and its options as they stand: case-sensitive only when Check1 is checked,
// anywhere in the line when Option1 is selected.
SearchText cserel::currentSearch() const
{
    return SearchText(Text1->text(), Check1->checkState() == Qt::Checked,
                      Option1->isChecked() ? MatchMode::Anywhere : MatchMode::LineStart);
}

// "Cserél a teljes file-ban"
void cserel::onCommand2Click()
{
    runReplace(replaceInCurrentFile);
}

// "Cserél az összes file-ban"
void cserel::onCommand3Click()
{
    runReplace(replaceInAllFiles);
}

// "Cserél a kiválasztott file-okban"
void cserel::onCommand4Click()
{
    runReplace(replaceInSelectedFiles);
}

// "Cserél a kiválasztott sorban": the lines equal to the selected hit row. With no row selected
// the comparison text is empty, so no line is rewritten.
void cserel::onCommand7Click()
{
    const int selected = List1->selectedIndex();
    const QString row = selected >= 0 ? List1->text(selected) : QString();
    runReplace([&row](auto& files, const auto& text, auto& state, auto& rows, auto& errors, auto* control) {
        return replaceInSelectedLine(files, text, row, state, rows, errors, control);
    });
}

// What every replace command, a function as the replace functions are, does around its own steps: the
// hit count goes first, so that no old count stands over the emptied hit list while a question of the
// command is open (it comes back when the command refused to start); the hit list shows what was added.
template <typename Command> void cserel::runReplace(Command command)
{
    if (running_)
        return;
    const WaitCursor wait;
    const bool countShown = !Label6->isHidden();
    Label6->setVisible(false);
    Label3->setVisible(false);
    const ReplaceSummary summary =
        runPass([&](FileSelection& files, ReplaceErrors& errors, PassControl& control) {
            return command(files, currentReplace(), *this, List1->rows(), errors, &control);
        });
    if (!summary.started) {
        Label6->setVisible(countShown);
        Label3->setVisible(countShown);
    }
    List1->flush();
}

// The texts and the case rule as they stand; the match mode plays no part in replacing.
ReplaceText cserel::currentReplace() const
{
    return ReplaceText(Text1->text(), Text2->text(), Check1->checkState() == Qt::Checked);
}

// The number of selected files, which File1's model keeps counted.
void cserel::onFile1Click()
{
    Label7->setText(countDisplay(File1->files().selectedEntryCount()) + QStringLiteral("  db file"));
}

// Only hit rows can be chosen: star rows and file header rows begin with "*".
void cserel::onList1Click()
{
    const int selected = List1->selectedIndex();
    if (selected >= 0 && List1->text(selected).startsWith(QLatin1Char('*')))
        List1->deselect(selected);
}

void cserel::onText1Change()
{
    // Blanks count as text.
    if (!Text1->text().isEmpty())
        enableSearchButtons();
    else
        disableSearchButtons();
}

void cserel::onCommand8Click()
{
    hide();
    List1->clear();
    emit startWindowRequested();
}

void cserel::closeEvent(QCloseEvent* event)
{
    event->ignore();
    if (running_) {
        running_->stopRequested = true;
        closeWhenDone_ = true;
        return;
    }
    emit quitRequested();
}

} // namespace kelvara
