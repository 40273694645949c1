#pragma once

#include "outputdirectory.h"
#include "platform/fileselection.h"
#include "platform/rowsink.h"
#include "platform/textlines.h"
#include "search/mainstate.h"
#include "search/searchpass.h"

#include <deque>
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

// Writes the rewritten copies of files one at a time, with one set of buffers for all of them.
class ReplacePass
{
public:
    explicit ReplacePass(const ReplaceText& text) : text_(text) {}

    // From now on only the lines equal to `line`, character for character, are rewritten.
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
    // When `errors` never retries, the copy is written in the background, and its header block,
    // rows and errors come once it stands, after those of the files before it: in a later call or
    // in finish().
    void replaceFile(const ReplaceDirectories& dirs, const QString& name, const QByteArray& entryName,
                     MainState& state, RowSink& rows, ReplaceErrors& errors);
    // Waits for the copies still written in the background, and hands out what they bring.
    void finish(MainState& state, RowSink& rows, ReplaceErrors& errors);

    // Lines rewritten in all the files written so far.
    qint64 rewrittenLines() const { return rewrittenLines_; }

private:
    enum class Outcome { Written, Queued, Failed, Unencodable, SameFile, TooLarge };

    // What a copy brings to the hit list and the state once it stands.
    struct CopyRows
    {
        QString outFilePath;
        std::string bytes;                           // the rewritten lines, each followed by LF
        std::vector<std::pair<size_t, size_t>> rows; // offset and length of each in bytes
        std::string lastMatch;                       // the last occurrence replaced, as it stood
        size_t lastPrefix = 0;                       // bytes in front of it in its line
        QString lastLine;                            // the file's last line
        CodePage codePage = CodePage::Utf8;
    };

    void handOut(size_t keep, MainState& state, RowSink& rows, ReplaceErrors& errors);
    Outcome writeCopy(const ReplaceDirectories& dirs, const QByteArray& entryName, MainState& state,
                      FileError& error, QString& errorPath);
    void startCopy();
    bool rewriteBlock(std::string_view block, CodePage codePage);
    void copyLines(const char* from, const char* to, const char* end, const char*& loneCr);
    const std::string* lineFilter(CodePage codePage) const;
    void finishFile(const CopyRows& copy, MainState& state, RowSink& rows);

    const ReplaceText& text_;
    bool filtered_ = false;
    std::optional<std::string> filterUtf8_; // the line to rewrite, in each code page
    std::optional<std::string> filter1250_;
    bool filterAscii_ = true;

    LineBlockReader reader_;
    OutputFile out_;
    CopyRows copy_;                 // of the file being read
    std::deque<CopyRows> queued_;   // of the copies being written in the background, oldest first
    std::vector<CopyRows> spare_;   // handed out, kept for their buffers
    std::string_view lastBlock_;    // the file's last block, while the reader holds it
    std::optional<size_t> lastRow_; // the last line's row, when it was rewritten
    std::string row_;
    qint64 rewrittenLines_ = 0;
};

} // namespace kelvara
