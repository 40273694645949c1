#pragma once

#include <QString>
#include <memory>

class QWidget;

namespace kelvara {

// The modal message box, as the windows use it: a message, an icon, a set of buttons and a title,
// answered with the button pressed. The values are the classic style and answer codes, so a
// style such as 53 reads as Exclamation + RetryCancel.
enum class MsgIcon { None = 0, Critical = 16, Question = 32, Exclamation = 48, Information = 64 };
enum class MsgButtons {
    Ok = 0,
    OkCancel = 1,
    AbortRetryIgnore = 2,
    YesNoCancel = 3,
    YesNo = 4,
    RetryCancel = 5
};
enum class MsgAnswer { Ok = 1, Cancel = 2, Abort = 3, Retry = 4, Ignore = 5, Yes = 6, No = 7 };

struct MsgRequest
{
    QString message;
    MsgIcon icon = MsgIcon::None;
    MsgButtons buttons = MsgButtons::Ok;
    QString title;

    int style() const { return int(icon) + int(buttons); }
};

class MessageBoxSeam
{
public:
    virtual ~MessageBoxSeam() = default;
    // Shows the box modally and returns the button pressed; closing the box counts as Cancel
    // (as Ok when Ok is the only button).
    virtual MsgAnswer ask(const MsgRequest& request) = 0;
};

// The real one, a QMessageBox over the window in front, with Kelvara's icon.
class WidgetMessageBox : public MessageBoxSeam
{
public:
    MsgAnswer ask(const MsgRequest& request) override;
};

// Asks the installed message box.
MsgAnswer messageBox(const QString& message, MsgIcon icon, MsgButtons buttons, const QString& title);
// Installs `seam` for every later messageBox() call; nullptr goes back to the real one.
void installMessageBox(std::unique_ptr<MessageBoxSeam> seam);

} // namespace kelvara
