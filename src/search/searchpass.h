#pragma once

#include "io/fileerror.h"
#include "io/fileselection.h"
#include "io/rowsink.h"
#include "io/textlines.h"
#include "mainstate.h"
#include "matcher.h"
#include "orderedpool.h"

#include <cerrno>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kelvara {

// The search text and options of one command, prepared once for both code pages.
class SearchText
{
public:
    SearchText(const QString& text, bool caseSensitive, MatchMode mode);

    const QString& text() const { return text_; }
    MatchMode mode() const { return mode_; }
    // Null when the text cannot stand in a line of that code page: a character the code page lacks,
    // or a CR, which always ends a line.
    const Needle* needle(CodePage codePage) const
    {
        const std::optional<Needle>& n = codePage == CodePage::Utf8 ? utf8_ : windows1250_;
        return n ? &*n : nullptr;
    }
    // True when the hits of a line do not depend on its code page (a text of ASCII characters).
    bool sameInBothCodePages() const { return ascii_; }

private:
    QString text_;
    MatchMode mode_;
    bool ascii_;
    std::optional<Needle> utf8_;
    std::optional<Needle> windows1250_;
};

// A file a pass goes through: its name relative to the directory the pass reads (the whole path for
// AT_FDCWD) and its text, held by whoever runs the pass, and its index in the file list.
struct PassFile
{
    const DirectoryEntry* listed = nullptr;
    int entry = -1;

    const QByteArray& name() const { return listed->name; }
    QString path(const QString& directory) const;
};

// Rows for the hit list, in UTF-8, end to end, each followed by an LF; what RowSink::appendRows takes.
struct RowBytes
{
    std::string bytes;
    std::vector<std::pair<size_t, size_t>> rows; // offset and length of each in bytes

    void clear()
    {
        bytes.clear();
        rows.clear();
    }
    void append(std::string_view row)
    {
        rows.emplace_back(bytes.size(), row.size());
        bytes.append(row);
        bytes.push_back('\n');
    }
    // Rows that stand as read in `codePage` become UTF-8, through `spare`.
    void toUtf8(CodePage codePage, std::string& spare);
    // Gives back what a long file made large.
    void trim();
};

// The last line of a file as it stands in it, and its code page: a pass decodes only the one its
// state ends with, not one per file.
struct LastLine
{
    std::string bytes;
    CodePage codePage = CodePage::Utf8;
    bool has = false;

    void take(std::string_view line, CodePage in)
    {
        bytes.assign(line);
        codePage = in;
        has = true;
    }
    size_t heldBytes() const { return has ? bytes.size() : 0; }
    // At a file's commit: the line becomes the pass's `latest`, and this keeps a buffer for the
    // slot's next file, unless that is large.
    void handTo(LastLine& latest)
    {
        if (has)
            std::swap(latest, *this);
        has = false;
        if (bytes.capacity() > 1024)
            std::string().swap(bytes);
    }
    // At the end of a pass: the state's line and its length, once. A line that fitted in the memory
    // as it stands in its file but not decoded leaves the line empty; the files are done by then.
    void settle(MainState& state)
    {
        if (!std::exchange(has, false))
            return;
        try {
            state.lineText = decode(bytes, codePage);
        } catch (const std::bad_alloc&) {
            state.lineText.clear();
        }
        state.lineLen = state.lineText.size();
    }
};

// Runs `step`, which appends rows of the file `path` to a row sink. When the sink runs out of
// memory, `errors` is asked whether to try again; false when it gave up.
template <typename Step> bool listRows(const QString& path, FileErrorHandler& errors, Step step)
{
    for (;;) {
        try {
            step();
            return true;
        } catch (const std::bad_alloc&) {
            if (!errors.askRetry(FileError::fromErrno(ENOMEM), path))
                return false;
        }
    }
}

// Searches files, several at once, and hands out their header blocks and hit rows in the files' order.
class SearchPass : private OrderedPool::Task
{
public:
    SearchPass(const SearchText& search, PassControl& control);
    ~SearchPass();

    // Searches `files` of `directory`, open as `dirFd` (AT_FDCWD: names are paths). For each file, in order:
    // `onFile` is called, filePath and searchLen are set, lineText / lineLen to its last line, and its header
    // block and hit rows, if any, go to `rows` and their number to hitCount. A file that cannot be read (or
    // is too large for the memory) goes to `errors` to be tried again or skipped, and adds no row.
    void run(const QString& directory, int dirFd, const std::vector<PassFile>& files, MainState& state,
             RowSink& rows, FileErrorHandler& errors, const std::function<void(const PassFile&)>& onFile);

private:
    class Searcher;
    struct Found;

    void settleState();
    size_t work(size_t file, int slot, int thread) override;
    void commit(size_t file, int slot) override;
    void useSlots(int count) override;

    const SearchText& search_;
    PassControl& control_;
    std::vector<std::unique_ptr<Searcher>> searchers_; // one per thread
    std::vector<Found> found_;                         // one per slot of the pool

    // Set for the time of run().
    const QString* directory_ = nullptr;
    int dirFd_ = -1;
    const std::vector<PassFile>* files_ = nullptr;
    MainState* state_ = nullptr;
    std::optional<size_t> lastCommitted_;
    LastLine last_; // of the last file committed that has a line
    RowSink* rows_ = nullptr;
    FileErrorHandler* errors_ = nullptr;
    const std::function<void(const PassFile&)>* onFile_ = nullptr;
    OrderedPool pool_;
};

} // namespace kelvara
