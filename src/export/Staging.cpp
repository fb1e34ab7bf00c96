#include "export/Staging.h"

#include <QElapsedTimer>
#include <QStringList>
#include <utility>
#include <vector>

#include "data/registry/DataModule.h"
#include "data/sql/Engine.h"
#include "data/sql/WriteTransaction.h"

namespace marvesa {

namespace {

const QString kStagingTable = QStringLiteral("TBL_EXPORT");

QString quoted(const QString& name) {
    return QLatin1Char('"') + name + QLatin1Char('"');
}

// The family units that stage their members, with the host columns the
// staging takes from them: a family unit stages when its code is not NULL
// and differs from the code of the family unit before it in counter order
// (the member table follows the family unit only when the code changes).
// Joined with the members carrying the code ("a"), it gives the staging rows.
//
// With `range`, only the family units whose counters lie in [?, ?] are
// looked at, and the first of them serves only as the one before the
// second: the caller excludes it. A range is contiguous in counter order,
// so every other family unit in it sees its true predecessor.
QString stagingSource(bool range) {
    QStringList familyColumns{quoted(QStringLiteral("ID_NUCLEO"))};
    for (const StagedColumn& c : stagedColumns()) {
        if (c.source == StagingSource::FamilyUnit)
            familyColumns << quoted(c.name);
    }
    return QStringLiteral(
               " FROM (SELECT %1, LAG(\"CODICE_NUCLEO\") OVER (ORDER BY \"ID_NUCLEO\") "
               "AS \"CODICE_PRECEDENTE\" FROM \"TBL_NUCLEO\"%2) n"
               " JOIN \"TBL_ANAGRAFICA\" a ON a.\"CODICE_NUCLEO\" = n.\"CODICE_NUCLEO\""
               " WHERE (n.\"CODICE_PRECEDENTE\" IS NULL"
               " OR n.\"CODICE_PRECEDENTE\" <> n.\"CODICE_NUCLEO\")")
        .arg(
            familyColumns.join(QStringLiteral(", ")),
            range ? QStringLiteral(" WHERE \"ID_NUCLEO\" >= ? AND \"ID_NUCLEO\" <= ?") : QString());
}

// How many rows each staging family unit gives, in counter order.
QString planSql() {
    return QStringLiteral("SELECT n.\"ID_NUCLEO\", count(*)") + stagingSource(false) +
           QStringLiteral(" GROUP BY n.\"ID_NUCLEO\" ORDER BY n.\"ID_NUCLEO\"");
}

// Stages the family units whose counter lies in (after, upTo], in walk
// order; bound: after, upTo, after, upTo.
QString insertSql() {
    QStringList targets, values;
    for (const StagedColumn& c : stagedColumns()) {
        targets << quoted(c.name);
        values << (c.source == StagingSource::FamilyUnit ? QStringLiteral("n.")
                                                         : QStringLiteral("a.")) +
                      quoted(c.name);
    }
    return QStringLiteral("INSERT INTO \"TBL_EXPORT\" (%1) SELECT %2")
               .arg(targets.join(QStringLiteral(", ")), values.join(QStringLiteral(", "))) +
           stagingSource(true) +
           QStringLiteral(
               " AND n.\"ID_NUCLEO\" > ? AND n.\"ID_NUCLEO\" <= ?"
               " ORDER BY n.\"ID_NUCLEO\", a.\"ID_ANAGRAFICA\"");
}

}  // namespace

const std::array<StagedColumn, 16>& stagedColumns() {
    using S = StagingSource;
    static const std::array<StagedColumn, 16> columns{{
        {QStringLiteral("CODICE_NUCLEO"), S::FamilyUnit},
        {QStringLiteral("COGNOME"), S::Member},
        {QStringLiteral("NOME"), S::Member},
        {QStringLiteral("SESSO"), S::Member},
        {QStringLiteral("DATA_NASCITA"), S::Member},
        {QStringLiteral("NAZIONE_NASCITA"), S::Member},
        {QStringLiteral("CITTADINANZA"), S::Member},
        {QStringLiteral("GRADO_PARENTELA"), S::Member},
        {QStringLiteral("COMUNE"), S::FamilyUnit},
        {QStringLiteral("INDIRIZZO"), S::FamilyUnit},
        {QStringLiteral("NOME_OSPITANTE"), S::FamilyUnit},
        {QStringLiteral("TELEFONO"), S::FamilyUnit},
        {QStringLiteral("TERMINE_ALLOGGIO"), S::FamilyUnit},
        {QStringLiteral("DATA_INGRESSO"), S::Member},
        {QStringLiteral("FRONTIERA"), S::Member},
        {QStringLiteral("NOTE"), S::Member},
    }};
    return columns;
}

void endPendingEdits(TdmMarvesa& dm) {
    // The family-unit table ends the member table's pending edit first.
    dm.TBL_NUCLEO.checkBrowseMode();
    dm.TBL_ANAGRAFICA.checkBrowseMode();
}

StagingPlan planStaging(Engine& engine, std::int64_t sliceRows) {
    StagingPlan plan;
    StagingSlice current{0, 0, 0};
    bool first = true;
    engine.select(planSql(), {}, [&](const QVector<QVariant>& row) {
        const qint64 id = row.at(0).toLongLong();
        const std::int64_t rows = row.at(1).toLongLong();
        if (first) {
            // The first family unit that stages is known to stage: it needs
            // no predecessor.
            current.after = id - 1;
            first = false;
        }
        current.upTo = id;
        current.rows += rows;
        plan.total += rows;
        if (current.rows >= sliceRows) {
            plan.slices.push_back(current);
            current = StagingSlice{id, id, 0};
        }
        return true;
    });
    if (current.rows > 0)
        plan.slices.push_back(current);
    return plan;
}

std::int64_t fillStagingTable(Engine& engine, const StagingPlan& plan, ExportProgress* progress,
                              StagingTimings* timings) {
    QElapsedTimer clock;
    clock.start();
    engine.exec(QStringLiteral("DELETE FROM \"TBL_EXPORT\""));
    if (timings)
        timings->emptyNs = clock.nsecsElapsed();

    std::int64_t staged = 0;
    if (progress && !progress->advance(ExportProgress::Phase::Staging, 0, plan.total))
        return -1;
    const QString insert = insertSql();
    for (const StagingSlice& s : plan.slices) {
        const qint64 inserted =
            engine.exec(insert, {QVariant(qint64(s.after)), QVariant(qint64(s.upTo)),
                                 QVariant(qint64(s.after)), QVariant(qint64(s.upTo))});
        staged += inserted >= 0 ? inserted : s.rows;
        if (progress && !progress->advance(ExportProgress::Phase::Staging, staged, plan.total))
            return -1;
    }
    if (timings)
        timings->stageNs = clock.nsecsElapsed() - timings->emptyNs;
    return staged;
}

std::int64_t rebuildStagingTable(Engine& engine, ExportProgress* progress, StagingTimings* timings,
                                 std::int64_t sliceRows) {
    return fillStagingTable(engine, planStaging(engine, sliceRows), progress, timings);
}

QString stagingRowsInSheetOrderSql() {
    QStringList values;
    for (const StagedColumn& c : stagedColumns()) {
        values << (c.source == StagingSource::FamilyUnit ? QStringLiteral("n.")
                                                         : QStringLiteral("a.")) +
                      quoted(c.name);
    }
    return QStringLiteral("SELECT ") + values.join(QStringLiteral(", ")) + stagingSource(false) +
           QStringLiteral(" ORDER BY n.\"CODICE_NUCLEO\", n.\"ID_NUCLEO\", a.\"ID_ANAGRAFICA\"");
}

std::int64_t stageExport(TdmMarvesa& dm, StagingTimings* timings, ExportProgress* progress) {
    endPendingEdits(dm);
    Engine& engine = dm.cnQuaz.engine();
    std::int64_t staged = 0;
    {
        WriteTransaction transaction(engine, kStagingTable);
        staged = rebuildStagingTable(engine, progress, timings);
        if (staged >= 0)
            transaction.commit();
    }
    dm.TBL_NUCLEO.first();
    dm.TBL_ANAGRAFICA.first();
    return staged;
}

}  // namespace marvesa
