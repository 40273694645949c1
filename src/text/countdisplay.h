#pragma once

#include <QString>

namespace kelvara {

// A number in decimal after one character for its sign: a blank when it is not negative (12 → " 12").
inline QString countDisplay(qint64 n)
{
    return n < 0 ? QString::number(n) : QLatin1Char(' ') + QString::number(n);
}

// A count in groups of three digits, as the progress of a command writes it: 100000 → "100 000".
inline QString groupedCount(qint64 n)
{
    QString digits = QString::number(n < 0 ? -n : n);
    for (qsizetype k = digits.size() - 3; k > 0; k -= 3)
        digits.insert(k, QLatin1Char(' '));
    return n < 0 ? QLatin1Char('-') + digits : digits;
}

} // namespace kelvara
