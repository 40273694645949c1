#pragma once

#include <QFile>
#include <QTest>

namespace kelvara::test {

// Creates an empty file.
inline void touch(const QString& path)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
}

} // namespace kelvara::test
