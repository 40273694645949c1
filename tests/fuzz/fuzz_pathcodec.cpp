// The path codec: every byte string comes back from its text (two names never share one), valid UTF-8
// gives exactly its characters (a byte-order mark too), and any text gives bytes that then stay as they are.

#include "fuzz.h"
#include "text/pathcodec.h"

#include <QStringDecoder>

using namespace kelvara;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString text = pathFromBytes(bytes);
    assert(pathToBytes(text) == bytes);
    // Qt's decoder, told to keep a byte-order mark, as the model of valid UTF-8.
    QStringDecoder strict(QStringDecoder::Utf8,
                          QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    const QString utf8 = strict.decode(bytes);
    assert(strict.hasError() || (text == utf8 && displayPath(text) == text));

    // The same bytes as UTF-16 units: a text no name gives, lone surrogates and all; its bytes are a name.
    QString units(qsizetype(size / 2), Qt::Uninitialized);
    std::memcpy(units.data(), data, size / 2 * 2);
    const QByteArray unitBytes = pathToBytes(units);
    assert(pathToBytes(pathFromBytes(unitBytes)) == unitBytes);
    assert(!unitBytes.contains('/') || units.contains(u'/'));
    return 0;
}
