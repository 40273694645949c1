#include "searchpass.h"

#include "headerblock.h"
#include "io/directory.h"
#include "scanner.h"

#include <cstring>

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

QString PassFile::path(const QString& directory) const
{
    return joinPath(directory, listed->text);
}

void RowBytes::toUtf8(CodePage codePage, std::string& spare)
{
    if (codePage == CodePage::Utf8)
        return;
    spare.clear();
    for (auto& [offset, length] : rows) {
        const size_t start = spare.size();
        appendAsUtf8(std::string_view(bytes).substr(offset, length), codePage, spare);
        offset = start;
        length = spare.size() - start;
        spare.push_back('\n');
    }
    bytes.swap(spare);
    if (spare.capacity() > 1 << 20)
        std::string().swap(spare);
}

void RowBytes::trim()
{
    if (bytes.capacity() > 1 << 20) {
        std::string().swap(bytes);
        rows = {};
    }
}

// What the search of one file found, waiting in its slot for its turn.
struct SearchPass::Found
{
    enum class Outcome { Searched, Failed, OutOfMemory, Stopped };
    Outcome outcome = Outcome::Searched;
    FileError error;
    RowBytes hits;
    LastLine last;
};

// Reads files one at a time with one set of buffers and keeps their hit lines: a thread's own.
class SearchPass::Searcher final : private LineHandler
{
public:
    explicit Searcher(const SearchText& search) : search_(search) {}

    void search(int dirFd, const PassFile& file, Found& found, PassControl& control)
    {
        found.last.has = false;
        hits_ = &found.hits;
        try {
            found.outcome = searchFile(dirFd, file, found, control);
        } catch (const std::bad_alloc&) {
            // What the file took is given back for the next one.
            reader_.close();
            std::string().swap(utf8_);
            found.hits.trim();
            found.hits.clear();
            found.outcome = Found::Outcome::OutOfMemory;
        }
    }

private:
    Found::Outcome searchFile(int dirFd, const PassFile& file, Found& found, PassControl& control)
    {
        hits_->clear();
        lastBlock_ = {};
        if (std::optional<FileError> error = reader_.openAt(dirFd, file.name())) {
            found.error = *error;
            return Found::Outcome::Failed;
        }
        CodePage codePage;
        const ScanEnd end = scanLines(reader_, *this, codePage, control);
        if (end == ScanEnd::ReadError)
            found.error = reader_.error();
        else if (end != ScanEnd::Stopped && !lastBlock_.empty()) // valid until the reader is closed
            found.last.take(lastLineOf(lastBlock_), codePage);
        reader_.close();
        if (end == ScanEnd::Stopped)
            return Found::Outcome::Stopped;
        if (end == ScanEnd::ReadError)
            return Found::Outcome::Failed;
        found.hits.toUtf8(codePage, utf8_);
        return Found::Outcome::Searched;
    }

    bool restart() override
    {
        hits_->clear();
        return true;
    }
    // A text of ASCII characters matches the same lines in both code pages; any other is written
    // differently in the two.
    bool keepsOnCodePageSwitch() const override { return search_.sameInBothCodePages(); }
    bool lines(std::string_view block, CodePage codePage) override
    {
        if (const Needle* needle = search_.needle(codePage))
            scanBlock(block, *needle);
        lastBlock_ = block;
        return true;
    }

    // Finds the hit lines of a block of whole lines. In the Anywhere mode the whole block is searched
    // at once and only the lines around the matches are looked at.
    void scanBlock(std::string_view block, const Needle& needle)
    {
        const char* p = block.data();
        const char* const end = p + block.size();
        if (search_.mode() == MatchMode::LineStart) {
            while (p < end) {
                const auto* cr = static_cast<const char*>(std::memchr(p, '\r', size_t(end - p)));
                const char* lineEnd = cr ? cr : end;
                if (needle.isPrefixOf(p, lineEnd))
                    hits_->append(std::string_view(p, size_t(lineEnd - p)));
                p = nextLineStart(lineEnd, end);
            }
            return;
        }
        MatchingLine line;
        while (findMatchingLine(needle, p, end, line))
            hits_->append(std::string_view(line.start, size_t(line.end - line.start)));
    }

