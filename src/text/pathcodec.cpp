#include "pathcodec.h"

namespace kelvara {

namespace {

constexpr char16_t KeptByteBase = 0xDC00; // byte b (0x80..0xFF) is kept as U+DC00 + b

// Whether path[i] is a kept byte. A character above U+FFFF whose low surrogate falls in the same
// range is not: valid UTF-8 never decodes to a lone high surrogate, so one before it marks a pair.
bool isKeptByte(QStringView path, qsizetype i)
{
    const char16_t c = path[i].unicode();
    return c >= KeptByteBase + 0x80 && c <= KeptByteBase + 0xFF && !(i > 0 && path[i - 1].isHighSurrogate());
}

// The length of the valid UTF-8 sequence at `p` (RFC 3629: no overlongs, no surrogates, at most
// U+10FFFF), or 0 when there is none.
int validSequenceLength(const unsigned char* p, const unsigned char* end)
{
    const unsigned char b = p[0];
    int length;
    unsigned char low = 0x80, high = 0xBF; // allowed range of the second byte
    if (b < 0x80)
        return 1;
    if (b >= 0xC2 && b <= 0xDF)
        length = 2;
    else if (b >= 0xE0 && b <= 0xEF) {
        length = 3;
        if (b == 0xE0)
            low = 0xA0;
        else if (b == 0xED)
            high = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        length = 4;
        if (b == 0xF0)
            low = 0x90;
        else if (b == 0xF4)
            high = 0x8F;
    } else
        return 0;
    if (end - p < length || p[1] < low || p[1] > high)
        return 0;
    for (int i = 2; i < length; ++i) {
        if (p[i] < 0x80 || p[i] > 0xBF)
            return 0;
    }
    return length;
}

} // namespace

QString pathFromBytes(const QByteArray& bytes)
{
    // Decoded here rather than by Qt's UTF-8 decoder, which drops a byte-order mark at the start of
    // what it is given: "\xEF\xBB\xBFdir" would become "dir", another directory. Every valid
    // sequence gives its character, every other byte its kept form; nothing else is dropped or merged.
    QString path(bytes.size(), Qt::Uninitialized); // never more UTF-16 units than bytes
    char16_t* out = reinterpret_cast<char16_t*>(path.data());
    char16_t* const begin = out;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
    const auto* end = p + bytes.size();
    while (p < end) {
        const unsigned char b = *p;
        if (b < 0x80) {
            *out++ = b;
            ++p;
            continue;
        }
        const int length = validSequenceLength(p, end);
        if (length == 0) {
            *out++ = char16_t(KeptByteBase + b);
            ++p;
            continue;
        }
        char32_t c = b & (0x7F >> length);
        for (int i = 1; i < length; ++i)
            c = c << 6 | (p[i] & 0x3F);
        p += length;
        if (c >= 0x10000) {
            *out++ = QChar::highSurrogate(c);
            *out++ = QChar::lowSurrogate(c);
        } else {
            *out++ = char16_t(c);
        }
    }
    path.truncate(out - begin);
    return path;
}

QByteArray pathToBytes(const QString& path)
{
    QByteArray bytes;
    bytes.reserve(path.size() * 3);
    const qsizetype n = path.size();
    for (qsizetype i = 0; i < n; ++i) {
        char32_t c = path[i].unicode();
        if (c < 0x80) {
            bytes += char(c);
            continue;
        }
        if (isKeptByte(path, i)) {
            bytes += char(c - KeptByteBase);
            continue;
        }
        if (QChar::isHighSurrogate(c) && i + 1 < n && path[i + 1].isLowSurrogate())
            c = QChar::surrogateToUcs4(char16_t(c), path[++i].unicode());
        else if (QChar::isSurrogate(c))
            c = QChar::ReplacementCharacter; // a lone one no name decodes to: it has no bytes of its own
        if (c < 0x800) {
            bytes += char(0xC0 | c >> 6);
        } else if (c < 0x10000) {
            bytes += char(0xE0 | c >> 12);
            bytes += char(0x80 | (c >> 6 & 0x3F));
        } else {
            bytes += char(0xF0 | c >> 18);
            bytes += char(0x80 | (c >> 12 & 0x3F));
            bytes += char(0x80 | (c >> 6 & 0x3F));
        }
        bytes += char(0x80 | (c & 0x3F));
    }
    return bytes;
}

QString displayPath(const QString& path)
{
    QString shown = path;
    for (qsizetype i = 0; i < path.size(); ++i) {
        if (isKeptByte(path, i))
            shown[i] = QChar::ReplacementCharacter;
    }
    return shown;
}

} // namespace kelvara
