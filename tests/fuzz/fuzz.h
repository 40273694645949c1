#pragma once

// What the libFuzzer harnesses share: a check that stops the run, a private temporary directory,
// whole-file reads and writes, and plain reference versions of UTF-8 and of line splitting.

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>
#include <string>
#include <string_view>
#include <vector>

#define FUZZ_CHECK(condition)                                                                                \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            std::fprintf(stderr, "%s:%d: oracle mismatch: %s\n", __FILE__, __LINE__, #condition);            \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (0)

namespace kelvara::fuzz {

// A directory of its own under $TMPDIR for the whole run, removed when the process ends normally.
const std::string& tempDir();
void writeFile(const std::string& path, std::string_view bytes);
// The file's bytes; false when it cannot be read.
bool readFile(const std::string& path, std::string& bytes);
// The names in a directory, sorted, without . and ..
std::vector<std::string> listDir(const std::string& path);
// Removes every entry of a directory (not recursively).
void emptyDir(const std::string& path);

// The length of the well-formed UTF-8 sequence (RFC 3629) at s[i], with its code point, or 0.
// Decodes first and checks the value after, unlike the code under test.
inline int utf8At(std::string_view s, size_t i, char32_t& cp)
{
    const auto b = std::uint8_t(s[i]);
    const int n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + size_t(n) > s.size())
        return 0;
    cp = n == 1 ? b : b & (0x7F >> n);
    for (int k = 1; k < n; ++k) {
        const auto c = std::uint8_t(s[i + size_t(k)]);
        if ((c & 0xC0) != 0x80)
            return 0;
        cp = cp << 6 | (c & 0x3F);
    }
    static constexpr char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < least[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return n;
}

inline bool isUtf8(std::string_view s)
{
    char32_t cp;
    for (size_t i = 0; i < s.size();) {
        const int n = utf8At(s, i, cp);
        if (n == 0)
            return false;
        i += size_t(n);
    }
    return true;
}

// Lines end at CR or CR LF; a lone LF is text; a last line without terminator counts.
inline std::vector<std::string_view> splitLines(std::string_view s)
{
    std::vector<std::string_view> lines;
    size_t start = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\r') {
            lines.push_back(s.substr(start, i - start));
            if (i + 1 < s.size() && s[i + 1] == '\n')
                ++i;
            start = i + 1;
        }
    }
    if (start < s.size())
        lines.push_back(s.substr(start));
    return lines;
}

// When the input asks for it, a short unit of it repeated to a length of up to `limit` bytes: long
// lines and block borders anywhere, in files that the input alone would keep small.
inline std::string filler(FuzzedDataProvider& provider, size_t limit)
{
    if (!provider.ConsumeBool())
        return {};
    const size_t length = provider.ConsumeIntegralInRange<size_t>(0, limit);
    std::string unit = provider.ConsumeRandomLengthString(8);
    if (unit.empty())
        unit = "x";
    std::string run;
    run.reserve(length + unit.size());
    while (run.size() < length)
        run += unit;
    run.resize(length);
    return run;
}

inline QByteArray bytes(std::string_view s)
{
    return QByteArray(s.data(), qsizetype(s.size()));
}

} // namespace kelvara::fuzz
