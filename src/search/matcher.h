#pragma once

#include "text/codepage.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace kelvara {

// Where the search text must stand in a line: anywhere ("Előfordul benne") or at its very start
// ("Így kezdődik").
enum class MatchMode { Anywhere, LineStart };

// A search text encoded in one code page and prepared for fast searching in raw bytes. Without
// case sensitivity both sides are compared folded (codepage.h); the haystack itself is never changed.
class Needle
{
public:
    Needle(std::string_view encoded, bool caseSensitive, CodePage codePage);

    size_t size() const { return folded_.size(); }
    // The first occurrence in [begin, end), or nullptr. `begin` must start a character.
    const char* find(const char* begin, const char* end) const;
    // Whether [begin, end) begins with the text.
    bool isPrefixOf(const char* begin, const char* end) const
    {
        return size_t(end - begin) >= size() && matchesAt(begin);
    }

private:
    // The bytes that may stand at one offset of a match, and how often such bytes occur in text.
    struct Probe
    {
        size_t offset = 0;
        int count = 0;
        std::array<std::uint8_t, 4> bytes{};
    };

    bool matchesAt(const char* at) const;
    bool foldedMatchesAt(const char* at) const;
    const char* findScalar(const char* from, const char* last) const;
    template <int Variants> const char* findSse2(const char* begin, const char* last) const;
    template <int Variants> const char* findAvx2(const char* begin, const char* last) const;

    std::string folded_;
    bool caseSensitive_;
    CodePage codePage_;
    Probe first_;
    Probe second_;
    int variants_ = 1; // 1, 2 or 4: the larger probe, rounded up
};

// A line that holds a needle: where it starts, where it ends (at its terminator) and where the first
// occurrence in it begins.
struct MatchingLine
{
    const char* start;
    const char* end;
    const char* match;
};

// Finds the first line of [p, end), a block of whole lines with p at a line start, that holds the
// needle, and moves p to the start of the line after it. False when no line of the rest holds it.
// An occurrence never spans two lines: the needle holds no CR.
bool findMatchingLine(const Needle& needle, const char*& p, const char* end, MatchingLine& found);
// The start of the line after the one that ends (at its terminator, or at `end`) at `lineEnd`.
inline const char* nextLineStart(const char* lineEnd, const char* end)
{
    if (lineEnd < end)
        ++lineEnd;
    if (lineEnd < end && *lineEnd == '\n' && lineEnd[-1] == '\r')
        ++lineEnd;
    return lineEnd;
}

} // namespace kelvara
