#include "matcher.h"

#include "text/cpu.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#define KELVARA_X86 1
#endif

namespace kelvara {

namespace {

// A rough guess at how often a byte occurs in text files (higher is more common). The search
// probes the rarest bytes of the text first, so that few positions need a full comparison.
int byteFrequency(std::uint8_t b)
{
    static constexpr std::string_view Common = " etaoinsrhldcumfpgwybvk";
    if (const size_t rank = Common.find(char(b)); rank != std::string_view::npos)
        return 255 - int(rank) * 4;
    if (b == '\t' || b == '\r' || b == '\n')
        return 200;
    if (b >= 'a' && b <= 'z')
        return 140;
    if (b >= 'A' && b <= 'Z')
        return 90;
    if (b >= '0' && b <= '9')
        return 100;
    if (b == '_') // joins the words of most identifiers in source code
        return 185;
    if (std::string_view("()[]{};,.=\"'/:-*<>").find(char(b)) != std::string_view::npos)
        return 110;
    if (b == 0xC3 || b == 0xC5) // lead bytes of the accented Hungarian letters in UTF-8
        return 120;
    if (b < 0x80)
        return 40;
    return 60;
}

// Every code point whose folded form is another code point: folded → originals.
const std::unordered_multimap<char32_t, char32_t>& unfoldTable()
{
    static const auto table = [] {
        std::unordered_multimap<char32_t, char32_t> map;
        for (char32_t c = 0x80; c <= 0x10FFFF; ++c) {
            if (c >= 0xD800 && c <= 0xDFFF)
                continue;
            if (const char32_t folded = foldUnicode(c); folded != c)
                map.emplace(folded, c);
        }
        return map;
    }();
    return table;
}

// Keeps at most four distinct bytes; returns false when there would be more.
bool addVariant(std::vector<std::uint8_t>& set, std::uint8_t byte)
{
    if (std::find(set.begin(), set.end(), byte) == set.end())
        set.push_back(byte);
    return set.size() <= 4;
}

#if KELVARA_X86
template <int Variants>
inline std::uint32_t sse2Mask(const char* at, const std::array<std::uint8_t, 4>& bytes)
{
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    __m128i hit = _mm_cmpeq_epi8(x, _mm_set1_epi8(char(bytes[0])));
    for (int k = 1; k < Variants; ++k)
        hit = _mm_or_si128(hit, _mm_cmpeq_epi8(x, _mm_set1_epi8(char(bytes[size_t(k)]))));
    return std::uint32_t(_mm_movemask_epi8(hit));
}

template <int Variants>
__attribute__((target("avx2"))) inline std::uint32_t avx2Mask(const char* at,
                                                              const std::array<std::uint8_t, 4>& bytes)
{
    const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
    __m256i hit = _mm256_cmpeq_epi8(x, _mm256_set1_epi8(char(bytes[0])));
    for (int k = 1; k < Variants; ++k)
        hit = _mm256_or_si256(hit, _mm256_cmpeq_epi8(x, _mm256_set1_epi8(char(bytes[size_t(k)]))));
    return std::uint32_t(_mm256_movemask_epi8(hit));
}

#endif

// For each offset of the folded text, the raw bytes that can stand there in a match; `usable` is
// false at an offset where more than four can.
void bytesAtOffsets(const std::string& folded, bool caseSensitive, CodePage codePage,
                    std::vector<std::vector<std::uint8_t>>& variants, std::vector<bool>& usable)
{
    const size_t n = folded.size();
    variants.assign(n, {});
    usable.assign(n, true);
    if (caseSensitive) {
        for (size_t j = 0; j < n; ++j)
            variants[j] = {std::uint8_t(folded[j])};
    } else if (codePage == CodePage::Windows1250) {
        for (size_t j = 0; j < n; ++j)
            for (int b = 0; b < 256; ++b)
                if (foldWindows1250(std::uint8_t(b)) == std::uint8_t(folded[j]))
                    usable[j] = usable[j] && addVariant(variants[j], std::uint8_t(b));
    } else {
        for (size_t j = 0; j < n;) {
            const int length = std::max(1, utf8SequenceLength(std::uint8_t(folded[j])));
            const char32_t character = decodeUtf8(&folded[j], length);
            std::vector<char32_t> originals{character};
            if (character < 0x80) {
                if (character >= 'a' && character <= 'z')
                    originals.push_back(character - 32);
            } else {
                const auto [from, to] = unfoldTable().equal_range(character);
                for (auto it = from; it != to; ++it)
                    originals.push_back(it->second);
            }
            for (const char32_t c : originals) {
                char bytes[4];
                encodeUtf8(c, bytes);
                for (int k = 0; k < length; ++k)
                    usable[j + size_t(k)] =
                        usable[j + size_t(k)] && addVariant(variants[j + size_t(k)], std::uint8_t(bytes[k]));
            }
            j += size_t(length);
        }
    }
}

} // namespace

Needle::Needle(std::string_view encoded, bool caseSensitive, CodePage codePage)
    : folded_(caseSensitive ? std::string(encoded) : foldText(encoded, codePage)),
      caseSensitive_(caseSensitive), codePage_(codePage)
{
    const size_t n = folded_.size();
    if (n == 0)
        return;
    std::vector<std::vector<std::uint8_t>> variants;
    std::vector<bool> usable;
    bytesAtOffsets(folded_, caseSensitive, codePage, variants, usable);

    // The two rarest usable offsets become the probes.
    std::vector<std::pair<int, size_t>> ranked;
    for (size_t j = 0; j < n; ++j) {
        if (!usable[j])
            continue;
        int cost = 0;
        for (const std::uint8_t b : variants[j])
            cost += byteFrequency(b);
        ranked.emplace_back(cost, j);
    }
    std::sort(ranked.begin(), ranked.end());
    if (ranked.empty()) {
        variants_ = 0; // no probe: every position is compared in full
        return;
    }
    auto makeProbe = [&](size_t offset) {
        Probe probe;
        probe.offset = offset;
        probe.count = int(variants[offset].size());
        for (size_t k = 0; k < 4; ++k)
            probe.bytes[k] = variants[offset][std::min(k, variants[offset].size() - 1)];
        return probe;
    };
    // A second probe for other bytes than the first rules out more places than the same bytes at
    // another offset, which often come together ("__", "::").
    const auto other = std::find_if(ranked.begin() + 1, ranked.end(), [&](const auto& r) {
        return variants[r.second] != variants[ranked[0].second];
    });
    first_ = makeProbe(ranked[0].second);
    second_ = makeProbe(other != ranked.end() ? other->second
                        : ranked.size() > 1   ? ranked[1].second
                                              : ranked[0].second);
    const int widest = std::max(first_.count, second_.count);
    variants_ = widest == 1 ? 1 : widest == 2 ? 2 : 4;
}

bool Needle::matchesAt(const char* at) const
{
    const size_t n = folded_.size();
    if (caseSensitive_)
        return std::memcmp(at, folded_.data(), n) == 0;
    if (codePage_ == CodePage::Windows1250) {
        for (size_t i = 0; i < n; ++i)
            if (foldWindows1250(std::uint8_t(at[i])) != std::uint8_t(folded_[i]))
                return false;
        return true;
    }
    return foldedMatchesAt(at);
}

bool Needle::foldedMatchesAt(const char* at) const
{
    // The haystack is valid UTF-8 here; folding keeps every character's length, so the folded
    // haystack lines up byte for byte with the raw one.
    const size_t n = folded_.size();
    for (size_t i = 0; i < n;) {
        const auto b = std::uint8_t(at[i]);
        if (b < 0x80) {
            if (char(b >= 'A' && b <= 'Z' ? b + 32 : b) != folded_[i])
                return false;
            ++i;
            continue;
        }
        const int length = utf8SequenceLength(b);
        if (length == 0 || i + size_t(length) > n) // a match never starts or ends inside a character
            return false;
        char folded[4];
        encodeUtf8(foldUnicode(decodeUtf8(at + i, length)), folded);
        if (std::memcmp(folded, &folded_[i], size_t(length)) != 0)
            return false;
        i += size_t(length);
    }
    return true;
}

const char* Needle::findScalar(const char* from, const char* last) const
{
    if (variants_ == 0) {
        for (const char* s = from; s <= last; ++s)
            if (matchesAt(s))
                return s;
        return nullptr;
    }
    const auto has = [](const Probe& probe, char c) {
        const auto end = probe.bytes.begin() + probe.count;
        return std::find(probe.bytes.begin(), end, std::uint8_t(c)) != end;
    };
    for (const char* s = from; s <= last; ++s) {
        if (caseSensitive_ && first_.count == 1) {
            // Jump straight to the next place where the rarest byte can line up.
            const char* hit = static_cast<const char*>(
                std::memchr(s + first_.offset, first_.bytes[0], size_t(last - s) + 1));
            if (!hit)
                return nullptr;
            s = hit - first_.offset;
        } else if (!has(first_, s[first_.offset])) {
            continue;
        }
        if (has(second_, s[second_.offset]) && matchesAt(s))
            return s;
    }
    return nullptr;
}

#if KELVARA_X86
template <int Variants> const char* Needle::findSse2(const char* p, const char* last) const
{
    // Candidates are the starts p .. last; a load at p + offset reads at most up to last + size().
    for (; p + 16 <= last + 1; p += 16) {
        std::uint32_t mask = sse2Mask<Variants>(p + first_.offset, first_.bytes) &
                             sse2Mask<Variants>(p + second_.offset, second_.bytes);
        while (mask) {
            const char* s = p + __builtin_ctz(mask);
            if (matchesAt(s))
                return s;
            mask &= mask - 1;
        }
    }
    return findScalar(p, last);
}

template <int Variants>
__attribute__((target("avx2"))) const char* Needle::findAvx2(const char* p, const char* last) const
{
    for (; p + 32 <= last + 1; p += 32) {
        std::uint32_t mask = avx2Mask<Variants>(p + first_.offset, first_.bytes) &
                             avx2Mask<Variants>(p + second_.offset, second_.bytes);
        while (mask) {
            const char* s = p + __builtin_ctz(mask);
            if (matchesAt(s))
                return s;
            mask &= mask - 1;
        }
    }
    return findSse2<Variants>(p, last);
}
#endif

const char* Needle::find(const char* begin, const char* end) const
{
    const size_t n = folded_.size();
    if (size_t(end - begin) < n)
        return nullptr;
    if (n == 0)
        return begin;
    const char* last = end - n; // the last possible start
#if KELVARA_X86
    // With no probe (variants_ 0) every place is compared in full, which only the scalar loop does.
    if (variants_ > 0 && hasAvx2())
        return variants_ == 1   ? findAvx2<1>(begin, last)
               : variants_ == 2 ? findAvx2<2>(begin, last)
                                : findAvx2<4>(begin, last);
    if (variants_ > 0 && simdLevel() == Simd::Sse2)
        return variants_ == 1   ? findSse2<1>(begin, last)
               : variants_ == 2 ? findSse2<2>(begin, last)
                                : findSse2<4>(begin, last);
#endif
    return findScalar(begin, last);
}

bool findMatchingLine(const Needle& needle, const char*& p, const char* end, MatchingLine& found)
{
    while (p < end) {
        const char* match = needle.find(p, end);
        if (!match) {
            p = end;
            return false;
        }
        // p starts a line; the match's line starts after the last CR (and its LF) before the match.
        const char* start = p;
        if (const void* cr = ::memrchr(p, '\r', size_t(match - p))) {
            start = static_cast<const char*>(cr) + 1;
            if (start < end && *start == '\n')
                ++start;
        }
        if (match < start) { // the match began at the LF of a CR LF
            p = start;
            continue;
        }
        const auto* cr = static_cast<const char*>(std::memchr(match, '\r', size_t(end - match)));
        found = {start, cr ? cr : end, match};
        p = nextLineStart(found.end, end);
        return true;
    }
    return false;
}

} // namespace kelvara
