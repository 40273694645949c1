#pragma once

#include "outputdirectory.h"
#include "platform/fileselection.h"
#include "platform/rowsink.h"
#include "platform/textlines.h"
#include "search/mainstate.h"
#include "search/searchpass.h"

#include <memory>
#include <optional>
#include <string>
#include <utility>
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

// How a replace command tells its user what went wrong: a file error goes to the retry-or-skip
// choice of FileErrorHandler, anything else is a message.
class ReplaceErrors : public FileErrorHandler
{
public:
    virtual void tell(const QString& message) = 0;
    // Whether retry() may answer yes. A replace whose errors are never tried again writes each copy
    // in the background while it reads the next file.
    virtual bool mayRetry() const { return true; }
};

// Writes the rewritten copies of files, keeping the buffers of one file for the next.
class ReplacePass
{
public:
    explicit ReplacePass(const ReplaceText& text);
    ~ReplacePass();

    // From now on only the lines equal to `line`, character for character, are rewritten. Only
    // before the first file.
    void onlyLinesEqualTo(const QString& line);

    // The replace pass of the entry `name` (`entryName` as the file system holds it) of the working
    // directory of `dirs`: sets filePath and outFilePath (in outDirPath), appends the header block
    // naming the output file, and writes the copy into dirs.output, in which the first occurrence of
    // the search text in each line is replaced and every line ends in CR LF. The copy has the
    // source's permission bits less the umask. The rewritten rows follow the header block once the
    // copy is complete. A file that cannot be read or written goes to `errors` to be tried again or
    // skipped; a skipped or refused file (also one too large for the memory) leaves no output behind
    // and an earlier output of the same name as it was.
    //
    // When `errors` never retries, the copies of several files are written at once, a file on each
    // of some threads of their own and on this one. Each copy stands only after those of the files
    // before it, and its header block, rows and errors come after theirs: in a later call or in
    // finish(). `dirs` must stay open until then.
    void replaceFile(const ReplaceDirectories& dirs, const QString& name, const QByteArray& entryName,
                     MainState& state, RowSink& rows, ReplaceErrors& errors);
    // Waits for the copies still being written, and hands out what they bring.
    void finish(MainState& state, RowSink& rows, ReplaceErrors& errors);

    // Lines rewritten in all the files written so far.
    qint64 rewrittenLines() const { return rewrittenLines_; }

private:
    enum class Outcome { Written, Failed, Unencodable, SameFile, TooLarge };

    // The lines a replace in the selected line rewrites, in each code page.
    struct LineFilter
    {
        bool on = false;
        std::optional<std::string> utf8;
        std::optional<std::string> cp1250;
        bool ascii = true;
    };

    // One file's copy: where it comes from and goes, and what it brings to the hit list and the
    // state once it stands.
    struct Copy
    {
        const ReplaceDirectories* dirs = nullptr;
        QByteArray entryName;
        QString filePath;
        QString outFilePath;

        Outcome outcome = Outcome::Written;
        FileError error; // of a failed copy, about errorPath
        QString errorPath;
        WrittenFile file;                            // written, not yet at its name
        std::string bytes;                           // the rewritten lines, each followed by LF
        std::vector<std::pair<size_t, size_t>> rows; // offset and length of each in bytes
        std::string lastMatch;                       // the last occurrence replaced, as it stood
        size_t lastPrefix = 0;                       // bytes in front of it in its line
        std::optional<QString> lastLine;             // the source's last line, once read through
        CodePage codePage = CodePage::Utf8;
        bool written = false; // on a thread: done with, up to the commit

        // Puts a copy written in full at its name; a copy that cannot be put there failed.
        void commit();
    };

    class Writer;
    class Workers;

    std::unique_ptr<Copy> newCopy();
    void handOut(size_t keep, MainState& state, RowSink& rows, ReplaceErrors& errors);
    void present(Copy& copy, MainState& state, RowSink& rows, ReplaceErrors& errors);
    void finishFile(const Copy& copy, MainState& state, RowSink& rows);

    const ReplaceText& text_;
    LineFilter filter_;
    std::unique_ptr<Writer> writer_;   // on this thread
    std::unique_ptr<Workers> workers_; // once started
    bool triedWorkers_ = false;
    std::vector<std::unique_ptr<Copy>> spare_; // handed out, kept for their buffers
    std::string row_;
    qint64 rewrittenLines_ = 0;
};

} // namespace kelvara
