#include "progresswindow.h"

#include "text/countdisplay.h"
#include "widgets/look.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>

namespace kelvara {

ProgressWindow::ProgressWindow(QWidget* owner, PassControl& control)
    : QDialog(owner), counts(new QLabel(this)), current(new QLabel(this)), bar(new QProgressBar(this)),
      cancel(new QPushButton(QStringLiteral("Mégse"), this)), control_(control)
{
    setObjectName(QStringLiteral("progress"));
    counts->setObjectName(QStringLiteral("counts"));
    current->setObjectName(QStringLiteral("current"));
    bar->setObjectName(QStringLiteral("bar"));
    cancel->setObjectName(QStringLiteral("cancel"));
    setWindowTitle(QStringLiteral("Kelvara"));
    setWindowIcon(kelvaraIcon());
    setWindowModality(Qt::WindowModal);
    // A title and a close button, which presses "Mégse": the window has no other size to take.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    bar->setTextVisible(false);
    // Wide enough for a long name and the largest counts; a longer name is cut in its middle.
    current->setMinimumWidth(QFontMetrics(current->font()).averageCharWidth() * 48);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(counts);
    layout->addWidget(current);
    layout->addWidget(bar);
    layout->addLayout(buttons);
    setFixedSize(sizeHint());
    connect(cancel, &QPushButton::clicked, this, &ProgressWindow::reject);
    running_.start();
}

ProgressWindow::~ProgressWindow()
{
    if (cursorSet_)
        QGuiApplication::restoreOverrideCursor();
}

void ProgressWindow::pulse(const std::function<void()>& refreshOwner)
{
    if (!refreshed_.isValid() || refreshed_.hasExpired(RefreshEveryMs)) {
        refreshed_.start();
        refreshOwner();
        if (!isVisible() && running_.elapsed() >= ShowAfterMs) {
            showFigures();
            show();
            // The command's wait cursor stays over its window; here the user may press "Mégse".
            QGuiApplication::setOverrideCursor(Qt::ArrowCursor);
            cursorSet_ = true;
        } else if (isVisible()) {
            showFigures();
        }
    }
    // All that is pending, not one round of the event loop: a round may leave the window's own
    // repaint for later, and later is the next pulse.
    QCoreApplication::processEvents(isVisible() ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents,
                                    5);
}

void ProgressWindow::showFigures()
{
    const qint64 done = control_.filesCommitted.load(std::memory_order_relaxed);
    const qint64 toDo = control_.filesToDo.load(std::memory_order_relaxed);
    counts->setText(groupedCount(done) + QStringLiteral(" / ") + groupedCount(toDo) +
                    QStringLiteral(" file"));
    const QString name = control_.pathOf && done < toDo
                             ? control_.pathOf(size_t(done)).section(QLatin1Char('/'), -1)
                             : QString();
    current->setText(
        QFontMetrics(current->font()).elidedText(name, Qt::ElideMiddle, current->contentsRect().width()));
    bar->setRange(0, int(std::min<qint64>(toDo, INT_MAX)));
    bar->setValue(int(std::min<qint64>(done, INT_MAX)));
}

void ProgressWindow::reject()
{
    control_.stopRequested = true;
    cancel->setEnabled(false);
}

} // namespace kelvara
