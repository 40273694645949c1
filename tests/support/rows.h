#pragma once

// Hit-list rows as the engine hands them out, collected for comparison.

#include "platform/rowsink.h"

#include <QStringList>

namespace kelvara::test {

class Rows : public RowSink
{
public:
    void clear() override { rows.clear(); }
    void appendRow(std::string_view utf8) override
    {
        rows.append(QString::fromUtf8(utf8.data(), qsizetype(utf8.size())));
    }
    QStringList rows;
};

// The header block of a file in the hit list.
inline QStringList block(const QString& path)
{
    const QString stars(150, QLatin1Char('*'));
    return {stars, QStringLiteral("**  ") + path + QStringLiteral("  **"), stars};
}

} // namespace kelvara::test
