#include "replacepass.h"

#include "outputdirectory.h"
#include "platform/directory.h"
#include "platform/pathcodec.h"
#include "search/headerblock.h"

#include <cerrno>
#include <condition_variable>
#include <deque>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <new>
#include <sched.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <utility>

namespace kelvara {

namespace {

// Copies asked for and not yet handed out, each holding its buffers and, once begun, a file open:
// enough that a large file seldom keeps a thread waiting.
constexpr size_t MaxQueued = 8;
static_assert(MaxQueued + 2 <= size_t(MaxTemporaries));
// Rows held by copies that wait for those before them, in bytes, beyond which no new copy is begun.
constexpr size_t MaxHeldRows = 8 << 20;
// Threads that write copies: more than a few only wait for the directory.
constexpr int MaxWriters = 4;
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

// Reads sources and writes their copies, one at a time, with one set of buffers; a thread's own.
class ReplacePass::Writer
{
public:
    Writer(const ReplaceText& text, const LineFilter& filter) : text_(text), filter_(filter) {}

    // Reads the source of `copy` and writes its copy, all but the commit; sets its outcome.
    // `beforeLink` is called before a source that is a link is followed.
    void write(Copy& copy, const std::function<void()>& beforeLink);

private:
    Outcome writeCopy(Copy& copy, const std::function<void()>& beforeLink);
    void start(Copy& copy);
    bool rewriteBlock(Copy& copy, std::string_view block, CodePage codePage);
    void copyLines(const char* from, const char* to, const char* end, const char*& loneCr);
    const std::string* lineFilter(CodePage codePage) const
    {
        const std::optional<std::string>& f = codePage == CodePage::Utf8 ? filter_.utf8 : filter_.cp1250;
        return f ? &*f : nullptr;
    }

