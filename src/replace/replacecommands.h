#pragma once

#include "io/fileselection.h"
#include "io/rowsink.h"
#include "replacepass.h"
#include "search/mainstate.h"

namespace kelvara {

// What a replace command did: whether it started at all (it refuses an empty search text and
// changes nothing then), and how many lines it rewrote.
struct ReplaceSummary
{
    bool started = false;
    qint64 rewrittenLines = 0;
};

// The four replace commands of the main window, up to hiding the count labels. Each writes its copies into
// the subdirectory uj of the file list's directory, making it first when it is missing, and appends a header
// block and the rewritten rows of every file it processes to `rows`. `control` tells how the pass runs (none:
// on every core, not stopped); copies are flushed to the disk before a command that was not stopped returns.

// "Cserél a teljes file-ban": the current entry of the list; none when there is no current entry.
ReplaceSummary replaceInCurrentFile(FileSelection& files, const ReplaceText& text, MainState& state,
                                    RowSink& rows, ReplaceErrors& errors, PassControl* control = nullptr);
// "Cserél az összes file-ban": reads the list again and selects and processes each entry in turn.
ReplaceSummary replaceInAllFiles(FileSelection& files, const ReplaceText& text, MainState& state,
                                 RowSink& rows, ReplaceErrors& errors, PassControl* control = nullptr);
// "Cserél a kiválasztott file-okban": the selected entries, in list order. When entry 0 is selected
// and the list has two or more entries, the list is read again and only entry 0 selected first.
ReplaceSummary replaceInSelectedFiles(FileSelection& files, const ReplaceText& text, MainState& state,
                                      RowSink& rows, ReplaceErrors& errors, PassControl* control = nullptr);
// "Cserél a kiválasztott sorban": the selected entries, rewriting only the lines equal to
// `selectedRow`. Sets modeMarker to "ujak"; `rows` keeps what it holds.
ReplaceSummary replaceInSelectedLine(FileSelection& files, const ReplaceText& text,
                                     const QString& selectedRow, MainState& state, RowSink& rows,
                                     ReplaceErrors& errors, PassControl* control = nullptr);

// The selected entries in list order, without a selection rule and without clearing `rows`.
ReplaceSummary replaceMarkedFiles(FileSelection& files, const ReplaceText& text, MainState& state,
                                  RowSink& rows, ReplaceErrors& errors, PassControl* control = nullptr);

} // namespace kelvara
