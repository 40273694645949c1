#include "messagebox.h"

#include "look.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPointer>
#include <vector>

namespace kelvara {

namespace {

std::unique_ptr<MessageBoxSeam>& installed()
{
    static std::unique_ptr<MessageBoxSeam> seam = std::make_unique<WidgetMessageBox>();
    return seam;
}

QMessageBox::Icon toQt(MsgIcon icon)
{
    switch (icon) {
    case MsgIcon::Critical:
        return QMessageBox::Critical;
    case MsgIcon::Question:
        return QMessageBox::Question;
    case MsgIcon::Exclamation:
        return QMessageBox::Warning;
    case MsgIcon::Information:
        return QMessageBox::Information;
    case MsgIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

struct ButtonChoice
{
    QMessageBox::StandardButton button;
    MsgAnswer answer;
};

std::vector<ButtonChoice> choicesFor(MsgButtons buttons)
{
    using B = QMessageBox;
    switch (buttons) {
    case MsgButtons::Ok:
        return {{B::Ok, MsgAnswer::Ok}};
    case MsgButtons::OkCancel:
        return {{B::Ok, MsgAnswer::Ok}, {B::Cancel, MsgAnswer::Cancel}};
    case MsgButtons::AbortRetryIgnore:
        return {{B::Abort, MsgAnswer::Abort}, {B::Retry, MsgAnswer::Retry}, {B::Ignore, MsgAnswer::Ignore}};
    case MsgButtons::YesNoCancel:
        return {{B::Yes, MsgAnswer::Yes}, {B::No, MsgAnswer::No}, {B::Cancel, MsgAnswer::Cancel}};
    case MsgButtons::YesNo:
        return {{B::Yes, MsgAnswer::Yes}, {B::No, MsgAnswer::No}};
    case MsgButtons::RetryCancel:
        return {{B::Retry, MsgAnswer::Retry}, {B::Cancel, MsgAnswer::Cancel}};
    }
    return {{B::Ok, MsgAnswer::Ok}};
}

// The window in front, which the box belongs to. Right after a box closes no window may be active
// yet (the window manager hands the focus back later), so the window the last box belonged to
// stands in while it is still on screen; a command's second box then has the same parent as its
// first.
QWidget* frontWindow()
{
    static QPointer<QWidget> last;
    QWidget* active = QApplication::activeWindow();
    if (active && !qobject_cast<QMessageBox*>(active))
        last = active;
    return last && last->isVisible() ? last.data() : nullptr;
}

} // namespace

MsgAnswer WidgetMessageBox::ask(const MsgRequest& request)
{
    QMessageBox box(toQt(request.icon), request.title, request.message, QMessageBox::NoButton, frontWindow());
    box.setWindowIcon(kelvaraIcon()); // also when no window is in front to lend its own
    const std::vector<ButtonChoice> choices = choicesFor(request.buttons);
    for (const ButtonChoice& choice : choices)
        box.addButton(choice.button);
    box.setDefaultButton(choices.front().button);
    box.setEscapeButton(choices.size() == 1 ? choices.front().button : QMessageBox::Cancel);
    // A command may be showing the wait cursor; the question wants the ordinary one.
    QGuiApplication::setOverrideCursor(Qt::ArrowCursor);
    const int pressed = box.exec();
    QGuiApplication::restoreOverrideCursor();
    for (const ButtonChoice& choice : choices) {
        if (pressed == choice.button)
            return choice.answer;
    }
    return choices.size() == 1 ? choices.front().answer : MsgAnswer::Cancel;
}

MsgAnswer messageBox(const QString& message, MsgIcon icon, MsgButtons buttons, const QString& title)
{
    return installed()->ask(MsgRequest{message, icon, buttons, title});
}

void installMessageBox(std::unique_ptr<MessageBoxSeam> seam)
{
    installed() = seam ? std::move(seam) : std::make_unique<WidgetMessageBox>();
}

} // namespace kelvara
