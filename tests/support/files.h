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

// Creates or overwrites a file with exactly these bytes.
inline void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    QCOMPARE(file.write(bytes), bytes.size());
}

} // namespace kelvara::test
