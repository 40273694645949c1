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
    const CodePage codePage = wantUtf8 && fuzz::isUtf8(needleBytes) && fuzz::isUtf8(haystack)
                                  ? CodePage::Utf8
                                  : CodePage::Windows1250;
    const auto fold = [&](const std::string& s) { return caseSensitive ? s : foldText(s, codePage); };
    const std::string foldedNeedle = fold(needleBytes);
    const std::string foldedHaystack = fold(haystack);

    const Needle needle(needleBytes, caseSensitive, codePage);
    FUZZ_CHECK(needle.size() == needleBytes.size());
    const char* begin = haystack.data();
    const char* end = begin + haystack.size();
    // A UTF-8 needle starts with a lead byte, so every byte match starts a character.
    const size_t at = foldedHaystack.find(foldedNeedle);
    const char* found = needle.find(begin, end);
    FUZZ_CHECK(found == (at == std::string::npos ? nullptr : begin + at));
    FUZZ_CHECK(needle.isPrefixOf(begin, end) == foldedHaystack.starts_with(foldedNeedle));

    // Line by line: the folded text has the same line ends as the text.
    std::vector<std::string_view> expected;
    for (std::string_view line : fuzz::splitLines(foldedHaystack)) {
        if (line.find(foldedNeedle) != std::string_view::npos)
            expected.push_back(line);
    }
    const char* p = begin;
    MatchingLine line;
    size_t k = 0;
    while (findMatchingLine(needle, p, end, line)) {
        FUZZ_CHECK(k < expected.size());
        const size_t offset = size_t(line.start - begin);
        FUZZ_CHECK(offset == size_t(expected[k].data() - foldedHaystack.data()));
        FUZZ_CHECK(size_t(line.end - line.start) == expected[k].size());
        FUZZ_CHECK(size_t(line.match - line.start) == expected[k].find(foldedNeedle));
        FUZZ_CHECK(p == nextLineStart(line.end, end));
        ++k;
    }
    FUZZ_CHECK(k == expected.size());
    return 0;
}
