#pragma once

#include <array>
#include <cstdint>

namespace kelvara {

// The temporary files that copies are written into before they are renamed to their own names,
// where the file system cannot hold files without a name until they are complete: ".kelvara-" and
// 16 hexadecimal digits, hidden from the file lists. A copy locks its temporary file (flock) while
// it writes it, so that a file of that kind that nobody holds locked was left by a run that was
// killed. Until its rename the file stays locked, and readable and writable by its owner.
using TemporaryName = std::array<char, 32>; // NUL-terminated; empty when [0] is NUL

inline constexpr char TemporaryPrefix[] = ".kelvara-";

// Temporary files that may exist at once, over all threads.
inline constexpr int MaxTemporaries = 16;

TemporaryName temporaryName(std::uint64_t id);

// Creates a new temporary file in the directory open as `dirFd`, for writing, readable and writable
// by its owner alone (whatever the umask), so that a sweep of another run can always open and lock
// it; the copy gets its own mode only when it is named. Locked, and marked as one to remove when a
// signal ends the program. The descriptor, or -1 with errno set (EMFILE when MaxTemporaries exist
// already).
int createTemporary(int dirFd, TemporaryName& name);

// Creates a file without a name in the directory open as `dirFd`, for writing, with the same mode as
// a temporary file. It is gone with its descriptor unless placeUnnamed() names it, so a run cut
// short leaves nothing of it. The descriptor, or -1 with errno set, also where the file system or
// the kernel cannot make such files.
int createUnnamed(int dirFd);

// The permission bits `mode` less the process's umask: the mode a copy takes when it is named.
unsigned finalMode(unsigned mode);

// Tests: `hook` runs with the directory's descriptor each time a temporary file is about to be
// renamed to its final name, to stand for another run acting at that moment. nullptr: none.
void runBeforeNaming(void (*hook)(int dirFd));
void beforeNaming(int dirFd);

// Whether createUnnamed() makes files where it can; tests turn it off to write as on file systems
// that cannot.
void allowUnnamedFiles(bool allow);

// Gives the file without a name open as `fd` the name `name` in `dirFd`, with the permission bits
// `mode`, replacing in one step what stands there. 0, or an errno value.
int placeUnnamed(int fd, int dirFd, const char* name, unsigned mode);

// Removes the temporary file `name` of `dirFd` and forgets it.
void removeTemporary(int dirFd, const TemporaryName& name);

// The temporary file `name` is a temporary no more (it was renamed): a signal leaves it alone.
void forgetTemporary(const TemporaryName& name);

// Makes SIGINT, SIGTERM and SIGHUP remove the temporary files being written before they end the
// program as they would have. A signal the program ignores stays ignored.
void removeTemporaryOnSignals();

// Removes the temporary files of `dirFd` that no one holds locked: leftovers of killed runs.
void removeAbandonedTemporaries(int dirFd);

} // namespace kelvara
