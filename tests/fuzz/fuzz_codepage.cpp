// The UTF-8 check (vectorised and scalar) agrees with a plain decoder; Windows-1250 text decodes and
// encodes back byte for byte; case folding keeps every length and is idempotent.

#include "fuzz.h"
#include "platform/codepage.h"

using namespace kelvara;

namespace {

void checkFolding(std::string_view text, CodePage codePage)
{
    const std::string folded = foldText(text, codePage);
    FUZZ_CHECK(folded.size() == text.size());
    FUZZ_CHECK(foldText(folded, codePage) == folded);
    if (codePage == CodePage::Windows1250)
        return;
    // Character for character, in the same places.
    char32_t a, b;
    for (size_t i = 0; i < text.size();) {
        const int n = fuzz::utf8At(text, i, a);
        FUZZ_CHECK(n > 0 && fuzz::utf8At(folded, i, b) == n && b == foldUnicode(a));
        i += size_t(n);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const bool valid = fuzz::isUtf8(input);
    for (size_t skip = 0; skip < 2 && skip <= size; ++skip) { // two alignments of the same bytes
        const std::string_view s = input.substr(skip);
        const bool expected = fuzz::isUtf8(s);
        FUZZ_CHECK(isValidUtf8(s) == expected && isValidUtf8Scalar(s) == expected);
    }
    FUZZ_CHECK(detectCodePage(input) == (valid ? CodePage::Utf8 : CodePage::Windows1250));

    const QString text1250 = decode(input, CodePage::Windows1250);
    FUZZ_CHECK(text1250.size() == qsizetype(size));
    for (size_t i = 0; i < size; ++i) {
        const auto byte = std::uint8_t(input[i]);
        FUZZ_CHECK(text1250[qsizetype(i)].unicode() == windows1250ToUnicode(byte));
        // A letter folds to its lower-case form when the code page has one.
        const QChar lower = text1250[qsizetype(i)].toLower();
        const std::optional<std::string> lowerByte = encode(QStringView(&lower, 1), CodePage::Windows1250);
        FUZZ_CHECK(foldWindows1250(byte) == (lowerByte ? std::uint8_t((*lowerByte)[0]) : byte));
    }
    FUZZ_CHECK(encode(text1250, CodePage::Windows1250) == std::string(input));
    std::string utf8;
    appendAsUtf8(input, CodePage::Windows1250, utf8);
    FUZZ_CHECK(utf8 == text1250.toStdString());
    checkFolding(input, CodePage::Windows1250);

    if (valid) {
        const QString text = decode(input, CodePage::Utf8);
        FUZZ_CHECK(text == QString::fromUtf8(fuzz::bytes(input)));
        FUZZ_CHECK(encode(text, CodePage::Utf8) == std::string(input));
        utf8.clear();
        appendAsUtf8(input, CodePage::Utf8, utf8);
        FUZZ_CHECK(utf8 == input);
        checkFolding(input, CodePage::Utf8);
    }
    return 0;
}
