#pragma once

// Test stand-ins for the seams: a message box that answers from a script, and a drive list of the
// test's choosing.

#include "platform/messagebox.h"
#include "platform/volumes.h"

#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

namespace kelvara::test {

// Answers message boxes from a list, Cancel once the list is used up, and records every request.
// An answer can come with an action that runs before the box "closes" (for example, the user
// inserts the medium before pressing Retry).
class ScriptedMessageBox : public MessageBoxSeam
{
public:
    struct Step
    {
        MsgAnswer answer;
        std::function<void()> before = {};
    };

    explicit ScriptedMessageBox(std::vector<Step> steps) : steps_(std::move(steps)) {}

    MsgAnswer ask(const MsgRequest& request) override
    {
        requests.push_back(request);
        if (next_ >= steps_.size())
            return MsgAnswer::Cancel;
        const Step& step = steps_[next_++];
        if (step.before)
            step.before();
        return step.answer;
    }

    std::vector<MsgRequest> requests;

private:
    std::vector<Step> steps_;
    size_t next_ = 0;
};

// Installs a scripted message box for the lifetime of this object and gives access to it.
class MessageBoxScript
{
public:
    explicit MessageBoxScript(std::vector<ScriptedMessageBox::Step> steps = {})
    {
        auto box = std::make_unique<ScriptedMessageBox>(std::move(steps));
        box_ = box.get();
        installMessageBox(std::move(box));
    }
    ~MessageBoxScript() { installMessageBox(nullptr); }
    MessageBoxScript(const MessageBoxScript&) = delete;
    MessageBoxScript& operator=(const MessageBoxScript&) = delete;

    const std::vector<MsgRequest>& requests() const { return box_->requests; }

private:
    ScriptedMessageBox* box_;
};

class FixedVolumeSource : public VolumeSource
{
public:
    explicit FixedVolumeSource(QStringList mountPoints) : mountPoints_(std::move(mountPoints)) {}
    QStringList mountPoints() override { return mountPoints_; }

private:
    QStringList mountPoints_;
};

// Makes the program see exactly these drives while this object lives.
class DrivesForTest
{
public:
    explicit DrivesForTest(QStringList mountPoints)
    {
        installVolumeSource(std::make_unique<FixedVolumeSource>(std::move(mountPoints)));
    }
    ~DrivesForTest() { installVolumeSource(nullptr); }
    DrivesForTest(const DrivesForTest&) = delete;
    DrivesForTest& operator=(const DrivesForTest&) = delete;
};

} // namespace kelvara::test
