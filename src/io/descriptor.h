#pragma once

#include "fileerror.h"

#include <QString>
#include <optional>
#include <utility>

namespace kelvara {

// An open file descriptor that closes itself. Commands hold the directories they work in this way
// and reach every entry relative to them, so that a name is looked up once and a directory swapped
// for a link meanwhile cannot redirect what they do.
class Descriptor
{
public:
    Descriptor() = default;
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Descriptor& operator=(Descriptor&& other) noexcept
    {
        if (this != &other)
            reset(std::exchange(other.fd_, -1));
        return *this;
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const { return fd_; }
    bool isOpen() const { return fd_ >= 0; }
    void reset(int fd = -1);

private:
    int fd_ = -1;
};

// openat(), tried again when a signal interrupts it: the descriptor, or -1 with errno set.
int openAtRetrying(int dirFd, const char* name, int flags, unsigned mode = 0);

// Opens `path` as a directory for reading its entries and reaching them with the *at() calls.
// Links on the way are followed, as when the user picked the directory.
std::optional<FileError> openDirectory(const QString& path, Descriptor& out);

// Whether two open descriptors stand for the same file or directory.
bool isSameFile(int fdA, int fdB);

} // namespace kelvara
