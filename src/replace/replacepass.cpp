#include "replacepass.h"

#include "outputdirectory.h"
#include "platform/directory.h"
#include "platform/pathcodec.h"
#include "search/headerblock.h"

#include <cerrno>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <utility>

namespace kelvara {

namespace {

// Copies written in the background whose rows wait: enough that the writing seldom holds up the
// reading, few enough that their rows take little memory.
constexpr size_t MaxQueued = 8;
// Rows of the copies waiting, in bytes, beyond which the oldest copies are waited for.
constexpr size_t MaxQueuedRows = 8 << 20;
// What a long line made large is given back before the next file.
void giveBackIfLarge(std::string& buffer)
{
    if (buffer.capacity() > 1 << 20)
        std::string().swap(buffer);
}

QString sameFileMessage(const QString& outFilePath)
{
    return QStringLiteral("A másolat felülírná az eredeti fájlt, ezért ez a fájl kimarad:\n") +
           displayPath(outFilePath);
}

QString memoryMessage(const QString& filePath)
{
    return QStringLiteral("Nincs elég memória a fájl feldolgozásához, ezért a fájl kimarad:\n") +
           displayPath(filePath);
}

QString unencodableMessage(const QString& filePath)
{
    return QStringLiteral("A csereszöveg egyik karaktere nem írható le ennek a fájlnak a kódlapján, "
                          "ezért a fájl kimarad:\n") +
           displayPath(filePath);
}

} // namespace

ReplaceText::ReplaceText(const QString& search, const QString& replacement, bool caseSensitive)
    : search_(search, caseSensitive, MatchMode::Anywhere), replacement_(replacement),
      replacementAscii_(isAscii(replacement)), replacementUtf8_(encode(replacement, CodePage::Utf8)),
      replacement1250_(encode(replacement, CodePage::Windows1250))
{}

void ReplacePass::onlyLinesEqualTo(const QString& line)
{
    filtered_ = true;
    filterUtf8_ = encode(line, CodePage::Utf8);
    filter1250_ = encode(line, CodePage::Windows1250);
    filterAscii_ = isAscii(line);
}

const std::string* ReplacePass::lineFilter(CodePage codePage) const
{
    const std::optional<std::string>& f = codePage == CodePage::Utf8 ? filterUtf8_ : filter1250_;
    return f ? &*f : nullptr;
}

void ReplacePass::replaceFile(const ReplaceDirectories& dirs, const QString& name,
                              const QByteArray& entryName, MainState& state, RowSink& rows,
                              ReplaceErrors& errors)
{
    state.filePath = joinPath(dirs.path, name);
    state.outFilePath = joinPath(state.outDirPath, name);
    if (!errors.mayRetry())
        out_.writeInBackground();
    const bool background = out_.inBackground();
    if (!background)
        appendHeaderBlock(state, rows, state.outFilePath);
    FileError error;
    QString errorPath;
    for (;;) {
        Outcome outcome;
        try {
            outcome = writeCopy(dirs, entryName, state, error, errorPath);
        } catch (const std::bad_alloc&) {
            // A line too long for the memory: this file is given up, the next one may fit.
            reader_.close();
            out_.discard();
            startCopy();
            outcome = Outcome::TooLarge;
        }
        if (outcome == Outcome::Queued) {
            queued_.push_back(std::move(copy_));
            copy_ = {};
            if (!spare_.empty()) {
                copy_ = std::move(spare_.back());
                spare_.pop_back();
            }
            handOut(MaxQueued, state, rows, errors);
            return;
        }
        if (background) {
            // What the copies before this file bring comes first.
            finish(state, rows, errors);
            appendHeaderBlock(state, rows, state.outFilePath);
        }
        switch (outcome) {
        case Outcome::Written:
        case Outcome::Queued:
            finishFile(copy_, state, rows);
            return;
        case Outcome::Unencodable:
            errors.tell(unencodableMessage(state.filePath));
            return;
        case Outcome::SameFile:
            errors.tell(sameFileMessage(state.outFilePath));
            return;
        case Outcome::TooLarge:
            errors.tell(memoryMessage(state.filePath));
            return;
        case Outcome::Failed:
            if (!errors.retry(error, errorPath) || background)
                return;
            break;
        }
    }
}

void ReplacePass::finish(MainState& state, RowSink& rows, ReplaceErrors& errors)
{
    handOut(0, state, rows, errors);
    // Also a file given up is removed before the directories close.
    out_.settle();
}

// Hands out what the copies written in the background bring, in order: those that stand or failed
// already, and more, waiting for them, until no more than `keep` wait.
void ReplacePass::handOut(size_t keep, MainState& state, RowSink& rows, ReplaceErrors& errors)
{
    const auto tooMuch = [&] {
        size_t bytes = 0;
        for (const CopyRows& copy : queued_)
            bytes += copy.bytes.size();
        return queued_.size() > keep || bytes > MaxQueuedRows;
    };
    while (!queued_.empty() && (out_.hasCommitted() || tooMuch())) {
        const std::optional<FileError> error = out_.committed();
        CopyRows& copy = queued_.front();
        appendHeaderBlock(state, rows, copy.outFilePath);
        state.lineText = copy.lastLine;
        if (error)
            errors.retry(*error, copy.outFilePath); // never tried again: the copy is gone
        else
            finishFile(copy, state, rows);
        giveBackIfLarge(copy.bytes);
        spare_.push_back(std::move(copy));
        queued_.pop_front();
    }
}

void ReplacePass::startCopy()
{
    giveBackIfLarge(copy_.bytes);
    giveBackIfLarge(row_);
    copy_.bytes.clear();
    copy_.rows.clear();
    lastRow_.reset();
    lastBlock_ = {};
}

// Reads the source once, writing its copy as it goes. The file is taken as UTF-8 up to its first
// byte that is not valid UTF-8, and from there as Windows-1250; when the copy written so far could
// differ between the two, it is started again from the beginning.
ReplacePass::Outcome ReplacePass::writeCopy(const ReplaceDirectories& dirs, const QByteArray& entryName,
                                            MainState& state, FileError& error, QString& errorPath)
{
    const auto fail = [&](const FileError& e, const QString& path) {
        reader_.close();
        out_.discard();
        error = e;
        errorPath = path;
        return Outcome::Failed;
    };
    startCopy();
    copy_.outFilePath = state.outFilePath;
    // What stands at the copy's name in uj may be the source itself (a link in the working
    // directory that leads into uj, or a hard link); writing the copy would replace it. A source
    // that is no link and has no other name cannot be there, which spares most files a lookup in uj.
    std::optional<FileError> opening = reader_.openAt(dirs.source.get(), entryName, false);
    const bool throughLink = opening && opening->code == ELOOP;
    if (throughLink) {
        // The link may lead to a copy still being written: it is followed once that stands. (A
        // source with other names needs no wait: a copy's rename moves a name, not the file.)
        out_.settle();
        opening = reader_.openAt(dirs.source.get(), entryName);
    }
    if (opening)
        return fail(*opening, state.filePath);
    const struct stat& source = reader_.status();
    struct stat target;
    if ((throughLink || source.st_nlink != 1) &&
        ::fstatat(dirs.output.get(), entryName.constData(), &target, AT_SYMLINK_NOFOLLOW) == 0 &&
        target.st_dev == source.st_dev && target.st_ino == source.st_ino) {
        reader_.close();
        return Outcome::SameFile;
    }
    // Never more open than the source: a private file gets a private copy.
    if (std::optional<FileError> e = out_.open(dirs.output.get(), entryName, source.st_mode & 0777))
        return fail(*e, state.outFilePath);

    CodePage codePage = CodePage::Utf8;
    std::string_view block;
    LineBlockReader::Status status;
    while ((status = reader_.next(block)) == LineBlockReader::Status::Block) {
        if (codePage == CodePage::Utf8 && !isValidUtf8(block)) {
            codePage = CodePage::Windows1250;
            // The lines found and the rows kept so far stand as they would in Windows-1250 when
            // every text that chose them is ASCII, and so do the lines written, unless a
            // replacement that is not ASCII went into one of them.
            const bool sameSoFar = text_.searchIsAscii() && (!filtered_ || filterAscii_) &&
                                   (text_.replacementIsAscii() || copy_.rows.empty());
            if (!sameSoFar) {
                startCopy();
                if (std::optional<FileError> e = reader_.rewind())
                    return fail(*e, state.filePath);
                if (std::optional<FileError> e = out_.restart())
                    return fail(*e, state.outFilePath);
                continue;
            }
        }
        if (!rewriteBlock(block, codePage)) {
            reader_.close();
            out_.discard();
            return Outcome::Unencodable;
        }
        if (out_.error())
            return fail(*out_.error(), state.outFilePath);
    }
    if (status == LineBlockReader::Status::Error)
        return fail(reader_.error(), state.filePath);
    // Taken while the reader still holds the last block, and before the copy stands: a line too
    // long for the memory leaves no copy.
    std::string_view lastLine;
    if (lastRow_) {
        const auto [offset, length] = copy_.rows[*lastRow_];
        lastLine = std::string_view(copy_.bytes).substr(offset, length);
    } else if (!lastBlock_.empty()) {
        lastLine = lastLineOf(lastBlock_);
    }
    copy_.lastLine = decode(lastLine, codePage);
    copy_.codePage = codePage;
    reader_.close();
    if (out_.inBackground()) {
        if (std::optional<FileError> e = out_.commit())
            return fail(*e, state.outFilePath);
        return Outcome::Queued;
    }
    state.lineText = copy_.lastLine;
    if (std::optional<FileError> e = out_.commit())
        return fail(*e, state.outFilePath);
    return Outcome::Written;
}

// Rewrites the lines of a block that hold the search text (and, for the selected-line replace, equal
// the selected line) and copies the others. False when a line needs the replacement and the code page
// cannot write it.
bool ReplacePass::rewriteBlock(std::string_view block, CodePage codePage)
{
    const char* p = block.data();
    const char* const end = p + block.size();
    const char* copied = p;
    const Needle* needle = text_.needle(codePage);
    const std::string* filter = filtered_ ? lineFilter(codePage) : nullptr;
    // A line filter that the code page cannot write equals no line of it.
    const bool canMatch = needle && needle->size() > 0 && (!filtered_ || filter);
    MatchingLine line;
    const char* lastMatch = nullptr; // of the block
    const char* loneCr = nullptr;    // the next lone CR, once looked for
    while (canMatch && findMatchingLine(*needle, p, end, line)) {
        const std::string_view lineBytes(line.start, size_t(line.end - line.start));
        if (filter && lineBytes != *filter)
            continue;
        const std::string* replacement = text_.replacementBytes(codePage);
        if (!replacement)
            return false;
        copyLines(copied, line.start, end, loneCr);
        const size_t prefix = size_t(line.match - line.start);
        const char* const suffix = line.match + needle->size();
        std::string& bytes = copy_.bytes;
        const size_t offset = bytes.size();
        bytes.append(line.start, prefix).append(*replacement).append(suffix, size_t(line.end - suffix));
        const size_t length = bytes.size() - offset;
        bytes.push_back('\n');
        copy_.rows.emplace_back(offset, length);
        out_.writeLine(std::string_view(bytes).substr(offset, length));
        copied = p;
        lastMatch = line.match;
        copy_.lastPrefix = prefix;
        lastRow_ = p == end ? std::optional<size_t>(copy_.rows.size() - 1) : std::nullopt;
    }
    if (lastMatch)
        copy_.lastMatch.assign(lastMatch, needle->size());
    if (copied < end) {
        copyLines(copied, end, end, loneCr);
        if (!endsWithTerminator(block)) // the file's last line, without a terminator of its own
            out_.write(std::string_view("\r\n", 2));
        lastRow_.reset();
    }
    lastBlock_ = block;
    return true;
}

// Copies whole lines [from, to) of a block ending at `end` as they are, except that a line ending in
// a lone CR ends in CR LF. The next lone CR (`loneCr`, `end` for none) is looked for ahead, up to the
// block's end, so that the lines between two rewritten ones are copied without a search of their own.
void ReplacePass::copyLines(const char* from, const char* to, const char* end, const char*& loneCr)
{
    for (;;) {
        if (!loneCr || loneCr < from) { // none looked for yet, or it ended a rewritten line
            loneCr = findLoneCr(from, end);
            if (!loneCr)
                loneCr = end;
        }
        if (loneCr >= to)
            break;
        out_.write(std::string_view(from, size_t(loneCr + 1 - from)));
        out_.write(std::string_view("\n", 1));
        from = loneCr + 1;
    }
    out_.write(std::string_view(from, size_t(to - from)));
}

// The rows and state fields of a file whose copy is complete.
void ReplacePass::finishFile(const CopyRows& copy, MainState& state, RowSink& rows)
{
    state.searchLen = text_.search().size();
    state.replaceLen = text_.replacement().size();
    state.lineLen = state.lineText.size();
    if (!copy.rows.empty()) {
        const std::string_view lastRow = std::string_view(copy.bytes).substr(copy.rows.back().first);
        state.prefixLen = decode(lastRow.substr(0, copy.lastPrefix), copy.codePage).size();
        state.matchWindow = decode(copy.lastMatch, copy.codePage);
    }
    if (copy.codePage == CodePage::Utf8) {
        rows.appendRows(copy.bytes, copy.rows);
    } else {
        for (const auto& [offset, length] : copy.rows) {
            row_.clear();
            appendAsUtf8(std::string_view(copy.bytes).substr(offset, length), copy.codePage, row_);
            rows.appendRow(row_);
        }
    }
    rewrittenLines_ += qint64(copy.rows.size());
}

} // namespace kelvara
