// The matcher finds what a plain search on folded text finds: the first occurrence in a range, and
// the lines of a block that hold the needle, in both code pages and both case modes.

#include "fuzz.h"
#include "search/matcher.h"

using namespace kelvara;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    FuzzedDataProvider provider(data, size);
    const bool caseSensitive = provider.ConsumeBool();
    const bool wantUtf8 = provider.ConsumeBool();
    const std::string needleBytes = provider.ConsumeRandomLengthString(64);
    const std::string haystack = provider.ConsumeRemainingBytesAsString();
    if (needleBytes.empty() || needleBytes.find('\r') != std::string::npos)
        return 0; // no needle holds a CR: it ends a line
    const CodePage codePage = wantUtf8 && isValidUtf8(needleBytes) && isValidUtf8(haystack)
                                  ? CodePage::Utf8
                                  : CodePage::Windows1250;
    const auto fold = [&](const std::string& s) { return caseSensitive ? s : foldText(s, codePage); };
    const std::string foldedNeedle = fold(needleBytes);
    const std::string foldedHaystack = fold(haystack);

    const Needle needle(needleBytes, caseSensitive, codePage);
    assert(needle.size() == needleBytes.size());
    const char* begin = haystack.data();
    const char* end = begin + haystack.size();
    // A UTF-8 needle starts with a lead byte, so every byte match starts a character.
    const size_t at = foldedHaystack.find(foldedNeedle);
    assert(needle.find(begin, end) == (at == std::string::npos ? nullptr : begin + at));
    assert(needle.isPrefixOf(begin, end) == foldedHaystack.starts_with(foldedNeedle));

    // Line by line: the folded text has the same line ends as the text.
    const char* p = begin;
    MatchingLine line;
    for (const std::string_view expected : fuzz::splitLines(foldedHaystack)) {
        if (expected.find(foldedNeedle) == std::string_view::npos)
            continue;
        assert(findMatchingLine(needle, p, end, line));
        assert(line.start - begin == expected.data() - foldedHaystack.data());
        assert(size_t(line.end - line.start) == expected.size());
        assert(size_t(line.match - line.start) == expected.find(foldedNeedle));
        assert(p == nextLineStart(line.end, end));
    }
    assert(!findMatchingLine(needle, p, end, line));
    return 0;
}
