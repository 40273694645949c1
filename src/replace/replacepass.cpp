#include "replacepass.h"

#include "search/headerblock.h"
#include "search/scanner.h"
#include "text/pathcodec.h"

#include <cerrno>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <utility>

namespace kelvara {

namespace {

// That a file is left out, why, and the path on a line of its own.
QString leftOut(const QString& why, const QString& path)
{
    return why + QLatin1Char('\n') + displayPath(path);
}

} // namespace

ReplaceText::ReplaceText(const QString& search, const QString& replacement, bool caseSensitive)
    : search_(search, caseSensitive, MatchMode::Anywhere), replacement_(replacement),
      replacementAscii_(isAscii(replacement)), replacementUtf8_(encode(replacement, CodePage::Utf8)),
      replacement1250_(encode(replacement, CodePage::Windows1250))
{}

// One file's copy, from its reading to its commit: written in full without a name, or why not, and
// what it brings to the hit list and the state once it stands.
struct ReplacePass::Copy
{
    enum class Outcome {
        Written,
        Failed,      // error, in the source or in the copy
        Unencodable, // the replacement cannot be written in the file's code page
        SameFile,    // what stands at the copy's name is the source itself
        TooLarge,    // a line too long for the memory
        LinkAhead,   // the source is a symbolic link: read at its turn, when the copies before it stand
        Stopped,
    };
    Outcome outcome = Outcome::Written;
    FileError error;
    bool errorInCopy = false; // else in the source
    WrittenFile file;         // written, not yet at its name
    bool placed = false;      // at its name, ahead of the commit
    RowBytes rows;            // the rewritten lines; UTF-8 once written
    std::string lastMatch;    // the last occurrence replaced, as it stood
    size_t lastPrefix = 0;    // bytes in front of it in its line
    // Of the last rewritten line: characters before the occurrence, and the occurrence.
    qint64 prefixLen = 0;
    QString matchWindow;
    LastLine last; // the source's last line, once read through
};

// Reads sources and writes their copies, one at a time, with one set of buffers: a thread's own.
class ReplacePass::Writer final : private LineHandler
{
public:
    Writer(const ReplaceText& text, const LineFilter& filter) : text_(text), filter_(filter) {}

    // Reads the source of `file` and writes its copy, all but naming it; sets its outcome. A source
    // that is a symbolic link is followed only with `followLinks`.
    void write(const ReplaceDirectories& dirs, const PassFile& file, Copy& copy, PassControl& control,
               bool followLinks)
    {
        copy_ = &copy;
        copy.placed = false;
        try {
            copy.outcome = writeCopy(dirs, file, control, followLinks);
        } catch (const std::bad_alloc&) {
            // A line too long for the memory: this file is given up, the next one may fit.
            start();
            copy.outcome = giveUp(Copy::Outcome::TooLarge);
        }
        if (copy.outcome != Copy::Outcome::Written)
            copy.file.drop();
    }

private:
    Copy::Outcome writeCopy(const ReplaceDirectories& dirs, const PassFile& file, PassControl& control,
                            bool followLinks);
    // Closes the source and removes what was written of the copy.
    Copy::Outcome giveUp(Copy::Outcome outcome)
    {
        reader_.close();
        out_.discard();
        return outcome;
    }
    Copy::Outcome fail(const FileError& error, bool inCopy)
    {
        copy_->error = error;
        copy_->errorInCopy = inCopy;
        return giveUp(Copy::Outcome::Failed);
    }
    void start();
    void finishRows(CodePage codePage);

    bool restart() override;
    bool keepsOnCodePageSwitch() const override;
    bool lines(std::string_view block, CodePage codePage) override;
    void copyLines(const char* from, const char* to, const char* end, const char*& loneCr);

