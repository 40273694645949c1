#include "headerblock.h"

#include "text/pathcodec.h"

#include <QStringBuilder>
#include <string>

namespace kelvara {

void appendHeaderBlock(MainState& state, RowSink& rows)
{
    appendHeaderBlock(rows, state.modeMarker == QLatin1String("ak") ? state.filePath : state.outFilePath);
}

void appendHeaderBlock(RowSink& rows, const QString& path)
{
    // The same row for every file, so it is made once.
    static const std::string stars(StarRowLength, '*');
    rows.appendRow(stars);
    const QByteArray header = "**  " % displayPath(path).toUtf8() % "  **";
    rows.appendRow(std::string_view(header.constData(), size_t(header.size())));
    rows.appendRow(stars);
}

} // namespace kelvara
