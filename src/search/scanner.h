#pragma once

#include "io/textlines.h"
#include "passcontrol.h"
#include "text/codepage.h"

#include <string_view>

namespace kelvara {

// What a command does with the lines of a file: a search keeps its hit lines, a replace writes the
// copy. The scanner calls it from the thread that reads the file.
class LineHandler
{
public:
    // The file is read from its start (again): what it gave so far is forgotten. False gives the file
    // up; the handler keeps why.
    virtual bool restart() = 0;
    // Whether what the lines read so far gave as UTF-8 stands unchanged once they are taken as
    // Windows-1250, so that the file need not be read again.
    virtual bool keepsOnCodePageSwitch() const = 0;
    // A block of whole lines (textlines.h) in `codePage`. False gives the file up.
    virtual bool lines(std::string_view block, CodePage codePage) = 0;

protected:
    ~LineHandler() = default;
};

enum class ScanEnd {
    Read,      // to its end
    ReadError, // reader.error() tells why
    GivenUp,   // by the handler
    Stopped,   // the pass was asked to stop
};

// Reads the file open in `reader` to its end and hands its lines to `handler`, block by block. A file is
// UTF-8 up to its first block that is not valid UTF-8, then Windows-1250; when the handler cannot keep what
// it made of the lines before, it is restarted and the file read again. `codePage` is the code page at the
// end. The reader is left open. Throws std::bad_alloc when a line does not fit in the memory.
ScanEnd scanLines(LineBlockReader& reader, LineHandler& handler, CodePage& codePage, PassControl& control);

} // namespace kelvara
