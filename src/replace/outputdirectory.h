#pragma once

#include "platform/fileerror.h"
#include "search/mainstate.h"

#include <QString>
#include <optional>

namespace kelvara {

// The name of the subdirectory that receives the rewritten copies.
inline constexpr QLatin1StringView OutputDirectoryName{"uj"};

// Sets outDirPath to the subdirectory uj of `directory` and creates it when nothing of that name
// exists. Fails when it cannot be created, or when what stands there is not a directory (after
// following a link).
std::optional<FileError> ensureOutputDirectory(const QString& directory, MainState& state);

// Whether both paths exist and lead to the same file or directory (device and inode, links
// followed). Cheapest when `b` is the one that often does not exist.
bool isSameFile(const QString& a, const QString& b);

} // namespace kelvara
