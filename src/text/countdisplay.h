#pragma once

#include <QString>

namespace kelvara {

// A number in decimal after one character for its sign: a blank when it is not negative (12 → " 12").
inline QString countDisplay(qint64 n)
{
    return n < 0 ? QString::number(n) : QLatin1Char(' ') + QString::number(n);
}

} // namespace kelvara