    const ReplaceText& text_;
    const LineFilter& filter_;
    LineBlockReader reader_;
    OutputFile out_;
    std::string_view lastBlock_;    // the file's last block, while the reader holds it
    std::optional<size_t> lastRow_; // the last line's row, when it was rewritten
};

void ReplacePass::Writer::write(Copy& copy, const std::function<void()>& beforeLink)
{
    try {
        copy.outcome = writeCopy(copy, beforeLink);
    } catch (const std::bad_alloc&) {
        // A line too long for the memory: this file is given up, the next one may fit.
        reader_.close();
        out_.discard();
        start(copy);
        copy.outcome = Outcome::TooLarge;
    }
}

void ReplacePass::Writer::start(Copy& copy)
{
    giveBackIfLarge(copy.bytes);
    copy.bytes.clear();
    copy.rows.clear();
    copy.lastLine.reset();
    lastRow_.reset();
    lastBlock_ = {};
}

// Reads the source once, writing its copy as it goes. The file is taken as UTF-8 up to its first
// byte that is not valid UTF-8, and from there as Windows-1250; when the copy written so far could
// differ between the two, it is started again from the beginning.
ReplacePass::Outcome ReplacePass::Writer::writeCopy(Copy& copy, const std::function<void()>& beforeLink)
{
    const auto fail = [&](const FileError& e, const QString& path) {
        reader_.close();
        out_.discard();
        copy.error = e;
        copy.errorPath = path;
        return Outcome::Failed;
    };
    start(copy);
    const ReplaceDirectories& dirs = *copy.dirs;
    // What stands at the copy's name in uj may be the source itself (a link in the working
    // directory that leads into uj, or a hard link); writing the copy would replace it. A source
    // that is no link and has no other name cannot be there, which spares most files a lookup in uj.
    std::optional<FileError> opening = reader_.openAt(dirs.source.get(), copy.entryName, false);
    const bool throughLink = opening && opening->code == ELOOP;
    if (throughLink) {
        // The link may lead to a copy of a file before this one: it is followed once that stands.
        // (A source with other names needs no wait: a copy's rename moves a name, not the file.)
        if (beforeLink)
            beforeLink();
        opening = reader_.openAt(dirs.source.get(), copy.entryName);
    }
    if (opening)
        return fail(*opening, copy.filePath);
    const struct stat& source = reader_.status();
    struct stat target;
    if ((throughLink || source.st_nlink != 1) &&
        ::fstatat(dirs.output.get(), copy.entryName.constData(), &target, AT_SYMLINK_NOFOLLOW) == 0 &&
        target.st_dev == source.st_dev && target.st_ino == source.st_ino) {
        reader_.close();
        return Outcome::SameFile;
    }
    // Never more open than the source: a private file gets a private copy.
    if (std::optional<FileError> e = out_.open(dirs.output.get(), copy.entryName, source.st_mode & 0777))
        return fail(*e, copy.outFilePath);

    CodePage codePage = CodePage::Utf8;
    std::string_view block;
    LineBlockReader::Status status;
    while ((status = reader_.next(block)) == LineBlockReader::Status::Block) {
        if (codePage == CodePage::Utf8 && !isValidUtf8(block)) {
            codePage = CodePage::Windows1250;
            // The lines found and the rows kept so far stand as they would in Windows-1250 when
            // every text that chose them is ASCII, and so do the lines written, unless a
            // replacement that is not ASCII went into one of them.
            const bool sameSoFar = text_.searchIsAscii() && (!filter_.on || filter_.ascii) &&
                                   (text_.replacementIsAscii() || copy.rows.empty());
            if (!sameSoFar) {
                start(copy);
                if (std::optional<FileError> e = reader_.rewind())
                    return fail(*e, copy.filePath);
                if (std::optional<FileError> e = out_.restart())
                    return fail(*e, copy.outFilePath);
                continue;
            }
        }
        if (!rewriteBlock(copy, block, codePage)) {
            reader_.close();
            out_.discard();
            return Outcome::Unencodable;
        }
        if (out_.error())
            return fail(*out_.error(), copy.outFilePath);
    }
    if (status == LineBlockReader::Status::Error)
        return fail(reader_.error(), copy.filePath);
    // Taken while the reader still holds the last block, and before the copy stands: a line too
    // long for the memory leaves no copy.
    std::string_view lastLine;
    if (lastRow_) {
        const auto [offset, length] = copy.rows[*lastRow_];
        lastLine = std::string_view(copy.bytes).substr(offset, length);
    } else if (!lastBlock_.empty()) {
        lastLine = lastLineOf(lastBlock_);
    }
    copy.lastLine = decode(lastLine, codePage);
    copy.codePage = codePage;
    reader_.close();
    if (std::optional<FileError> e = out_.finish(copy.file))
        return fail(*e, copy.outFilePath);
    return Outcome::Written;
}

// Rewrites the lines of a block that hold the search text (and, for the selected-line replace, equal
// the selected line) and copies the others. False when a line needs the replacement and the code page
// cannot write it.
bool ReplacePass::Writer::rewriteBlock(Copy& copy, std::string_view block, CodePage codePage)
{
    const char* p = block.data();
    const char* const end = p + block.size();
    const char* copied = p;
    const Needle* needle = text_.needle(codePage);
    const std::string* filter = filter_.on ? lineFilter(codePage) : nullptr;
    // A line filter that the code page cannot write equals no line of it.
    const bool canMatch = needle && needle->size() > 0 && (!filter_.on || filter);
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
        std::string& bytes = copy.bytes;
        const size_t offset = bytes.size();
        bytes.append(line.start, prefix).append(*replacement).append(suffix, size_t(line.end - suffix));
        const size_t length = bytes.size() - offset;
        bytes.push_back('\n');
        copy.rows.emplace_back(offset, length);
        out_.writeLine(std::string_view(bytes).substr(offset, length));
        copied = p;
        lastMatch = line.match;
        copy.lastPrefix = prefix;
        lastRow_ = p == end ? std::optional<size_t>(copy.rows.size() - 1) : std::nullopt;
    }
    if (lastMatch)
        copy.lastMatch.assign(lastMatch, needle->size());
    if (copied < end) {
        copyLines(copied, end, end, loneCr);
        if (!endsWithTerminator(block)) // the file's last line, without a terminator of its own
            out_.write(std::string_view("\r\n", 2));
        lastRow_.reset();
    }
    out_.flush(); // before the reader reuses the block's bytes
    lastBlock_ = block;
    return true;
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

void ReplacePass::Copy::commit()
{
    if (std::optional<FileError> e = file.place()) {
        outcome = Outcome::Failed;
        error = *e;
        errorPath = outFilePath;
    }
}

namespace {

// Processors this process may run on.
int usableCores()
{
    cpu_set_t set;
    if (::sched_getaffinity(0, sizeof set, &set) != 0)
        return 1;
    return CPU_COUNT(&set);
}

} // namespace

// Writers on threads of their own and the caller's, each taking the next copy asked for. The
// copies stand in the order asked: one written while a copy before it is still being written keeps
// its file without a name, and whichever thread completes the copy due next puts it and those after
// it that are written in place. So a run that is cut short leaves the copies of the first files, and
// a link to a copy made earlier in the run reads that copy.
class ReplacePass::Workers
{
public:
    Workers(const ReplaceText& text, const LineFilter& filter, int count)
    {
        try {
            for (int k = 0; k < count; ++k)
                threads_.emplace_back([this, &text, &filter] { run(text, filter); });
        } catch (const std::system_error&) {
            if (threads_.empty())
                throw;
        }
    }
    ~Workers()
    {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        work_.notify_all();
        for (std::thread& thread : threads_)
            thread.join();
    }

