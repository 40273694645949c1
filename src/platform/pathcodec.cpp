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
    // Nearly every name is valid UTF-8, and then it converts in one call.
    if (isValidUtf8Scalar(std::string_view(bytes.constData(), size_t(bytes.size()))))
        return QString::fromUtf8(bytes);
    QString path;
    path.reserve(bytes.size());
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
    const auto* end = p + bytes.size();
    while (p < end) {
        const int length = validSequenceLength(p, end);
        if (length == 0) {
            path += QChar(char16_t(KeptByteBase + *p));
            ++p;
        } else {
            path += QString::fromUtf8(reinterpret_cast<const char*>(p), length);
            p += length;
        }
    }
    return path;
}

QByteArray pathToBytes(const QString& path)
{
    QByteArray bytes;
    bytes.reserve(path.size());
    qsizetype from = 0; // start of the run of ordinary text not yet converted
    for (qsizetype i = 0; i < path.size(); ++i) {
        if (isKeptByte(path, i)) {
            bytes += QStringView(path).sliced(from, i - from).toUtf8();
            bytes += char(path[i].unicode() - KeptByteBase);
            from = i + 1;
        }
    }
    bytes += QStringView(path).sliced(from).toUtf8();
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
