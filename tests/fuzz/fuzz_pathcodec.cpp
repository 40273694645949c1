// Every byte string is a path that converts back to exactly its bytes, valid UTF-8 as its characters
// and every other byte as a lone surrogate; its display is valid UTF-16 that differs only there.

#include "fuzz.h"
#include "platform/pathcodec.h"

#include <cstring>

using namespace kelvara;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const QString path = pathFromBytes(fuzz::bytes(input));
    assert(pathToBytes(path) == fuzz::bytes(input));

    QString expected;
    char32_t cp;
    for (size_t i = 0, n; i < input.size(); i += std::max<size_t>(n, 1)) {
        n = size_t(fuzz::utf8At(input, i, cp));
        expected += n > 0 ? QString::fromUcs4(&cp, 1) : QChar(char16_t(0xDC00 + std::uint8_t(input[i])));
    }
    assert(path == expected);

    const QString shown = displayPath(path);
    assert(shown.size() == path.size() && shown.isValidUtf16());
    for (qsizetype i = 0; i < path.size(); ++i)
        assert(shown[i] == path[i] || (shown[i] == QChar::ReplacementCharacter && path[i].isLowSurrogate()));

    // Any UTF-16, paired or not, converts to some bytes without harm.
    QString units(qsizetype(size / 2), Qt::Uninitialized);
    std::memcpy(units.data(), data, size_t(units.size()) * 2);
    pathToBytes(units);
    displayPath(units);
    return 0;
}
