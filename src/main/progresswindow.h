#pragma once

#include "search/passcontrol.h"

#include <QDialog>
#include <QElapsedTimer>
#include <functional>

class QLabel;
class QProgressBar;
class QPushButton;

namespace kelvara {

// The progress of a long command, modal to its window: the files done out of the files to do, the
// file the command is at, a bar and "Mégse", which Escape and the frame's close button press too and
// which asks the pass to stop. It shows itself only once the command has run ShowAfterMs, so that a
// short command looks as if there were none.
class ProgressWindow : public QDialog
{
    Q_OBJECT

public:
    static constexpr int ShowAfterMs = 500;
    // Painting takes processor time from the workers: what a command changes in the windows is shown
    // at most this often, though events are handled at every pulse.
    static constexpr int RefreshEveryMs = 100;

    ProgressWindow(QWidget* owner, PassControl& control);
    ~ProgressWindow() override;

    // On the window's thread while the pass runs: handles the events that came meanwhile (input to
    // the owner only once this window stands before it, so that nothing else starts). When a refresh
    // is due, first runs `refreshOwner`, shows this window when its time has come and brings its
    // figures up to date.
    void pulse(const std::function<void()>& refreshOwner);

    // "Mégse"
    void reject() override;

    QLabel* counts;
    QLabel* current;
    QProgressBar* bar;
    QPushButton* cancel;

private:
    void showFigures();

    PassControl& control_;
    QElapsedTimer running_;
    QElapsedTimer refreshed_;
    bool cursorSet_ = false;
};

} // namespace kelvara
