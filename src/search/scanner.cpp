#include "scanner.h"

namespace kelvara {

ScanEnd scanLines(LineBlockReader& reader, LineHandler& handler, CodePage& codePage, PassControl& control)
{
    codePage = CodePage::Utf8;
    std::string_view block;
    LineBlockReader::Status status;
    while ((status = reader.next(block)) == LineBlockReader::Status::Block) {
        if (control.stopped())
            return ScanEnd::Stopped;
        control.bytesRead.fetch_add(qint64(block.size()), std::memory_order_relaxed);
        if (codePage == CodePage::Utf8 && !isValidUtf8(block)) {
            codePage = CodePage::Windows1250;
            if (!handler.keepsOnCodePageSwitch()) {
                if (!handler.restart())
                    return ScanEnd::GivenUp;
                if (reader.rewind())
                    return ScanEnd::ReadError;
                continue;
            }
        }
        if (!handler.lines(block, codePage))
            return ScanEnd::GivenUp;
    }
    return status == LineBlockReader::Status::Error ? ScanEnd::ReadError : ScanEnd::Read;
}

} // namespace kelvara
