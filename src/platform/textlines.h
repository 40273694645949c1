#pragma once

#include "fileerror.h"

#include <QByteArray>
#include <optional>
#include <string_view>
#include <vector>

namespace kelvara {

// Reads a text file line by line. A line ends at CR or at a CR LF pair; the terminator is dropped.
// A lone LF is an ordinary character of the line. A last line without terminator is a line; an empty
// file has no line, and a final terminator gives no extra empty line. The file is streamed through a
// buffer that only grows to hold the longest line.
class LineReader
{
public:
    enum class Status { Line, End, Error };
    // Bytes read at once before any line needs more.
    static constexpr size_t InitialBufferSize = 64 * 1024;

    LineReader() = default;
    ~LineReader();
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    // Opens the file for reading only. Closes a file opened before.
    std::optional<FileError> open(const QByteArray& path);
    // Reads the next line into `line`; the view stays valid until the next call or close().
    Status next(std::string_view& line);
    // The error that made next() return Error.
    FileError error() const { return error_; }
    bool isOpen() const { return fd_ >= 0; }
    void close();

private:
    bool fill();

    int fd_ = -1;
    std::vector<char> buffer_;
    size_t begin_ = 0; // first unread byte
    size_t end_ = 0;   // one past the last byte read from the file
    bool eof_ = false;
    bool failed_ = false;
    FileError error_;
};

// Writes a text file line by line, each line followed by CR LF.
class LineWriter
{
public:
    LineWriter() = default;
    ~LineWriter(); // closes without reporting; call close() to learn whether everything was written
    LineWriter(const LineWriter&) = delete;
    LineWriter& operator=(const LineWriter&) = delete;

    // Creates the file, or empties an existing one.
    std::optional<FileError> open(const QByteArray& path);
    std::optional<FileError> writeLine(std::string_view text);
    // Writes what is buffered and closes; the first error of the whole write, if any.
    std::optional<FileError> close();
    bool isOpen() const { return fd_ >= 0; }

private:
    std::optional<FileError> flush();

    int fd_ = -1;
    std::vector<char> buffer_;
    std::optional<FileError> error_; // the first error; every later call returns it
};

} // namespace kelvara
