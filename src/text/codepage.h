#pragma once

#include <QString>
#include <QStringView>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kelvara {

// The code page of a text file. A file whose bytes are all valid UTF-8 is UTF-8 (the system's own);
// any other file is Windows-1250, the 8-bit Central European code page of old Hungarian text files.
// Its five unassigned bytes decode to the C1 controls of the same value, so every byte of every file
// decodes and encodes back unchanged.
enum class CodePage { Utf8, Windows1250 };

// Well-formed UTF-8 (RFC 3629): no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(std::string_view bytes);
// The same, a byte at a time, for processors without AVX2.
bool isValidUtf8Scalar(std::string_view bytes);
// An ASCII text is written the same in both code pages.
bool isAscii(QStringView text);

QString decode(std::string_view bytes, CodePage codePage);
// Appends `bytes` (text in `codePage`) to `out` as UTF-8.
void appendAsUtf8(std::string_view bytes, CodePage codePage, std::string& out);
// The text in `codePage`, or nothing when a character of it has no place there (or, for UTF-8, the
// text holds a lone surrogate).
std::optional<std::string> encode(QStringView text, CodePage codePage);

// Case folding for comparisons: every upper-case letter becomes its lower-case form and no encoded
// length changes. Windows-1250 by its own letters (Á→á, Ő→ő, Š→š, Ł→ł, …).
std::uint8_t foldWindows1250(std::uint8_t byte);
// UTF-8 by the simple Unicode lower-case mapping, wherever the lower-case form has the same encoded
// length (so 'İ' and the Kelvin sign stay as they are).
char32_t foldUnicode(char32_t c);
// Folds every character of `text`, which must be valid in `codePage`.
std::string foldText(std::string_view text, CodePage codePage);

// Length of the UTF-8 sequence that `lead` starts, 0 for a continuation or invalid byte.
inline int utf8SequenceLength(std::uint8_t lead)
{
    if (lead < 0x80)
        return 1;
    if (lead < 0xC2)
        return 0;
    if (lead < 0xE0)
        return 2;
    if (lead < 0xF0)
        return 3;
    return lead < 0xF5 ? 4 : 0;
}
// Length of the well-formed sequence at `p`, which has `available` bytes, or 0 when there is none.
inline int validSequenceLength(const std::uint8_t* p, size_t available)
{
    const std::uint8_t lead = p[0];
    const int length = utf8SequenceLength(lead);
    if (length < 2)
        return length;
    if (size_t(length) > available)
        return 0;
    // The second byte's range rules out overlongs (E0, F0), surrogates (ED) and > U+10FFFF (F4).
    const std::uint8_t low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
    const std::uint8_t high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
    if (p[1] < low || p[1] > high)
        return 0;
    for (int k = 2; k < length; ++k)
        if ((p[k] & 0xC0) != 0x80)
            return 0;
    return length;
}
// Decodes the valid sequence at `p` of `length` bytes / encodes `c` into `out` (room for 4 bytes).
char32_t decodeUtf8(const char* p, int length);
int encodeUtf8(char32_t c, char* out);

} // namespace kelvara
