#pragma once

#include <QByteArray>
#include <QString>

namespace kelvara {

// File names on Linux are bytes, usually but not always UTF-8: names copied from old archives may be
// in a legacy code page. Paths are held as QString with every byte that is not part of valid UTF-8
// kept as a lone surrogate U+DC80..U+DCFF, so that any name converts back to exactly its bytes and
// two names never give one text. Nothing is dropped or normalised, a byte-order mark included.
QString pathFromBytes(const QByteArray& bytes);
QByteArray pathToBytes(const QString& path);

// A path or name as shown in a window: each kept byte becomes U+FFFD.
QString displayPath(const QString& path);

} // namespace kelvara
