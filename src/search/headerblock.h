#pragma once

#include "io/rowsink.h"
#include "mainstate.h"

namespace kelvara {

constexpr int StarRowLength = 150;

// Appends the three rows that open a file in a hit list: a row of 150 asterisks, "**  " + path +
// "  **", and the asterisks again. The path is filePath after a search (modeMarker "ak") and
// outFilePath otherwise. starRow stays empty.
void appendHeaderBlock(MainState& state, RowSink& rows);
// The same block naming `path`.
void appendHeaderBlock(RowSink& rows, const QString& path);

} // namespace kelvara
