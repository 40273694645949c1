#pragma once

#include "mainstate.h"
#include "matcher.h"
#include "platform/fileerror.h"
#include "platform/rowsink.h"
#include "platform/textlines.h"

#include <optional>
#include <string>
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

// Searches files one at a time, line by line, with one set of buffers for all of them.
class SearchPass
{
public:
    explicit SearchPass(const SearchText& search) : search_(search) {}

    // Searches the file `entry` of `directory`. Sets filePath, searchLen, and lineText / lineLen to
    // the last line read. When the file has hits it appends its header
    // block and hit rows to `rows` and adds their number to hitCount. A file that cannot be opened or
    // read adds nothing at all and returns the error, so that trying it again gives no duplicate rows.
    std::optional<FileError> searchFile(const QString& directory, const QString& entry, MainState& state,
                                        RowSink& rows);
    // The same for the entry `name` of the directory open as `dirFd`, whose path is `directory`.
    std::optional<FileError> searchFile(int dirFd, const QByteArray& name, const QString& directory,
                                        const QString& entry, MainState& state, RowSink& rows);

private:
    std::optional<FileError> searchOpened(MainState& state, RowSink& rows);
    void scanBlock(std::string_view block, const Needle* needle);
    void keepHit(std::string_view line);

    const SearchText& search_;
    LineBlockReader reader_;
    std::string hitBytes_;                        // the raw hit lines of the current file, end to end
    std::vector<std::pair<size_t, size_t>> hits_; // offset and length of each in hitBytes_
    std::string row_;
};

} // namespace kelvara
