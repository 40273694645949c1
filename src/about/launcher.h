#pragma once

#include <QString>
#include <memory>

namespace kelvara {

// Starts a program from a command line without waiting for it.
class LauncherSeam
{
public:
    virtual ~LauncherSeam() = default;
    // True when the program started.
    virtual bool start(const QString& commandLine) = 0;
};

// The real one: a detached process. A command line that names an existing file is that program
// as a whole, blanks included; any other is split into a program and its arguments.
class ProcessLauncher : public LauncherSeam
{
public:
    bool start(const QString& commandLine) override;
};

LauncherSeam& launcher();
// Installs `seam` for every later start; nullptr goes back to the real one.
void installLauncher(std::unique_ptr<LauncherSeam> seam);

} // namespace kelvara
