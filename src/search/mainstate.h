#pragma once

#include <QString>

namespace kelvara {

// The main window's state that the search and replace commands read and write while they run, and
// that stays between commands. Lengths and counters are 64-bit, so lines, texts and hit counts of
// any size work.
struct MainState
{
    QString filePath;    // the input file being read
    QString outFilePath; // its output file in the uj subdirectory
    QString outDirPath;  // the output directory
    QString lineText;    // the line read last
    QString matchWindow; // the part of the line under comparison during a replacement
    QString modeMarker;  // "ak" after a search, "ujak" after a replace in the selected line
    qint64 hitCount = 0;
    qint64 searchLen = 0;
    qint64 replaceLen = 0;
    qint64 lineLen = 0;
    qint64 prefixLen = 0;
    QString starRow; // working buffer of the header block, empty between calls
};

} // namespace kelvara
