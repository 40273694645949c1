#include "pathcodec.h"

#include "codepage.h"

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

} // namespace

QString pathFromBytes(const QByteArray& bytes)
{
    // Decoded here rather than by Qt's UTF-8 decoder, which drops a byte-order mark at the start of
    // what it is given: "\xEF\xBB\xBFdir" would become "dir", another directory. Every valid
    // sequence gives its character, every other byte its kept form; nothing else is dropped or merged.
    QString path(bytes.size(), Qt::Uninitialized); // never more UTF-16 units than bytes
    char16_t* out = reinterpret_cast<char16_t*>(path.data());
    char16_t* const begin = out;
    const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.constData());
    const auto* end = p + bytes.size();
    while (p < end) {
        if (*p < 0x80) { // most names are ASCII, byte for byte
            *out++ = *p++;
            continue;
        }
        const int length = validSequenceLength(p, size_t(end - p));
        if (length == 0) {
            *out++ = char16_t(KeptByteBase + *p++);
            continue;
        }
        const char32_t c = decodeUtf8(reinterpret_cast<const char*>(p), length);
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
        if (isKeptByte(path, i)) {
            bytes += char(c - KeptByteBase);
            continue;
        }
        if (QChar::isHighSurrogate(c) && i + 1 < n && path[i + 1].isLowSurrogate())
            c = QChar::surrogateToUcs4(char16_t(c), path[++i].unicode());
        else if (QChar::isSurrogate(c))
            c = QChar::ReplacementCharacter; // a lone one no name decodes to: it has no bytes of its own
        char utf8[4];
        bytes.append(utf8, encodeUtf8(c, utf8));
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
