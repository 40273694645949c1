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
    using B = QMessageBox;
    constexpr B::Icon icons[] = {B::NoIcon, B::Critical, B::Question, B::Warning, B::Information};
    return icons[int(icon) / 16]; // MsgIcon's values are 0, 16, 32, 48 and 64
}

struct ButtonChoice
{
    QMessageBox::StandardButton button;
    MsgAnswer answer;
};

// The buttons of each MsgButtons value, 0 to 5, with their answers; the first is the default.
const std::vector<ButtonChoice>& choicesFor(MsgButtons buttons)
{
    using B = QMessageBox;
    using A = MsgAnswer;
    static const std::vector<ButtonChoice> choices[] = {
        {{B::Ok, A::Ok}},
        {{B::Ok, A::Ok}, {B::Cancel, A::Cancel}},
        {{B::Abort, A::Abort}, {B::Retry, A::Retry}, {B::Ignore, A::Ignore}},
        {{B::Yes, A::Yes}, {B::No, A::No}, {B::Cancel, A::Cancel}},
        {{B::Yes, A::Yes}, {B::No, A::No}},
        {{B::Retry, A::Retry}, {B::Cancel, A::Cancel}},
    };
    return choices[int(buttons)];
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
    const std::vector<ButtonChoice>& choices = choicesFor(request.buttons);
    for (const ButtonChoice& choice : choices)
        box.addButton(choice.button);
    box.setDefaultButton(choices.front().button);
    box.setEscapeButton(choices.size() == 1 ? choices.front().button : QMessageBox::Cancel);
    // A command may be showing the wait cursor; the question wants the ordinary one.
    QGuiApplication::setOverrideCursor(Qt::ArrowCursor);
    const int pressed = box.exec();
    QGuiApplication::restoreOverrideCursor();
    for (const ButtonChoice& choice : choices)
        if (pressed == choice.button)
            return choice.answer;
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
