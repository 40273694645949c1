#pragma once

// Test stand-ins for the seams, each installed for the lifetime of an object.

#include "io/volumes.h"
#include "widgets/messagebox.h"

#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

namespace kelvara::test {

template <class Seam, class Base, void (*install)(std::unique_ptr<Base>)> struct Installed
{
    template <class... Args> explicit Installed(Args&&... args) : seam(new Seam(std::forward<Args>(args)...))
    {
        install(std::unique_ptr<Base>(seam));
    }
    ~Installed() { install(nullptr); }
    Installed(const Installed&) = delete;
    Seam* operator->() const { return seam; }
    Seam* const seam;
};

// Answers message boxes from a list, then Cancel, and records every request. An answer may come with
// an action run before the box "closes" (say, the medium goes in before Retry).
struct ScriptedMessageBox : MessageBoxSeam
{
    struct Step
    {
        MsgAnswer answer;
        std::function<void()> before = [] {};
    };
    explicit ScriptedMessageBox(std::vector<Step> steps = {}) : steps(std::move(steps)) {}
    MsgAnswer ask(const MsgRequest& request) override
    {
        requests.push_back(request);
        if (requests.size() > steps.size())
            return MsgAnswer::Cancel;
        steps[requests.size() - 1].before();
        return steps[requests.size() - 1].answer;
    }
    std::vector<Step> steps;
    std::vector<MsgRequest> requests;
};

using MessageBoxScript = Installed<ScriptedMessageBox, MessageBoxSeam, installMessageBox>;

struct FixedVolumeSource : VolumeSource
{
    explicit FixedVolumeSource(QStringList mountPoints) : points(std::move(mountPoints)) {}
    QStringList mountPoints() override { return points; }
    QStringList points;
};

// Makes the program see exactly these drives while this object lives.
using DrivesForTest = Installed<FixedVolumeSource, VolumeSource, installVolumeSource>;

} // namespace kelvara::test
