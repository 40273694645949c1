#pragma once

#include <array>
#include <cstdint>

namespace kelvara {

// The temporary files that copies are written into before they are renamed to their own names:
// ".kelvara-" and 16 hexadecimal digits, hidden from the file lists. A copy locks its temporary
// file (flock) while it writes it, so that a file of that kind that nobody holds locked was left by
// a run that was killed.
using TemporaryName = std::array<char, 32>; // NUL-terminated; empty when [0] is NUL

inline constexpr char TemporaryPrefix[] = ".kelvara-";

TemporaryName temporaryName(std::uint64_t id);

// Creates a new temporary file in the directory open as `dirFd`, for writing, with the permission
// bits `mode` less the umask, locked, and marked as the one to remove when a signal ends the
// program. The descriptor, or -1 with errno set.
int createTemporary(int dirFd, unsigned mode, TemporaryName& name);

// Removes the temporary file `name` of `dirFd` and forgets it as the one being written.
void removeTemporary(int dirFd, const TemporaryName& name);

// The temporary file is a temporary no more (it was renamed): a signal leaves it alone.
void forgetTemporary();

// Makes SIGINT, SIGTERM and SIGHUP remove the temporary file being written before they end the
// program as they would have. A signal the program ignores stays ignored.
void removeTemporaryOnSignals();

// Removes the temporary files of `dirFd` that no one holds locked: leftovers of killed runs.
void removeAbandonedTemporaries(int dirFd);

} // namespace kelvara
