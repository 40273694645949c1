#include "searchpass.h"

#include "headerblock.h"
#include "platform/directory.h"
#include "platform/pathcodec.h"

#include <cerrno>
#include <cstring>
#include <new>

namespace kelvara {

namespace {

std::optional<Needle> prepare(const QString& text, bool caseSensitive, CodePage codePage)
{
    const std::optional<std::string> encoded = encode(text, codePage);
    if (!encoded || encoded->find('\r') != std::string::npos)
        return std::nullopt;
    return Needle(*encoded, caseSensitive, codePage);
}

} // namespace

SearchText::SearchText(const QString& text, bool caseSensitive, MatchMode mode)
    : text_(text), mode_(mode), ascii_(isAscii(text)), utf8_(prepare(text, caseSensitive, CodePage::Utf8)),
      windows1250_(prepare(text, caseSensitive, CodePage::Windows1250))
{}

std::optional<FileError> SearchPass::searchFile(const QString& directory, const QString& entry,
                                                MainState& state, RowSink& rows)
{
    const QString path = joinPath(directory, entry);
    return searchFile(AT_FDCWD, pathToBytes(path), directory, entry, state, rows);
}

std::optional<FileError> SearchPass::searchFile(int dirFd, const QByteArray& name, const QString& directory,
                                                const QString& entry, MainState& state, RowSink& rows)
{
    state.filePath = joinPath(directory, entry);
    state.searchLen = search_.text().size();
    hitBytes_.clear();
    hits_.clear();
    if (std::optional<FileError> error = reader_.openAt(dirFd, name))
        return error;
    try {
        return searchOpened(state, rows);
    } catch (const std::bad_alloc&) {
        // A line longer than the memory can hold: the file is given up like one that cannot be read,
        // and what it took is given back for the next one.
        reader_.close();
        std::string().swap(hitBytes_);
        hits_ = {};
        return FileError::fromErrno(ENOMEM);
    }
}

std::optional<FileError> SearchPass::searchOpened(MainState& state, RowSink& rows)
{
    bool anyLine = false;
    std::string lastLine;

    // Every file starts as UTF-8 and becomes Windows-1250 at its first byte that is not valid UTF-8.
    // A text of ASCII characters matches the same lines in both; any other text is written
    // differently in the two, so the file is then searched again from the start.
    CodePage codePage = CodePage::Utf8;
    const Needle* needle = search_.needle(codePage);
    std::string_view block;
    LineBlockReader::Status status;
    while ((status = reader_.next(block)) == LineBlockReader::Status::Block) {
        if (codePage == CodePage::Utf8 && !isValidUtf8(block)) {
            codePage = CodePage::Windows1250;
            needle = search_.needle(codePage);
            if (!search_.sameInBothCodePages()) {
                hitBytes_.clear();
                hits_.clear();
                if (std::optional<FileError> error = reader_.rewind()) {
                    reader_.close();
                    return error;
                }
                continue;
            }
        }
        if (needle)
            scanBlock(block, needle);
        anyLine = true;
        lastLine.assign(lastLineOf(block));
    }
    const FileError readError = reader_.error();
    reader_.close();
    if (status == LineBlockReader::Status::Error)
        return readError;

    if (anyLine) {
        state.lineText = decode(lastLine, codePage);
        state.lineLen = state.lineText.size();
    }
    if (hits_.empty())
        return std::nullopt;
    state.hitCount += qint64(hits_.size());
    appendHeaderBlock(state, rows);
    for (const auto& [offset, length] : hits_) {
        row_.clear();
        appendAsUtf8(std::string_view(hitBytes_).substr(offset, length), codePage, row_);
        rows.appendRow(row_);
    }
    return std::nullopt;
}

void SearchPass::keepHit(std::string_view line)
{
    hits_.emplace_back(hitBytes_.size(), line.size());
    hitBytes_.append(line);
}

// Finds the hit lines of a block of whole lines. In the Anywhere mode the whole block is searched at
// once and only the lines around the matches are looked at.
void SearchPass::scanBlock(std::string_view block, const Needle* needle)
{
    const char* p = block.data();
    const char* const end = p + block.size();
    if (search_.mode() == MatchMode::LineStart) {
        while (p < end) {
            const auto* cr = static_cast<const char*>(std::memchr(p, '\r', size_t(end - p)));
            const char* lineEnd = cr ? cr : end;
            if (needle->isPrefixOf(p, lineEnd))
                keepHit(std::string_view(p, size_t(lineEnd - p)));
            p = nextLineStart(lineEnd, end);
        }
        return;
    }
    MatchingLine line;
    while (findMatchingLine(*needle, p, end, line))
        keepHit(std::string_view(line.start, size_t(line.end - line.start)));
}

} // namespace kelvara
