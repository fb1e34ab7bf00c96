#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <vector>

namespace marvesa {

class Engine;
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
    std::int64_t emptyNs = 0;  // the old staging rows deleted
    std::int64_t stageNs = 0;  // the new staging rows counted and inserted
};

// Told how far a long export has come; may stop it.
class ExportProgress {
public:
    enum class Phase {
        Staging,  // rows put into the staging table
        Writing,  // rows written into the spreadsheet
    };
    virtual ~ExportProgress() = default;
    // `done` rows of `total` in `phase` so far. Returns false when the
    // operator asked to stop: the export then undoes everything it did.
    virtual bool advance(Phase phase, std::int64_t done, std::int64_t total) = 0;
};

// Ends a pending edit of TBL_NUCLEO and TBL_ANAGRAFICA (posted when changed,
// abandoned otherwise), as moving them to their first rows would, so that
// the export sees what the operator typed, stored on its own before the
// export begins.
void endPendingEdits(TdmMarvesa& dm);

// The staging rows are exactly those this walk of the two table cursors
// stores:
//   for each family unit, in counter order (ID_NUCLEO), all members that
//   carry its CODICE_NUCLEO (same code units; NULL matches nothing), in
//   counter order (ID_ANAGRAFICA) -- except when the family unit's code is
//   NULL, or equals the code of the family unit just before it: the member
//   table, which follows the family unit only when its code changes, then
//   stands at its end, and the family unit contributes nothing.
// Each row holds the sixteen columns of stagedColumns(), copied as stored
// (NULL stays NULL, odd values stay as they are). The work is done by a few
// set-based statements, in slices of family units so that progress can be
// told and the work stopped between them.

// A range of family-unit counters, (after, upTo], and the rows it stages.
struct StagingSlice {
    std::int64_t after = 0;
    std::int64_t upTo = 0;
    std::int64_t rows = 0;
};

// The staging rows to come, counted, and cut into slices of about
// `sliceRows` rows each.
constexpr std::int64_t kStagingSliceRows = 25000;
struct StagingPlan {
    std::int64_t total = 0;
    std::vector<StagingSlice> slices;
};
StagingPlan planStaging(Engine& engine, std::int64_t sliceRows = kStagingSliceRows);

// Empties TBL_EXPORT and fills it with the rows of `plan`, in staging order
// (ID_ANAGRAFICA is given by the database in that order); must run inside a
// write transaction of `engine` (Engine::beginWrite), taken before the plan
// was made. Returns the number of rows staged, or -1 when `progress` asked
// to stop (the caller then rolls the transaction back). Errors are thrown.
std::int64_t fillStagingTable(Engine& engine, const StagingPlan& plan,
                              ExportProgress* progress = nullptr,
                              StagingTimings* timings = nullptr);

// planStaging and fillStagingTable in one.
std::int64_t rebuildStagingTable(Engine& engine, ExportProgress* progress = nullptr,
                                 StagingTimings* timings = nullptr,
                                 std::int64_t sliceRows = kStagingSliceRows);

// A query giving the sixteen columns of the staging rows -- the very rows
// fillStagingTable stores -- in the order the spreadsheet shows them, which
// is the order of the staging table's index: by family code, and within one
// code in staging order. Read in the same transaction as the staging, it
// lets the spreadsheet be written while the staging table is filled.
QString stagingRowsInSheetOrderSql();

// The staging rebuild on its own: ends pending edits, rebuilds TBL_EXPORT in
// one write transaction of its own (committed when complete, rolled back on
// an error or a stop: the staging table is then exactly as before), then
// puts TBL_NUCLEO and TBL_ANAGRAFICA on their first rows. Returns the rows
// staged, -1 when stopped.
std::int64_t stageExport(TdmMarvesa& dm, StagingTimings* timings = nullptr,
                         ExportProgress* progress = nullptr);

}  // namespace marvesa