    const ReplaceText& text_;
    const LineFilter& filter_;
    LineBlockReader reader_;
    OutputFile out_;
    std::string utf8_;
    Copy* copy_ = nullptr;
    bool unencodable_ = false;
    std::string_view lastBlock_;    // the file's last block, while the reader holds it
    std::optional<size_t> lastRow_; // the last line's row, when it was rewritten
};

void ReplacePass::Writer::start()
{
    copy_->rows.trim();
    copy_->rows.clear();
    copy_->last.has = false;
    copy_->lastMatch.clear();
    lastRow_.reset();
    lastBlock_ = {};
    unencodable_ = false;
}

// Reads the source once, writing its copy as it goes.
ReplacePass::Copy::Outcome ReplacePass::Writer::writeCopy(const ReplaceDirectories& dirs,
                                                          const PassFile& file, PassControl& control,
                                                          bool followLinks)
{
    start();
    // What stands at the copy's name in uj may be the source itself (a link in the working
    // directory that leads into uj, or a hard link); writing the copy would replace it. A source
    // that is no link and has no other name cannot be there, which spares most files a lookup in uj.
    std::optional<FileError> opening = reader_.openAt(dirs.source.get(), file.name(), false);
    const bool throughLink = opening && opening->code == ELOOP;
    if (throughLink) {
        // The link may lead to a copy of a file before this one, which stands only at its turn.
        if (!followLinks)
            return Copy::Outcome::LinkAhead;
        opening = reader_.openAt(dirs.source.get(), file.name());
    }
    if (opening)
        return fail(*opening, false);
    const struct stat& source = reader_.status();
    struct stat target;
    if ((throughLink || source.st_nlink != 1) &&
        ::fstatat(dirs.output.get(), file.name().constData(), &target, AT_SYMLINK_NOFOLLOW) == 0 &&
        target.st_dev == source.st_dev && target.st_ino == source.st_ino)
        return giveUp(Copy::Outcome::SameFile);
    // Never more open than the source: a private file gets a private copy.
    if (std::optional<FileError> e = out_.open(dirs.output.get(), file.name(), source.st_mode & 0777))
        return fail(*e, true);

    CodePage codePage;
    switch (scanLines(reader_, *this, codePage, control)) {
    case ScanEnd::Read:
        break;
    case ScanEnd::ReadError:
        return fail(reader_.error(), false);
    case ScanEnd::Stopped:
        return giveUp(Copy::Outcome::Stopped);
    case ScanEnd::GivenUp:
        return unencodable_ ? giveUp(Copy::Outcome::Unencodable) : fail(*out_.error(), true);
    }
    // Taken while the reader still holds the last block, and before the copy stands: a line too
    // long for the memory leaves no copy.
    std::string_view lastLine;
    if (lastRow_) {
        const auto [offset, length] = copy_->rows.rows[*lastRow_];
        lastLine = std::string_view(copy_->rows.bytes).substr(offset, length);
    } else if (!lastBlock_.empty()) {
        lastLine = lastLineOf(lastBlock_);
    }
    copy_->last.take(lastLine, codePage);
    reader_.close();
    finishRows(codePage);
    if (std::optional<FileError> e = out_.finish(copy_->file))
        return fail(*e, true);
    return Copy::Outcome::Written;
}

// The state fields of the last rewritten line, and the rows in UTF-8.
void ReplacePass::Writer::finishRows(CodePage codePage)
{
    RowBytes& rows = copy_->rows;
    if (rows.rows.empty())
        return;
    const std::string_view lastRow = std::string_view(rows.bytes).substr(rows.rows.back().first);
    copy_->prefixLen = decode(lastRow.substr(0, copy_->lastPrefix), codePage).size();
    copy_->matchWindow = decode(copy_->lastMatch, codePage);
    rows.toUtf8(codePage, utf8_);
}

bool ReplacePass::Writer::restart()
{
    start();
    return !out_.restart();
}

// The lines found and the rows kept so far stand as they would in Windows-1250 when every text that chose
// them is ASCII, and so do the lines written, unless a replacement that is not ASCII went into one.
bool ReplacePass::Writer::keepsOnCodePageSwitch() const
{
    return text_.searchIsAscii() && (!filter_.on || filter_.ascii) &&
           (text_.replacementIsAscii() || copy_->rows.rows.empty());
}

// Rewrites the lines of a block that hold the search text (and, for the selected-line replace, equal
// the selected line) and copies the others. False when a line needs the replacement and the code page
// cannot write it, or when the copy cannot be written.
bool ReplacePass::Writer::lines(std::string_view block, CodePage codePage)
{
    const char* p = block.data();
    const char* const end = p + block.size();
    const char* copied = p;
    const Needle* needle = text_.needle(codePage);
    const std::optional<std::string>& f = codePage == CodePage::Utf8 ? filter_.utf8 : filter_.cp1250;
    const std::string* filter = filter_.on && f ? &*f : nullptr;
    // A line filter that the code page cannot write equals no line of it.
    const bool canMatch = needle && needle->size() > 0 && (!filter_.on || filter);
    MatchingLine line;
    const char* lastMatch = nullptr; // of the block
    const char* loneCr = nullptr;    // the next lone CR, once looked for
    RowBytes& rows = copy_->rows;
    while (canMatch && findMatchingLine(*needle, p, end, line)) {
        const std::string_view lineBytes(line.start, size_t(line.end - line.start));
        if (filter && lineBytes != *filter)
            continue;
        const std::string* replacement = text_.replacementBytes(codePage);
        if (!replacement) {
            unencodable_ = true;
            return false;
        }
        copyLines(copied, line.start, end, loneCr);
        const size_t prefix = size_t(line.match - line.start);
        const char* const suffix = line.match + needle->size();
        const size_t offset = rows.bytes.size();
        rows.bytes.append(line.start, prefix).append(*replacement).append(suffix, size_t(line.end - suffix));
        const size_t length = rows.bytes.size() - offset;
        rows.bytes.push_back('\n');
        rows.rows.emplace_back(offset, length);
        out_.writeLine(std::string_view(rows.bytes).substr(offset, length));
        copied = p;
        lastMatch = line.match;
        copy_->lastPrefix = prefix;
        lastRow_ = p == end ? std::optional<size_t>(rows.rows.size() - 1) : std::nullopt;
    }
    if (lastMatch)
        copy_->lastMatch.assign(lastMatch, needle->size());
    if (copied < end) {
        copyLines(copied, end, end, loneCr);
        if (!endsWithTerminator(block)) // the file's last line, without a terminator of its own
            out_.write(std::string_view("\r\n", 2));
        lastRow_.reset();
    }
    out_.flush(); // before the reader reuses the block's bytes
    lastBlock_ = block;
    return !out_.error();
}

// Copies whole lines [from, to) of a block ending at `end` as they are, except that a line ending in
// a lone CR ends in CR LF. The next lone CR (`loneCr`, `end` for none) is looked for ahead, up to the
// block's end, so that the lines between two rewritten ones are copied without a search of their own.
void ReplacePass::Writer::copyLines(const char* from, const char* to, const char* end, const char*& loneCr)
{
    for (;;) {
        if (!loneCr || loneCr < from) { // none looked for yet, or it ended a rewritten line
            loneCr = findLoneCr(from, end);
            if (!loneCr)
                loneCr = end;
        }
        if (loneCr >= to)
            break;
        out_.writeFrom(std::string_view(from, size_t(loneCr + 1 - from)));
        out_.write(std::string_view("\n", 1));
        from = loneCr + 1;
    }
    out_.writeFrom(std::string_view(from, size_t(to - from)));
}

ReplacePass::ReplacePass(const ReplaceText& text, const LineFilter& filter, PassControl& control)
    : text_(text), control_(control), pool_(*this, control)
{
    for (int k = 0; k < control.toolSets(); ++k)
        writers_.push_back(std::make_unique<Writer>(text, filter));
}

ReplacePass::~ReplacePass() = default;

void ReplacePass::useSlots(int count)
{
    copies_.resize(size_t(count));
}

void ReplacePass::run(const ReplaceDirectories& dirs, const std::vector<PassFile>& files, MainState& state,
                      RowSink& rows, ReplaceErrors& errors,
                      const std::function<void(const PassFile&)>& onFile)
{
    onFile_ = &onFile;
    dirs_ = &dirs;
    files_ = &files;
    state_ = &state;
    rows_ = &rows;
    errors_ = &errors;
    const auto pathOf = [&](size_t k) { return files[k].path(dirs.path); };
    last_.has = false;
    try {
        pool_.run(files.size(), pathOf, true);
    } catch (...) {
        last_.settle(state);
        throw;
    }
    last_.settle(state);
}

size_t ReplacePass::work(size_t file, int slot, int thread)
{
    Copy& copy = copies_[size_t(slot)];
    writers_[size_t(thread)]->write(*dirs_, (*files_)[file], copy, control_, false);
    return copy.rows.bytes.size() + copy.last.heldBytes();
}

// A file's copy once every copy before it stands: its header block, the copy put at its name, its
// rows; or why it has none.
void ReplacePass::commit(size_t file, int slot)
{
    const PassFile& passFile = (*files_)[file];
    Copy& copy = copies_[size_t(slot)];
    MainState& state = *state_;
    if (*onFile_)
        (*onFile_)(passFile);
    state.filePath = passFile.path(dirs_->path);
    state.outFilePath = passFile.path(state.outDirPath);
    if (!listRows(state.outFilePath, *errors_, [&] { appendHeaderBlock(*rows_, state.outFilePath); }) ||
        !settle(passFile, copy))
        return;
    copy.last.handTo(last_);
    switch (copy.outcome) {
    case Copy::Outcome::Written:
        finishFile(copy);
        break;
    case Copy::Outcome::Unencodable:
        errors_->tell(leftOut(QStringLiteral("A csereszöveg egyik karaktere nem írható le ennek a fájlnak a "
                                             "kódlapján, ezért a fájl kimarad:"),
                              state.filePath));
        break;
    case Copy::Outcome::SameFile:
        errors_->tell(
            leftOut(QStringLiteral("A másolat felülírná az eredeti fájlt, ezért ez a fájl kimarad:"),
                    state.outFilePath));
        break;
    case Copy::Outcome::TooLarge:
        errors_->tell(
            leftOut(QStringLiteral("Nincs elég memória a fájl feldolgozásához, ezért a fájl kimarad:"),
                    state.filePath));
        break;
    default:
        break;
    }
}

// A written copy is put at its name on a worker, in file order, when the calling thread only commits;
// anything else about the file is left to its commit.
bool ReplacePass::commitAhead(size_t, int slot)
{
    Copy& copy = copies_[size_t(slot)];
    return copy.outcome == Copy::Outcome::Written && place(copy);
}

// Puts a written copy at its name; false, with the copy failed, when it cannot be.
bool ReplacePass::place(Copy& copy)
{
    if (std::optional<FileError> e = copy.file.place()) {
        copy.outcome = Copy::Outcome::Failed;
        copy.error = *e;
        copy.errorInCopy = true;
        return false;
    }
    copy.placed = true;
    return true;
}

// Writes the copy again where its turn asks for it, and puts a written one at its name. False when
// the file is given up after an error, or the pass stops.
bool ReplacePass::settle(const PassFile& file, Copy& copy)
{
    // On the calling thread's tools; a window goes on with its events meanwhile.
    const auto writeAgain = [&] {
        control_.runPulsing([&] { writers_[0]->write(*dirs_, file, copy, control_, true); });
    };
    bool alone = !pool_.hasWorkers(); // written with no other file read at once
    for (;;) {
        switch (copy.outcome) {
        case Copy::Outcome::LinkAhead:
            writeAgain();
            break;
        case Copy::Outcome::TooLarge:
            if (alone)
                return true;
            // The files read beside it may have had the memory it lacked.
            pool_.alone(writeAgain);
            alone = true;
            break;
        case Copy::Outcome::Failed:
            if (!errors_->askRetry(copy.error, copy.errorInCopy ? state_->outFilePath : state_->filePath))
                return false;
            writeAgain();
            break;
        case Copy::Outcome::Written:
            if (copy.placed || place(copy))
                return true;
            break;
        case Copy::Outcome::Stopped:
            return false;
        default:
            return true;
        }
    }
}

// The rows and state fields of a file whose copy stands.
void ReplacePass::finishFile(Copy& copy)
{
    MainState& state = *state_;
    state.searchLen = text_.search().size();
    state.replaceLen = text_.replacement().size();
    if (!copy.rows.rows.empty()) {
        state.prefixLen = copy.prefixLen;
        state.matchWindow = std::move(copy.matchWindow);
    }
    if (listRows(state.outFilePath, *errors_, [&] { rows_->appendRows(copy.rows.bytes, copy.rows.rows); }))
        rewrittenLines_ += qint64(copy.rows.rows.size());
    copy.rows.trim(); // out of memory once handed out
}

} // namespace kelvara
