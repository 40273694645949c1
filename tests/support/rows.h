#pragma once

// Hit-list rows as the engine hands them out, and plain models of what the engine should make.

#include "replace/replacepass.h"

#include <QStringList>
#include <algorithm>
#include <functional>

namespace kelvara::test {

// Each row goes first to `hook`, if any, with the number of the file whose header block came last (0
// for the first); the hook may wait, throw or ask for the stop.
struct Rows : RowSink
{
    void clear() override { rows.clear(); }
    void appendRow(std::string_view utf8) override
    {
        files += utf8.starts_with("**  ");
        if (hook)
            hook(utf8, files - 1);
        rows.append(QString::fromUtf8(QByteArrayView(utf8)));
    }
    QStringList rows;
    std::function<void(std::string_view row, int file)> hook;
    int files = 0;
};

// Answers the first file error with `answer` (a retry when it says so), later ones with no. With a
// `log`, each error's path and each message's first line go among the rows there too.
struct ScriptedErrors : ReplaceErrors
{
    bool askRetry(const FileError& error, const QString& path) override
    {
        paths.append(path);
        codes.append(error.code);
        if (log)
            log->rows.append(QStringLiteral("error ") + path);
        return answer && std::exchange(answer, nullptr)();
    }
    void tell(const QString& message) override
    {
        messages.append(message);
        if (log)
            log->rows.append(message.section(u'\n', 0, 0));
    }
    std::function<bool()> answer;
    QStringList paths, messages;
    QList<int> codes; // of the errors asked about
    Rows* log = nullptr;
};

// The header block of a file in the hit list.
inline QStringList block(const QString& path)
{
    return {QString(150, u'*'), QStringLiteral("**  ") + path + QStringLiteral("  **"), QString(150, u'*')};
}

// Lines end at CR or CR LF; a lone LF is text; a last line without terminator counts.
inline std::vector<std::string_view> splitLines(std::string_view s)
{
    std::vector<std::string_view> lines;
    for (size_t start = 0; start < s.size();) {
        const size_t end = std::min(s.find('\r', start), s.size());
        lines.push_back(s.substr(start, end - start));
        start = end + (s.substr(end, 2) == "\r\n" ? 2 : 1);
    }
    return lines;
}

// A copy made the plain way: the first occurrence replaced in each line holding the text (and equal to
// `only`, if given), lines ended in CR LF, rewritten lines as rows; none if the replacement can't be
// written. `hits` are the lines replaced in as they were, `starts` those of them that begin with the text.
struct Copy
{
    std::optional<std::string> bytes;
    QStringList rows, hits, starts;
    QString last, lastCopied; // the last line, and as the copy has it
};

inline Copy plainCopy(std::string_view content, const QString& search, const QString& replacement,
                      bool caseSensitive, const std::optional<QString>& only = std::nullopt)
{
    const CodePage codePage = isValidUtf8(content) ? CodePage::Utf8 : CodePage::Windows1250;
    const auto fold = [&](std::string_view s) {
        return caseSensitive ? std::string(s) : foldText(s, codePage);
    };
    const std::optional<std::string> needle = encode(search, codePage);
    const std::optional<std::string> replacementBytes = encode(replacement, codePage);
    const bool usable = needle && !needle->empty() && needle->find('\r') == std::string::npos;
    Copy copy{std::string(), {}, {}, {}, {}, {}};
    for (const std::string_view line : splitLines(content)) {
        std::string out(line);
        const size_t at = usable && (!only || decode(line, codePage) == *only)
                              ? fold(line).find(fold(*needle))
                              : std::string::npos;
        if (at != std::string::npos) {
            copy.hits.append(decode(line, codePage));
            if (at == 0)
                copy.starts.append(copy.hits.back());
            if (!replacementBytes)
                return {};
            out.replace(at, needle->size(), *replacementBytes);
            copy.rows.append(decode(out, codePage));
        }
        *copy.bytes += out + "\r\n";
        copy.last = decode(line, codePage);
        copy.lastCopied = decode(out, codePage);
    }
    return copy;
}

} // namespace kelvara::test
