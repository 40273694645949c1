#include "headerblock.h"

#include "platform/pathcodec.h"

namespace kelvara {

void appendHeaderBlock(MainState& state, RowSink& rows)
{
    appendHeaderBlock(state, rows,
                      state.modeMarker == QLatin1String("ak") ? state.filePath : state.outFilePath);
}

void appendHeaderBlock(MainState& state, RowSink& rows, const QString& path)
{
    for (int i = 1; i <= StarRowLength; ++i)
        state.starRow += QLatin1Char('*');
    const QByteArray stars = state.starRow.toUtf8();
    rows.appendRow(std::string_view(stars.constData(), size_t(stars.size())));
    const QByteArray header = (QLatin1String("**  ") + displayPath(path) + QLatin1String("  **")).toUtf8();
    rows.appendRow(std::string_view(header.constData(), size_t(header.size())));
    rows.appendRow(std::string_view(stars.constData(), size_t(stars.size())));
    state.starRow.clear();
}

} // namespace kelvara
