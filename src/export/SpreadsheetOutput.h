#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>
#include <cstdint>

#include "export/Staging.h"
#include "export/WorkbookWriter.h"

namespace marvesa {

class Engine;
class TdmMarvesa;

// The sixteen column headers of the exported worksheet, in column order.
const QStringList& exportHeaders();

// The cells of one staged row, from its sixteen stored values in the order
// of stagedColumns():
//  - texts as text cells; NULL gives an empty cell;
//  - DATA_NASCITA and DATA_INGRESSO (columns 5 and 14) as date cells holding
//    the date alone, whatever the time of day; NULL gives an empty cell;
//  - TERMINE_ALLOGGIO (column 13) as a text, dd/mm/yyyy followed by the time
//    of day when it is not midnight; NULL gives an empty cell;
//  - NOTE (column 16) empty when NULL or blank text (empty, or beginning with
//    a character below "!", such as a blank or a line break), otherwise the
//    whole note.
// A date column holding something that is not a date-time another tool
// wrote ('31/02/2020', 'abc', 19800512, '0000-00-00T00:00:00') is written
// as a text cell holding what is stored (the empty text as an empty cell),
// rather than stopping the export or being lost. Date-times arrive as the
// stored text (yyyy-mm-ddThh:mm:ss) or as QDateTime, depending on the engine.
QVector<Cell> exportCells(const QVector<QVariant>& stored);

// How long the parts of an export took, in nanoseconds.
struct ExportTimings {
    std::int64_t planNs = 0;    // the staging rows counted
    std::int64_t readNs = 0;    // the rows read and handed to the workbook
    StagingTimings staging;     // the staging table emptied and filled (the
                                // workbook meanwhile completed on its thread)
    std::int64_t commitNs = 0;  // the transaction committed
    std::int64_t totalNs = 0;   // until the workbook is complete
};

// "Esporta" without its button, its notice and the opening of the file, in
// one write transaction of the database taken at the start:
//  1. pending edits of TBL_NUCLEO and TBL_ANAGRAFICA are ended (stored on
//     their own, before the transaction);
//  2. the staging rows are counted (planStaging);
//  3. they are read in the spreadsheet's order (stagingRowsInSheetOrderSql:
//     by family code, then staging order) and handed to the workbook, which
//     `writer` composes on a second thread -- a header row, then one row per
//     staging row (exportCells); a number of rows other than counted is an
//     error;
//  4. the staging table is emptied and filled with the same rows
//     (fillStagingTable) while the workbook is completed;
//  5. once every row has reached the workbook, the transaction is
//     committed -- before anyone can get the file -- and the file waited
//     for;
//  6. TBL_NUCLEO and TBL_ANAGRAFICA are put on their first rows.
// An error or a stop before 5 rolls everything back: the staging table is
// exactly as before and no file is left. An error completing the workbook
// after 5 leaves the staging table rebuilt, and no file. A second export of
// the same database (another copy of the program) waits for this one to
// end before its step 2.
struct ExportOutcome {
    std::int64_t staged = 0;  // staging rows stored
    QString file;             // the finished workbook; empty when nothing was staged
    bool cancelled = false;   // stopped through ExportProgress: nothing changed
};
ExportOutcome runExport(TdmMarvesa& dm, WorkbookWriter& writer, ExportTimings* timings = nullptr,
                        ExportProgress* progress = nullptr);

}  // namespace marvesa
