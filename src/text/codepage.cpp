#include "codepage.h"

#include "cpu.h"

#include <QChar>
#include <algorithm>
#include <array>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace kelvara {

namespace {

// Windows-1250, bytes 0x80..0xFF. The unassigned 0x81, 0x83, 0x88, 0x90 and 0x98 stand for
// themselves (C1 controls).
constexpr std::array<char16_t, 128> HighHalf = {
    0x20AC, 0x0081, 0x201A, 0x0083, 0x201E, 0x2026, 0x2020, 0x2021, // 80
    0x0088, 0x2030, 0x0160, 0x2039, 0x015A, 0x0164, 0x017D, 0x0179, // 88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 90
    0x0098, 0x2122, 0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A, // 98
    0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6, 0x00A7, // A0
    0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B, // A8
    0x00B0, 0x00B1, 0x02DB, 0x0142, 0x00B4, 0x00B5, 0x00B6, 0x00B7, // B0
    0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C, // B8
    0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7, // C0
    0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E, // C8
    0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7, // D0
    0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF, // D8
    0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7, // E0
    0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F, // E8
    0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7, // F0
    0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9, // F8
};

char32_t windows1250ToUnicode(std::uint8_t byte)
{
    return byte < 0x80 ? char32_t(byte) : char32_t(HighHalf[byte - 0x80]);
}

int utf8Length(char32_t c)
{
    return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
}

struct Windows1250Tables
{
    std::array<std::uint8_t, 256> fold{};
    // Each byte as UTF-8: length, then up to three bytes.
    std::array<std::array<char, 4>, 256> utf8{};

    Windows1250Tables()
    {
        for (int b = 0; b < 256; ++b) {
            const char32_t c = windows1250ToUnicode(std::uint8_t(b));
            const char32_t lower = QChar::toLower(c);
            fold[b] = std::uint8_t(b);
            for (int l = 0; l < 256; ++l)
                if (lower != c && windows1250ToUnicode(std::uint8_t(l)) == lower)
                    fold[b] = std::uint8_t(l);
            char buffer[4];
            const int length = encodeUtf8(c, buffer);
            utf8[b][0] = char(length);
            std::memcpy(&utf8[b][1], buffer, size_t(length));
        }
    }
};

const Windows1250Tables& windows1250()
{
    static const Windows1250Tables tables;
    return tables;
}

// The first byte at or after `i` that is not ASCII, or `size`.
size_t nextNonAscii(const std::uint8_t* p, size_t i, size_t size)
{
#if defined(__SSE2__)
    for (; i + 16 <= size; i += 16) {
        const int mask = _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)));
        if (mask != 0)
            return i + size_t(__builtin_ctz(unsigned(mask)));
    }
#endif
    while (i < size && p[i] < 0x80)
        ++i;
    return i;
}

} // namespace

#if defined(__x86_64__)
// Block-wise validation with AVX2, 32 bytes at a time. Each byte is checked against the one, two and
// three bytes before it: three table lookups by nibble (the lead's high and low half, the next byte's
// high half) flag every wrong pair (too short, too long, overlong, surrogate, too large), and the
// third and fourth bytes of long sequences must be continuations exactly where a lead two or three
// bytes back asks for one.
namespace avx2 {

constexpr std::uint8_t TooShort = 1 << 0;
constexpr std::uint8_t TooLong = 1 << 1;
constexpr std::uint8_t Overlong3 = 1 << 2;
constexpr std::uint8_t TooLarge = 1 << 3;
constexpr std::uint8_t Surrogate = 1 << 4;
constexpr std::uint8_t Overlong2 = 1 << 5;
constexpr std::uint8_t TooLarge1000 = 1 << 6;
constexpr std::uint8_t Overlong4 = 1 << 6;
constexpr std::uint8_t TwoConts = 1 << 7;
constexpr std::uint8_t Carry = TooShort | TooLong | TwoConts;

__attribute__((target("avx2"))) inline __m256i table(const std::array<std::uint8_t, 16>& t)
{
    const __m128i half = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t.data()));
    return _mm256_broadcastsi128_si256(half);
}

