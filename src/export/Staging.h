#pragma once

#include <QString>
#include <array>
#include <cstdint>

namespace marvesa {

class TdmMarvesa;

// Where a staged column is taken from.
enum class StagingSource { FamilyUnit, Member };

struct StagedColumn {
    QString name;          // the same name in TBL_EXPORT and in the source table
    StagingSource source;  // TBL_NUCLEO or TBL_ANAGRAFICA
};

// The sixteen columns of a staging row, in the order they are filled and
// written to the spreadsheet.
const std::array<StagedColumn, 16>& stagedColumns();

// How long the parts of a staging run took, in nanoseconds.
struct StagingTimings {
    std::int64_t reopenNs = 0;  // TBL_EXPORT closed and opened again
    std::int64_t emptyNs = 0;   // the old staging rows deleted one by one
    std::int64_t stageNs = 0;   // the walk, one insert and post per member
};

// Rebuilds the staging table TBL_EXPORT through the table cursors:
//  1. TBL_EXPORT is closed and opened again, so that it holds what the
//     database holds now (rows written by anyone else included);
//  2. its rows are deleted one at a time, first row until the end;
//  3. TBL_NUCLEO and then TBL_ANAGRAFICA go to their first rows;
//  4. every family unit is walked and, through the member table that follows
//     it, each of its members: when the member's CODICE_NUCLEO equals the
//     family unit's (same UTF-16 code units; NULL equals only NULL), a new
//     staging row receives the sixteen columns of stagedColumns(), each
//     value copied as stored (NULL stays NULL), and is posted;
//  5. TBL_NUCLEO and then TBL_ANAGRAFICA go back to their first rows.
// Returns the number of staging rows posted.
//
// Every delete and every post is stored on its own, no transaction groups
// them. The staging table can always be rebuilt, so while it is emptied and
// filled the database does not wait for the disk at each commit; normal
// durability is restored afterwards, also when an error ends the rebuild.
//
// Nothing is caught: an error of the data layer or of the database ends the
// rebuild where it happened, leaving the staging table partly emptied or
// filled and the two tables on the rows reached.
int stageExport(TdmMarvesa& dm, StagingTimings* timings = nullptr);

}  // namespace marvesa
