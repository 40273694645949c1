#pragma once

#include "io/fileselection.h"
#include "io/rowsink.h"
#include "io/textlines.h"
#include "outputdirectory.h"
#include "search/mainstate.h"
#include "search/searchpass.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kelvara {

// The search text, the replacement text and the case rule of one replace command, prepared once
// for both code pages. The replacement is taken as typed: no patterns, no escapes.
class ReplaceText
{
public:
    ReplaceText(const QString& search, const QString& replacement, bool caseSensitive);

    const QString& search() const { return search_.text(); }
    const QString& replacement() const { return replacement_; }
    const Needle* needle(CodePage codePage) const { return search_.needle(codePage); }
    // The replacement in `codePage`; null when the code page lacks one of its characters.
    const std::string* replacementBytes(CodePage codePage) const
    {
        const std::optional<std::string>& r =
            codePage == CodePage::Utf8 ? replacementUtf8_ : replacement1250_;
        return r ? &*r : nullptr;
    }
    // An ASCII text is written the same in both code pages.
    bool searchIsAscii() const { return search_.sameInBothCodePages(); }
    bool replacementIsAscii() const { return replacementAscii_; }

private:
    SearchText search_;
    QString replacement_;
    bool replacementAscii_;
    std::optional<std::string> replacementUtf8_;
    std::optional<std::string> replacement1250_;
};

// How a replace command tells its user what went wrong: a file error goes to FileErrorHandler, to
// be tried again or skipped; anything else is a message.
class ReplaceErrors : public FileErrorHandler
{
public:
    virtual void tell(const QString& message) = 0;
};

// The lines a replace in the selected line rewrites: those equal to it, in each code page.
struct LineFilter
{
    bool on = false;
    std::optional<std::string> utf8;
    std::optional<std::string> cp1250;
    bool ascii = true;
};

// Writes the rewritten copies of files into uj, several at once, and makes them stand, with their
// header blocks and rows, in the files' order.
class ReplacePass : private OrderedPool::Task
{
public:
    // `text`, `filter` and `control` must outlive the pass.
    ReplacePass(const ReplaceText& text, const LineFilter& filter, PassControl& control);
    ~ReplacePass();

    // For each of `files` of the working directory of `dirs`, in order: calls `onFile`, sets filePath and
    // outFilePath, appends the header block naming the output file, and writes the copy into dirs.output, in
    // which the first occurrence of the search text in each line is replaced and every line ends in CR LF;
    // then the rewritten rows. The copy has the source's permission bits less the umask and stands only once
    // written in full, after the copies of the files before it. A file that cannot be read or written goes to
    // `errors` to be tried again or skipped; a skipped or refused file (also one too large for the memory)
    // leaves no output behind and an earlier output of the same name as it was.
    void run(const ReplaceDirectories& dirs, const std::vector<PassFile>& files, MainState& state,
             RowSink& rows, ReplaceErrors& errors, const std::function<void(const PassFile&)>& onFile = {});

    // Lines rewritten in all the files written so far.
    qint64 rewrittenLines() const { return rewrittenLines_; }

private:
    class Writer;
    struct Copy;

    size_t work(size_t file, int slot, int thread) override;
    void commit(size_t file, int slot) override;
    void useSlots(int count) override;
    bool commitAhead(size_t file, int slot) override;
    bool place(Copy& copy);
    bool settle(const PassFile& file, Copy& copy);
    void finishFile(Copy& copy);

    const ReplaceText& text_;
    PassControl& control_;
    std::vector<std::unique_ptr<Writer>> writers_; // one per thread
    std::vector<Copy> copies_;                     // one per slot of the pool
    qint64 rewrittenLines_ = 0;
    LastLine last_; // of the last copy that stands

    // Set for the time of run().
    const ReplaceDirectories* dirs_ = nullptr;
    const std::vector<PassFile>* files_ = nullptr;
    MainState* state_ = nullptr;
    RowSink* rows_ = nullptr;
    ReplaceErrors* errors_ = nullptr;
    const std::function<void(const PassFile&)>* onFile_ = nullptr;
    OrderedPool pool_;
};

} // namespace kelvara
