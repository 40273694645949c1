#pragma once

// Test stand-ins for the seams, each installed for the lifetime of an object: a message box that
// answers from a script, and a drive list of the test's choosing.

#include "platform/messagebox.h"
#include "platform/volumes.h"

#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

namespace kelvara::test {

// Installs a seam for the lifetime of this object and gives access to it.
template <class Seam, class Base, void (*install)(std::unique_ptr<Base>)> class Installed
{
public:
    template <class... Args> explicit Installed(Args&&... args) : seam_(new Seam(std::forward<Args>(args)...))
    {
        install(std::unique_ptr<Base>(seam_));
    }
    ~Installed() { install(nullptr); }
    Installed(const Installed&) = delete;
    Installed& operator=(const Installed&) = delete;
    Seam* operator->() const { return seam_; }

private:
    Seam* seam_;
};

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
        if (requests.size() > steps_.size())
            return MsgAnswer::Cancel;
        const Step& step = steps_[requests.size() - 1];
        if (step.before)
            step.before();
        return step.answer;
    }
    std::vector<MsgRequest> requests;

private:
    std::vector<Step> steps_;
};

struct MessageBoxScript : Installed<ScriptedMessageBox, MessageBoxSeam, installMessageBox>
{
    explicit MessageBoxScript(std::vector<ScriptedMessageBox::Step> steps = {}) : Installed(std::move(steps))
    {}
    const std::vector<MsgRequest>& requests() const { return (*this)->requests; }
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
struct DrivesForTest : Installed<FixedVolumeSource, VolumeSource, installVolumeSource>
{
    explicit DrivesForTest(QStringList mountPoints) : Installed(std::move(mountPoints)) {}
};

} // namespace kelvara::test