__attribute__((target("avx2"))) inline __m256i highNibbles(__m256i v)
{
    return _mm256_and_si256(_mm256_srli_epi16(v, 4), _mm256_set1_epi8(0x0F));
}

// The bytes of `input` shifted later by N, with the last N bytes of `previous` in front.
template <int N> __attribute__((target("avx2"))) inline __m256i before(__m256i input, __m256i previous)
{
    return _mm256_alignr_epi8(input, _mm256_permute2x128_si256(previous, input, 0x21), 16 - N);
}

// What the high and low half of a first byte, and the high half of a second byte, may be part of.
constexpr std::array<std::uint8_t, 16> Byte1High = {
    TooLong,
    TooLong,
    TooLong,
    TooLong,
    TooLong,
    TooLong,
    TooLong,
    TooLong, // ASCII
    TwoConts,
    TwoConts,
    TwoConts,
    TwoConts,                                       // continuation
    TooShort | Overlong2,                           // C0..CF
    TooShort,                                       // D0..DF
    TooShort | Overlong3 | Surrogate,               // E0..EF
    TooShort | TooLarge | TooLarge1000 | Overlong4, // F0..FF
};
constexpr std::array<std::uint8_t, 16> Byte1Low = {
    Carry | Overlong3 | Overlong2 | Overlong4,
    Carry | Overlong2,
    Carry,
    Carry,
    Carry | TooLarge,
    Carry | TooLarge | TooLarge1000,
    Carry | TooLarge | TooLarge1000,
    Carry | TooLarge | TooLarge1000,
    Carry | TooLarge | TooLarge1000,
    Carry | TooLarge | TooLarge1000,
    Carry | TooLarge | TooLarge1000,
    Carry | TooLarge | TooLarge1000,
    Carry | TooLarge | TooLarge1000,
    Carry | TooLarge | TooLarge1000 | Surrogate,
    Carry | TooLarge | TooLarge1000,
    Carry | TooLarge | TooLarge1000,
};
constexpr std::array<std::uint8_t, 16> Byte2High = {
    TooShort,
    TooShort,
    TooShort,
    TooShort,
    TooShort,
    TooShort,
    TooShort,
    TooShort,
    TooLong | Overlong2 | TwoConts | Overlong3 | TooLarge1000 | Overlong4, // 80..8F
    TooLong | Overlong2 | TwoConts | Overlong3 | TooLarge,                 // 90..9F
    TooLong | Overlong2 | TwoConts | Surrogate | TooLarge,                 // A0..AF
    TooLong | Overlong2 | TwoConts | Surrogate | TooLarge,                 // B0..BF
    TooShort,
    TooShort,
    TooShort,
    TooShort,
};

struct Validator
{
    __m256i byte1High, byte1Low, byte2High, lastStarts;
    __m256i error, previous, previousIncomplete;

    __attribute__((target("avx2"))) Validator()
    {
        byte1High = table(Byte1High);
        byte1Low = table(Byte1Low);
        byte2High = table(Byte2High);
        // A block whose last bytes start a sequence that it does not finish.
        lastStarts = _mm256_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                                      -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, char(0xF0 - 1),
                                      char(0xE0 - 1), char(0xC0 - 1));
        error = previous = previousIncomplete = _mm256_setzero_si256();
    }

    __attribute__((target("avx2"))) void check(__m256i input)
    {
        if (_mm256_movemask_epi8(input) == 0) {
            error = _mm256_or_si256(error, previousIncomplete);
        } else {
            const __m256i prev1 = before<1>(input, previous);
            const __m256i special = _mm256_and_si256(
                _mm256_and_si256(
                    _mm256_shuffle_epi8(byte1High, highNibbles(prev1)),
                    _mm256_shuffle_epi8(byte1Low, _mm256_and_si256(prev1, _mm256_set1_epi8(0x0F)))),
                _mm256_shuffle_epi8(byte2High, highNibbles(input)));
            const __m256i third = _mm256_subs_epu8(before<2>(input, previous), _mm256_set1_epi8(0xE0 - 0x80));
            const __m256i fourth =
                _mm256_subs_epu8(before<3>(input, previous), _mm256_set1_epi8(0xF0 - 0x80));
            const __m256i mustContinue =
                _mm256_and_si256(_mm256_or_si256(third, fourth), _mm256_set1_epi8(char(0x80)));
            error = _mm256_or_si256(error, _mm256_xor_si256(mustContinue, special));
            previousIncomplete = _mm256_subs_epu8(input, lastStarts);
        }
        previous = input;
    }

    __attribute__((target("avx2"))) bool failed() const { return !_mm256_testz_si256(error, error); }
};

