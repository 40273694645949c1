#pragma once

#include "io/fileselection.h"
#include "io/rowsink.h"
#include "mainstate.h"
#include "searchpass.h"

namespace kelvara {

// Reads the file list again, as long as it fails and `errors` asks for another try.
void rereadFileList(FileSelection& files, FileErrorHandler& errors);

// Searches the selected entries in list order, each until it succeeds or `errors` gives it up.
// `control`: how the pass runs (none: on every core, not stopped).
void searchMarkedFiles(FileSelection& files, const SearchText& search, MainState& state, RowSink& rows,
                       FileErrorHandler& errors, PassControl* control = nullptr);

// "Keres a kiválasztott file-okban" and "Keres az összes file-ban", up to showing the count: both
// set modeMarker to "ak" and hitCount to 0 and fill `rows` afresh.
using SearchCommand = void (*)(FileSelection& files, const SearchText& search, MainState& state,
                               RowSink& rows, FileErrorHandler& errors, PassControl* control);
void searchSelectedFiles(FileSelection& files, const SearchText& search, MainState& state, RowSink& rows,
                         FileErrorHandler& errors, PassControl* control = nullptr);
void searchAllFiles(FileSelection& files, const SearchText& search, MainState& state, RowSink& rows,
                    FileErrorHandler& errors, PassControl* control = nullptr);

} // namespace kelvara
