#pragma once

#include "fileerror.h"
#include "tempfiles.h"

#include <QByteArray>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <string_view>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <vector>

namespace kelvara {

// Tests and benchmarks: `hook` runs with the entry's name each time LineBlockReader is about to open
// a file, and with the directory's path each time a directory is listed, on the thread that does
// it, to stand for a slow or stalled drive. nullptr: none.
void runBeforeOpening(void (*hook)(const char* name));
// Runs that hook, if there is one.
void beforeOpening(const char* name);

// Reads a text file in blocks of whole lines, each ending right after a line terminator (CR, or CR
// LF) or at the end of the file. The file is read in large chunks through a buffer that only grows
// to hold the longest line, by an eighth at a time, so memory follows neither the file's size nor
// twice its longest line. A buffer that cannot grow throws std::bad_alloc.
//
// The file is read as far as its size when it was opened: a file that grows meanwhile is read as it
// was, and one that ends before that size is an unexpected end of file.
class LineBlockReader
{
public:
    enum class Status { Block, End, Error };
    // Bytes read at once before any line needs more.
    static constexpr size_t InitialBufferSize = 128 * 1024;

    LineBlockReader() = default;
    ~LineBlockReader();
    LineBlockReader(const LineBlockReader&) = delete;
    LineBlockReader& operator=(const LineBlockReader&) = delete;

    // Opens the entry `name` of the directory open as `dirFd` (AT_FDCWD: a path) for reading only,
    // closing a file opened before.
    // With `followLink` false, an entry that is a symbolic link is not opened (ELOOP).
    std::optional<FileError> openAt(int dirFd, const QByteArray& name, bool followLink = true);
    // What fstat() told of the open file when it was opened.
    const struct stat& status() const { return status_; }
    // The next block; the view stays valid until the next call, rewind() or close(). The last
    // block stays valid also after the call that returns End.
    Status next(std::string_view& block);
    // Back to the start of the file.
    std::optional<FileError> rewind();
    // The error that made next() return Error.
    FileError error() const { return error_; }
    void close();

private:
    bool fill();
    void resize(size_t capacity);
    void release();

    int fd_ = -1;
    struct stat status_ = {};
    // Mapped pages, so that growing moves no bytes and never holds the old and the new buffer at
    // once; every read lands on a page boundary of it, where the kernel copies fastest.
    char* buffer_ = nullptr;
    size_t capacity_ = 0;
    size_t begin_ = 0;     // first byte not yet handed out
    size_t end_ = 0;       // one past the last byte read from the file
    size_t withoutCr_ = 0; // bytes from begin_ on that hold no CR
    off_t size_ = 0;       // the file's size when opened; 0 when it does not tell (as in /proc)
    off_t read_ = 0;       // bytes read so far
    bool eof_ = false;
    bool failed_ = false;
    FileError error_;
};

// The last line of a non-empty block of whole lines, without its terminator.
inline std::string_view lastLineOf(std::string_view block)
{
    if (block.ends_with("\r\n"))
        block.remove_suffix(2);
    else if (block.ends_with('\r'))
        block.remove_suffix(1);
    const size_t cr = block.rfind('\r');
    if (cr == std::string_view::npos)
        return block;
    block.remove_prefix(cr + 1);
    if (block.starts_with('\n')) // the LF of a CR LF before it
        block.remove_prefix(1);
    return block;
}

// Whether a block of whole lines ends with a line terminator; only the last block of a file may not.
inline bool endsWithTerminator(std::string_view block)
{
    return block.ends_with('\r') || block.ends_with("\r\n");
}

// The first CR in [p, end) that is not followed by LF, or nullptr. A CR at end - 1 counts: in a
// block of whole lines it ends a line of its own.
const char* findLoneCr(const char* p, const char* end);

// A file written in full by OutputFile that does not stand at its name yet (OutputFile::finish()).
// It is gone when dropped without place().
class WrittenFile
{
public:
    WrittenFile() = default;
    ~WrittenFile() { drop(); }
    WrittenFile(WrittenFile&& other) noexcept;
    WrittenFile& operator=(WrittenFile&& other) noexcept;

    // Puts the file at its name, replacing in one step what stands there. On any error the file is
    // gone and the target left alone.
    std::optional<FileError> place();
    void drop();

private:
    friend class OutputFile;

    int fd_ = -1;
    int dirFd_ = -1;
    bool unnamed_ = false; // else it has the temporary name
    mode_t mode_ = 0;      // its permission bits once named
    QByteArray target_;
    TemporaryName temporary_ = {}; // empty while there is none
};

// Writes a file so that it appears complete or not at all: the bytes go to a new file without a name
// in the same directory, which WrittenFile::place() gives the target's name, or, where the file
// system cannot hold such a file, to a temporary file that place() renames over the target. Whatever
// stood at the target before (a file, a link) is replaced, never written through, and stays as it
// was until then. A temporary file is locked while it is written and removed if a signal ends the program
// (tempfiles.h); a file without a name is gone anyway when the program ends. One OutputFile writes
// one file after another with the same buffer.
class OutputFile
{
public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Starts a new file to be put at the entry `name` of the directory open as `dirFd`, which must
    // stay open until then. The file gets the permission bits `mode` less the umask when it is named;
    // until then only its owner can read and write it.
    // Discards one not yet finished.
    std::optional<FileError> open(int dirFd, const QByteArray& name, mode_t mode = 0666);
    // Buffered; the first error is kept and makes every later call do nothing.
    void write(std::string_view bytes);
    // Like write(), but the bytes may be written from where they are: they must stay as they are
    // until the next flush(), restart(), finish() or discard().
    void writeFrom(std::string_view bytes);
    void writeLine(std::string_view text)
    {
        write(text);
        write(std::string_view("\r\n", 2));
    }
    // Writes out what was written so far.
    void flush();
    // Empties the file written so far, to start it again.
    std::optional<FileError> restart();
    // Writes out what is buffered and hands the file over to `file`, to be put at its name later.
    // On any error the file is removed.
    std::optional<FileError> finish(WrittenFile& file);
    // Closes and removes the file.
    void discard();
    const std::optional<FileError>& error() const { return error_; }

private:
    WrittenFile file_;     // the file being written
    bool writing_ = false; // between open() and finish() or discard()
    std::unique_ptr<char[]> buffer_;
    size_t used_ = 0;
    std::vector<iovec> pieces_; // to write, in order: from buffer_ or where the caller keeps them
    std::optional<FileError> error_;
};

} // namespace kelvara
