// The UTF-8 check (vectorised and scalar) agrees with a plain decoder; Windows-1250 text decodes and
// encodes back byte for byte; case folding keeps every length and is idempotent.

#include "fuzz.h"
#include "platform/codepage.h"

using namespace kelvara;

namespace {

void checkFolding(std::string_view text, CodePage codePage)
{
    const std::string folded = foldText(text, codePage);
    assert(folded.size() == text.size() && foldText(folded, codePage) == folded);
    // In UTF-8, character for character in the same places.
    char32_t a, b;
    for (size_t i = 0, n; codePage == CodePage::Utf8 && i < text.size(); i += n) {
        n = size_t(fuzz::utf8At(text, i, a));
        assert(n > 0 && size_t(fuzz::utf8At(folded, i, b)) == n && b == foldUnicode(a));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const bool valid = fuzz::isUtf8(input);
    for (size_t skip = 0; skip < 2 && skip <= size; ++skip) { // two alignments of the same bytes
        const bool expected = fuzz::isUtf8(input.substr(skip));
        assert(isValidUtf8(input.substr(skip)) == expected &&
               isValidUtf8Scalar(input.substr(skip)) == expected);
    }
    assert(detectCodePage(input) == (valid ? CodePage::Utf8 : CodePage::Windows1250));

    const QString text1250 = decode(input, CodePage::Windows1250);
    assert(text1250.size() == qsizetype(size));
    for (size_t i = 0; i < size; ++i) {
        const auto byte = std::uint8_t(input[i]);
        assert(text1250[qsizetype(i)].unicode() == windows1250ToUnicode(byte));
        // A letter folds to its lower-case form when the code page has one.
        const QChar lower = text1250[qsizetype(i)].toLower();
        const std::optional<std::string> lowerByte = encode(QStringView(&lower, 1), CodePage::Windows1250);
        assert(foldWindows1250(byte) == (lowerByte ? std::uint8_t((*lowerByte)[0]) : byte));
    }
    assert(encode(text1250, CodePage::Windows1250) == std::string(input));
    std::string utf8;
    appendAsUtf8(input, CodePage::Windows1250, utf8);
    assert(utf8 == text1250.toStdString());
    checkFolding(input, CodePage::Windows1250);

    if (valid) {
        const QString text = decode(input, CodePage::Utf8);
        assert(text == QString::fromUtf8(fuzz::bytes(input)) &&
               encode(text, CodePage::Utf8) == std::string(input));
        utf8.clear();
        appendAsUtf8(input, CodePage::Utf8, utf8);
        assert(utf8 == input);
        checkFolding(input, CodePage::Utf8);
    }
    return 0;
}