    const SearchText& search_;
    LineBlockReader reader_;
    RowBytes* hits_ = nullptr; // of the file being read, as they stand in it until its end
    std::string utf8_;
    std::string_view lastBlock_;
};

SearchPass::SearchPass(const SearchText& search, PassControl& control)
    : search_(search), control_(control), pool_(*this, control)
{
    for (int k = 0; k < control.toolSets(); ++k)
        searchers_.push_back(std::make_unique<Searcher>(search));
}

SearchPass::~SearchPass() = default;

void SearchPass::useSlots(int count)
{
    found_.resize(size_t(count));
}

void SearchPass::run(const QString& directory, int dirFd, const std::vector<PassFile>& files,
                     MainState& state, RowSink& rows, FileErrorHandler& errors,
                     const std::function<void(const PassFile&)>& onFile)
{
    directory_ = &directory;
    dirFd_ = dirFd;
    files_ = &files;
    state_ = &state;
    rows_ = &rows;
    errors_ = &errors;
    onFile_ = &onFile;
    lastCommitted_ = std::nullopt;
    last_.has = false;
    // The state fields that each file sets in turn are set once, as the last file committed left
    // them: the path and the line are made once, not once per file.
    try {
        pool_.run(files.size(), [&](size_t k) { return files[k].path(directory); });
    } catch (...) {
        settleState();
        throw;
    }
    settleState();
}

void SearchPass::settleState()
{
    if (lastCommitted_)
        state_->filePath = (*files_)[*lastCommitted_].path(*directory_);
    last_.settle(*state_);
}

size_t SearchPass::work(size_t file, int slot, int thread)
{
    Found& found = found_[size_t(slot)];
    searchers_[size_t(thread)]->search(dirFd_, (*files_)[file], found, control_);
    return found.hits.bytes.size() + found.last.heldBytes();
}

// A file's search once every file before it is handed out: its rows, or its error and another try.
void SearchPass::commit(size_t file, int slot)
{
    const PassFile& passFile = (*files_)[file];
    Found& found = found_[size_t(slot)];
    MainState& state = *state_;
    if (*onFile_)
        (*onFile_)(passFile);
    lastCommitted_ = file;
    state.searchLen = search_.text().size();
    // On the calling thread's tools; a window goes on with its events meanwhile.
    const auto searchAgain = [&] {
        control_.runPulsing([&] { searchers_[0]->search(dirFd_, passFile, found, control_); });
    };
    bool alone = !pool_.hasWorkers(); // searched with no other file read at once
    for (;;) {
        if (found.outcome == Found::Outcome::OutOfMemory && !alone) {
            // The files read beside it may have had the memory it lacked.
            pool_.alone(searchAgain);
            alone = true;
            continue;
        }
        if (found.outcome == Found::Outcome::Stopped)
            return;
        if (found.outcome == Found::Outcome::Searched)
            break;
        state.filePath = passFile.path(*directory_);
        const FileError error =
            found.outcome == Found::Outcome::Failed ? found.error : FileError::fromErrno(ENOMEM);
        if (!errors_->askRetry(error, state.filePath))
            return;
        searchAgain();
    }
    found.last.handTo(last_);
    if (!found.hits.rows.empty()) {
        state.filePath = passFile.path(*directory_);
        bool headed = false;
        if (listRows(state.filePath, *errors_, [&] {
                if (!headed)
                    appendHeaderBlock(state, *rows_);
                headed = true;
                rows_->appendRows(found.hits.bytes, found.hits.rows);
            }))
            state.hitCount += qint64(found.hits.rows.size());
    }
    found.hits.trim();
}

} // namespace kelvara
