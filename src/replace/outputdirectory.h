#pragma once

#include "io/descriptor.h"
#include "io/fileerror.h"
#include "search/mainstate.h"

#include <QString>
#include <optional>

namespace kelvara {

// The name of the subdirectory that receives the rewritten copies.
inline constexpr QLatin1StringView OutputDirectoryName{"uj"};

// The working directory and its uj, each opened once for a whole replace command. Every source is
// opened and every copy written relative to these, so that a directory renamed or swapped for a
// link meanwhile cannot send a read or a write anywhere else.
struct ReplaceDirectories
{
    QString path;      // of the working directory, for what the user is shown
    Descriptor source; // the working directory
    Descriptor output; // its uj
};

// Why uj cannot take the copies.
struct OutputDirectoryProblem
{
    enum class Kind {
        FileError,    // a directory cannot be opened or made: `error`
        Link,         // uj is a symbolic link, which is never followed, wherever it leads
        NotDirectory, // uj is a plain file, FIFO, socket or device: `seen` says which
        Same,         // uj is the working directory itself, its copies would replace the sources
    };
    Kind kind = Kind::FileError;
    FileError error;
    QString path;
    unsigned seen = 0; // the file type bits (S_IFMT) of what was found at uj
};

// What stands at uj, named for the user: "fájl", "FIFO", "socket", "eszközfájl".
QString fileTypeName(unsigned seen);

// Opens `directory` and its uj into `dirs`, making uj when nothing of that name exists, and sets
// outDirPath. What stands at uj serves only when it is a directory other than the working directory.
std::optional<OutputDirectoryProblem> openOutputDirectory(const QString& directory, MainState& state,
                                                          ReplaceDirectories& dirs);

} // namespace kelvara