__attribute__((target("avx2"))) bool isValid(const std::uint8_t* p, size_t size)
{
    Validator validator;
    size_t i = 0;
    // Plain ASCII, the bulk of most text, goes by 128 bytes at a time.
    for (; i + 128 <= size; i += 128) {
        const auto* at = reinterpret_cast<const __m256i*>(p + i);
        const __m256i a = _mm256_loadu_si256(at), b = _mm256_loadu_si256(at + 1);
        const __m256i c = _mm256_loadu_si256(at + 2), d = _mm256_loadu_si256(at + 3);
        if (_mm256_movemask_epi8(_mm256_or_si256(_mm256_or_si256(a, b), _mm256_or_si256(c, d))) == 0) {
            validator.check(d); // only carries a sequence left open before it
            continue;
        }
        validator.check(a);
        validator.check(b);
        validator.check(c);
        validator.check(d);
        if ((i & 0xFFF) == 0 && validator.failed())
            return false;
    }
    for (; i + 32 <= size; i += 32) {
        validator.check(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i)));
        if ((i & 0xFFF) == 0 && validator.failed())
            return false;
    }
    // The rest, padded with zeros: ASCII, which also ends any sequence left open.
    alignas(32) std::uint8_t tail[32] = {};
    if (size > i)
        std::memcpy(tail, p + i, size - i);
    validator.check(_mm256_load_si256(reinterpret_cast<const __m256i*>(tail)));
    validator.error = _mm256_or_si256(validator.error, validator.previousIncomplete);
    return !validator.failed();
}

} // namespace avx2
#endif