    void add(std::unique_ptr<Copy> copy)
    {
        {
            std::lock_guard lock(mutex_);
            copies_.push_back(std::move(copy));
        }
        work_.notify_one();
    }

    // Takes back the copies that stand or were given up, oldest first, into `settled`. While more
    // than `keep` do not, writes the next copy with `writer`, or waits when all are being written.
    void takeSettled(size_t keep, Writer& writer, std::vector<std::unique_ptr<Copy>>& settled)
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            if (first_ < resolved_)
                work_.notify_all(); // fewer rows are held
            for (; first_ < resolved_; ++first_) {
                heldRows_ -= copies_.front()->bytes.size();
                settled.push_back(std::move(copies_.front()));
                copies_.pop_front();
            }
            if (copies_.size() <= keep)
                return;
            if (canTake()) {
                writeNext(writer, lock);
            } else {
                awaited_ = resolved_ + 1;
                settled_.wait(lock, [this] { return resolved_ >= awaited_; });
            }
        }
    }

private:
    bool canTake() const
    {
        return aloneWanted_ == 0 && taken_ < first_ + copies_.size() && heldRows_ <= MaxHeldRows;
    }

    void run(const ReplaceText& text, const LineFilter& filter)
    {
        Writer writer(text, filter);
        std::unique_lock lock(mutex_);
        for (;;) {
            work_.wait(lock, [this] { return stop_ || canTake(); });
            if (stop_)
                return;
            writeNext(writer, lock);
        }
    }

    // Writes the next copy asked for, holding `lock` only while it takes it and hands it back.
    void writeNext(Writer& writer, std::unique_lock<std::mutex>& lock)
    {
        const size_t number = taken_++;
        Copy& copy = *copies_[number - first_];
        ++busy_;
        const auto beforeLink = [this, number] {
            std::unique_lock wait(mutex_);
            ++linking_;
            if (aloneWanted_ > 0)
                idle_.notify_all();
            settled_.wait(wait, [this, number] { return resolved_ == number; });
            --linking_;
        };
        lock.unlock();
        writer.write(copy, beforeLink);
        lock.lock();
        if (copy.outcome == Outcome::TooLarge) {
            // The files read beside this one may have had the memory it lacked: it is tried once
            // more with none beside it but those waiting at a link.
            --busy_;
            ++aloneWanted_;
            // The one that goes on counts as busy at once, so the others wait for it.
            idle_.wait(lock, [this] { return busy_ == linking_; });
            ++busy_;
            lock.unlock();
            writer.write(copy, beforeLink);
            lock.lock();
            --aloneWanted_;
            work_.notify_all();
        }
        --busy_;
        if (aloneWanted_ > 0)
            idle_.notify_all();
        copy.written = true;
        heldRows_ += copy.bytes.size();
        commitInOrder(lock);
    }

    void commitInOrder(std::unique_lock<std::mutex>& lock)
    {
        if (committing_)
            return; // the thread that is will come to these
        committing_ = true;
        while (resolved_ < taken_ && copies_[resolved_ - first_]->written) {
            Copy& copy = *copies_[resolved_ - first_];
            if (copy.outcome == Outcome::Written) {
                lock.unlock();
                copy.commit();
                lock.lock();
            }
            ++resolved_;
            if (resolved_ == awaited_ || linking_ > 0)
                settled_.notify_all();
        }
        committing_ = false;
    }

    std::mutex mutex_;
    std::condition_variable work_; // for the threads: a copy to write, or the end
    // For the caller and writers at a link: a copy stands or was given up.
    std::condition_variable settled_;
    std::condition_variable idle_;             // a writer stopped reading
    std::deque<std::unique_ptr<Copy>> copies_; // asked for and not taken back, oldest first
    size_t first_ = 0;                         // the number of the oldest of them
    size_t taken_ = 0;                         // of the next copy for a writer
    size_t resolved_ = 0;                      // the copies before this one stand or were given up
    size_t heldRows_ = 0;                      // bytes of rows of the copies written and not taken back
    size_t awaited_ = 0;                       // the caller waits until resolved_ reaches it
    int busy_ = 0;                             // writers writing a copy
    int linking_ = 0;                          // of them, those waiting to follow a link
    int aloneWanted_ = 0;                      // writers waiting to try a copy again with no other reading
    bool committing_ = false;
    bool stop_ = false;
    std::vector<std::thread> threads_;
};

