#pragma once

#include <QString>
#include <QStringList>
#include <QVector>
#include <array>
#include <cstdint>

#include "data/Value.h"
#include "export/Staging.h"
#include "export/WorkbookWriter.h"

namespace marvesa {

class TdmMarvesa;

// The sixteen column headers of the exported worksheet, in column order.
const QStringList& exportHeaders();

// The cells of one staged row, from its sixteen values in the order of
// stagedColumns():
//  - texts as text cells; NULL gives an empty cell;
//  - DATA_NASCITA and DATA_INGRESSO (columns 5 and 14) as date cells holding
//    the date alone, whatever the time of day; NULL gives an empty cell;
//  - TERMINE_ALLOGGIO (column 13) as a text, dd/mm/yyyy followed by the time
//    of day when it is not midnight; NULL gives an empty cell;
//  - NOTE (column 16) empty when NULL or blank text (empty, or beginning with
//    a character below "!", such as a blank or a line break), otherwise the
//    whole note.
// A date column holding something that is not a date-time is written as the
// text it holds rather than lost.
QVector<Cell> exportCells(const std::array<Value, 16>& values);

// Writes the staging table TBL_EXPORT into `writer`: a new workbook, the
// header row, then one row per staged row in the order TBL_EXPORT presents
// its rows (by family code, the members of a family unit in the order they
// were staged). All sixteen values of a row are read before it is written.
// Then TBL_NUCLEO and TBL_ANAGRAFICA go to their first rows, the workbook is
// completed and the path of its file returned. TBL_EXPORT is left at its
// end. Errors are not caught.
QString writeSpreadsheet(TdmMarvesa& dm, WorkbookWriter& writer);

// How long the parts of an export took, in nanoseconds.
struct ExportTimings {
    StagingTimings staging;
    std::int64_t writeNs = 0;  // the spreadsheet, until its file is complete
};

// "Esporta" without its button, its notice and the opening of the file:
// rebuilds the staging table (stageExport) and, when TBL_EXPORT then holds
// at least one row, writes the spreadsheet (writeSpreadsheet).
struct ExportOutcome {
    int staged = 0;  // staging rows posted
    QString file;    // the finished workbook; empty when nothing was staged
};
ExportOutcome runExport(TdmMarvesa& dm, WorkbookWriter& writer, ExportTimings* timings = nullptr);

}  // namespace marvesa