bool isValidUtf8(std::string_view bytes)
{
#if defined(__x86_64__)
    if (hasAvx2())
        return avx2::isValid(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
#endif
    return isValidUtf8Scalar(bytes);
}

bool isValidUtf8Scalar(std::string_view bytes)
{
    const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const size_t size = bytes.size();
    size_t i = 0;
    while (i < size) {
        // Runs of ASCII go by sixteen bytes at a time, straight to the next byte that is not ASCII.
        if (p[i] < 0x80) {
            i = nextNonAscii(p, i, size);
            if (i == size)
                return true;
        }
        const int length = validSequenceLength(p + i, size - i);
        if (length == 0)
            return false;
        i += size_t(length);
    }
    return true;
}

bool isAscii(QStringView text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
}

QString decode(std::string_view bytes, CodePage codePage)
{
    if (codePage == CodePage::Utf8)
        return QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
    QString text(qsizetype(bytes.size()), Qt::Uninitialized);
    QChar* out = text.data();
    for (const char byte : bytes)
        *out++ = QChar(char16_t(windows1250ToUnicode(std::uint8_t(byte))));
    return text;
}

void appendAsUtf8(std::string_view bytes, CodePage codePage, std::string& out)
{
    const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
    if (codePage == CodePage::Utf8 || nextNonAscii(p, 0, bytes.size()) == bytes.size()) {
        out.append(bytes);
        return;
    }
    // At most three bytes each; every sequence is copied whole and the pointer moves on by its length.
    // A piece at a time through a small buffer, so that a long line is neither over-allocated nor
    // cleared first.
    const auto& utf8 = windows1250().utf8;
    constexpr size_t Piece = 1024;
    char converted[3 * Piece];
    for (size_t i = 0; i < bytes.size();) {
        char* to = converted;
        for (const size_t stop = std::min(bytes.size(), i + Piece); i < stop; ++i) {
            const auto& sequence = utf8[std::uint8_t(bytes[i])];
            std::memcpy(to, &sequence[1], 3);
            to += sequence[0];
        }
        out.append(converted, size_t(to - converted));
    }
}

std::optional<std::string> encode(QStringView text, CodePage codePage)
{
    if (codePage == CodePage::Utf8) {
        for (qsizetype i = 0; i < text.size(); ++i) {
            if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
                ++i;
            else if (text[i].isSurrogate())
                return std::nullopt;
        }
        const QByteArray utf8 = text.toUtf8();
        return std::string(utf8.constData(), size_t(utf8.size()));
    }
    std::string bytes;
    bytes.reserve(size_t(text.size()));
    for (const QChar c : text) {
        if (c.unicode() < 0x80) {
            bytes.push_back(char(c.unicode()));
            continue;
        }
        const auto found = std::find(HighHalf.begin(), HighHalf.end(), c.unicode());
        if (found == HighHalf.end())
            return std::nullopt;
        bytes.push_back(char(0x80 + (found - HighHalf.begin())));
    }
    return bytes;
}

std::uint8_t foldWindows1250(std::uint8_t byte)
{
    return windows1250().fold[byte];
}

char32_t foldUnicode(char32_t c)
{
    if (c < 0x80)
        return c >= 'A' && c <= 'Z' ? c + 32 : c;
    const char32_t lower = QChar::toLower(c);
    return utf8Length(lower) == utf8Length(c) ? lower : c;
}

char32_t decodeUtf8(const char* p, int length)
{
    const auto* u = reinterpret_cast<const std::uint8_t*>(p);
    switch (length) {
    case 1:
        return u[0];
    case 2:
        return char32_t(u[0] & 0x1F) << 6 | (u[1] & 0x3F);
    case 3:
        return char32_t(u[0] & 0x0F) << 12 | char32_t(u[1] & 0x3F) << 6 | (u[2] & 0x3F);
    default:
        return char32_t(u[0] & 0x07) << 18 | char32_t(u[1] & 0x3F) << 12 | char32_t(u[2] & 0x3F) << 6 |
               (u[3] & 0x3F);
    }
}

int encodeUtf8(char32_t c, char* out)
{
    if (c < 0x80) {
        out[0] = char(c);
        return 1;
    }
    if (c < 0x800) {
        out[0] = char(0xC0 | (c >> 6));
        out[1] = char(0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000) {
        out[0] = char(0xE0 | (c >> 12));
        out[1] = char(0x80 | ((c >> 6) & 0x3F));
        out[2] = char(0x80 | (c & 0x3F));
        return 3;
    }
    out[0] = char(0xF0 | (c >> 18));
    out[1] = char(0x80 | ((c >> 12) & 0x3F));
    out[2] = char(0x80 | ((c >> 6) & 0x3F));
    out[3] = char(0x80 | (c & 0x3F));
    return 4;
}

std::string foldText(std::string_view text, CodePage codePage)
{
    std::string folded(text);
    if (codePage == CodePage::Windows1250) {
        for (char& byte : folded)
            byte = char(foldWindows1250(std::uint8_t(byte)));
        return folded;
    }
    for (size_t i = 0; i < folded.size();) {
        const int length = utf8SequenceLength(std::uint8_t(folded[i]));
        if (length == 0 || i + size_t(length) > folded.size()) {
            ++i; // not reached for valid text
            continue;
        }
        encodeUtf8(foldUnicode(decodeUtf8(&folded[i], length)), &folded[i]);
        i += size_t(length);
    }
    return folded;
}

} // namespace kelvara