ReplacePass::ReplacePass(const ReplaceText& text)
    : text_(text), writer_(std::make_unique<Writer>(text_, filter_))
{}

ReplacePass::~ReplacePass() = default;

void ReplacePass::onlyLinesEqualTo(const QString& line)
{
    filter_.on = true;
    filter_.utf8 = encode(line, CodePage::Utf8);
    filter_.cp1250 = encode(line, CodePage::Windows1250);
    filter_.ascii = isAscii(line);
}

std::unique_ptr<ReplacePass::Copy> ReplacePass::newCopy()
{
    if (spare_.empty())
        return std::make_unique<Copy>();
    std::unique_ptr<Copy> copy = std::move(spare_.back());
    spare_.pop_back();
    return copy;
}

void ReplacePass::replaceFile(const ReplaceDirectories& dirs, const QString& name,
                              const QByteArray& entryName, MainState& state, RowSink& rows,
                              ReplaceErrors& errors)
{
    state.filePath = joinPath(dirs.path, name);
    state.outFilePath = joinPath(state.outDirPath, name);
    if (!errors.mayRetry() && !std::exchange(triedWorkers_, true)) {
        // This thread writes copies too, between handing out what they bring.
        const int cores = std::min(usableCores(), MaxWriters);
        try {
            if (cores > 1)
                workers_ = std::make_unique<Workers>(text_, filter_, cores - 1);
        } catch (const std::system_error&) {
            // No thread to be had: the copies are written here, one by one.
        }
    }
    std::unique_ptr<Copy> copy = newCopy();
    copy->dirs = &dirs;
    copy->entryName = entryName;
    copy->filePath = state.filePath;
    copy->outFilePath = state.outFilePath;
    copy->written = false;
    if (workers_) {
        workers_->add(std::move(copy));
        handOut(MaxQueued, state, rows, errors);
        return;
    }
    appendHeaderBlock(state, rows, copy->outFilePath);
    for (;;) {
        writer_->write(*copy, {});
        if (copy->outcome == Outcome::Written)
            copy->commit();
        if (copy->outcome != Outcome::Failed || !errors.retry(copy->error, copy->errorPath))
            break;
    }
    if (copy->lastLine)
        state.lineText = *copy->lastLine;
    if (copy->outcome != Outcome::Failed)
        present(*copy, state, rows, errors);
    spare_.push_back(std::move(copy));
}

void ReplacePass::finish(MainState& state, RowSink& rows, ReplaceErrors& errors)
{
    handOut(0, state, rows, errors);
}

// Hands out what the copies written on the threads bring, in order: those that stand or were given
// up already, and more, waiting for them, until no more than `keep` are left.
void ReplacePass::handOut(size_t keep, MainState& state, RowSink& rows, ReplaceErrors& errors)
{
    if (!workers_)
        return;
    std::vector<std::unique_ptr<Copy>> settled;
    workers_->takeSettled(keep, *writer_, settled);
    for (std::unique_ptr<Copy>& copy : settled) {
        appendHeaderBlock(state, rows, copy->outFilePath);
        if (copy->lastLine)
            state.lineText = *copy->lastLine;
        if (copy->outcome == Outcome::Failed)
            errors.retry(copy->error, copy->errorPath); // never tried again
        else
            present(*copy, state, rows, errors);
        giveBackIfLarge(copy->bytes);
        spare_.push_back(std::move(copy));
    }
}

// What a copy that did not fail brings: its rows, or why it was refused.
void ReplacePass::present(Copy& copy, MainState& state, RowSink& rows, ReplaceErrors& errors)
{
    switch (copy.outcome) {
    case Outcome::Written:
        finishFile(copy, state, rows);
        break;
    case Outcome::Unencodable:
        errors.tell(unencodableMessage(copy.filePath));
        break;
    case Outcome::SameFile:
        errors.tell(sameFileMessage(copy.outFilePath));
        break;
    case Outcome::TooLarge:
        errors.tell(memoryMessage(copy.filePath));
        break;
    case Outcome::Failed:
        break;
    }
}

// The rows and state fields of a file whose copy is complete.
void ReplacePass::finishFile(const Copy& copy, MainState& state, RowSink& rows)
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
