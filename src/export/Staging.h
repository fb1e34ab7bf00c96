#pragma once

#include <QString>
#include <array>
#include <cstdint>

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

// Empties the staging table TBL_EXPORT and fills it again with one row per
// member of every family unit; must run inside a write transaction of
// `engine` (Engine::beginWrite). The rows are exactly those this walk would
// store:
//   for each family unit, in counter order (ID_NUCLEO), all members that
//   carry its CODICE_NUCLEO (same code units; NULL matches nothing), in
//   counter order (ID_ANAGRAFICA) -- except when the family unit's code is
//   NULL, or equals the code of the family unit just before it: the member
//   table, which follows the family unit only when its code changes, then
//   stands at its end, and the family unit contributes nothing.
// Each row receives the sixteen columns of stagedColumns(), copied as stored
// (NULL stays NULL, odd values stay as they are); ID_ANAGRAFICA is given by
// the database in staging order. The work is done by a few set-based
// statements, in slices of family units so that `progress` can be told and
// can stop it.
//
// Returns the number of rows staged, or -1 when `progress` asked to stop
// (the caller then rolls the transaction back). Errors are thrown.
//
// `sliceRows`: about how many rows one statement stages.
constexpr std::int64_t kStagingSliceRows = 25000;
std::int64_t rebuildStagingTable(Engine& engine, ExportProgress* progress = nullptr,
                                 StagingTimings* timings = nullptr,
                                 std::int64_t sliceRows = kStagingSliceRows);

// The staging rebuild on its own: ends pending edits, rebuilds TBL_EXPORT in
// one write transaction of its own (committed when complete, rolled back on
// an error or a stop: the staging table is then exactly as before), then
// puts TBL_NUCLEO and TBL_ANAGRAFICA on their first rows. Returns the rows
// staged, -1 when stopped.
std::int64_t stageExport(TdmMarvesa& dm, StagingTimings* timings = nullptr,
                         ExportProgress* progress = nullptr);

// A write transaction that is rolled back unless committed.
class WriteTransaction {
public:
    WriteTransaction(Engine& engine, const QString& lockTable);
    ~WriteTransaction();
    WriteTransaction(const WriteTransaction&) = delete;
    WriteTransaction& operator=(const WriteTransaction&) = delete;

    void commit();
    void rollback();

private:
    Engine* m_engine;
};

}  // namespace marvesa
