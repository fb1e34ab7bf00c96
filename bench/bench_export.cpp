// bench_export: times "Esporta" on a large database, from the staging table
// emptied to the finished spreadsheet file, and reports the peak memory.
//
//   bench_export [--families N] [--members M] [--runs R] [--keep DIR] [--no-floor]
//
// Defaults: 30000 family units, 100000 members, one run. The database is
// filled by plain SQL in one transaction, with M rows already in the staging
// table as an earlier export would have left them; the data module then opens
// it as the program does at start-up. Each run is the whole export: the
// staging table closed and opened again, emptied one delete at a time, filled
// one insert and post per member, then the workbook written and turned into a
// template. With --keep the database and the workbooks stay in DIR.
//
// Prints the split of each run (reopening, emptying, filling, spreadsheet),
// its processor time, and the figures with their targets; the exit status is
// 1 when a target is missed.
//
// Then, unless --no-floor is given, the floor under the first two parts: the
// same deletes and inserts as bare prepared statements on the same file and
// with the same settings as the export (no table cursors, no walk, no
// spreadsheet), first each stored on its own as the export stores them, then
// all of them in one transaction for comparison.

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextStream>
#include <memory>

#include "data/DataModule.h"
#include "data/Error.h"
#include "data/Schema.h"
#include "data/SqliteEngine.h"
#include "export/SpreadsheetOutput.h"
#include "export/Staging.h"
#include "export/XltxWorkbookWriter.h"
#include "BenchSupport.h"

using namespace marvesa;
using namespace marvesa::bench;

namespace {

// The staged columns as a list for SQL; with `qualified`, each prefixed by
// the table it is staged from ("n." family unit, "a." member).
QString stagedColumnList(bool qualified) {
    QStringList names;
    for (const StagedColumn& c : stagedColumns()) {
        const QString table = c.source == StagingSource::FamilyUnit ? QStringLiteral("n.")
                                                                    : QStringLiteral("a.");
        names << (qualified ? table : QString()) + c.name;
    }
    return names.join(QStringLiteral(", "));
}

struct FloorTimes {
    double deleteMs = 0;
    double insertMs = 0;
};

// Empties TBL_EXPORT one DELETE at a time in the order of its index, then
// fills it with `rows`, one INSERT each; with `oneTransaction` all of it is
// one transaction, otherwise every statement is stored on its own.
FloorTimes deleteAndInsert(QSqlDatabase& db, const std::vector<QVariantList>& rows,
                           bool oneTransaction) {
    QSqlQuery q(db);
    q.setForwardOnly(true);
    std::vector<qint64> ids;
    if (!q.exec(QStringLiteral("SELECT rowid FROM TBL_EXPORT ORDER BY CODICE_NUCLEO, rowid")))
        fail(QStringLiteral("SELECT"), q);
    while (q.next())
        ids.push_back(q.value(0).toLongLong());
    q.finish();

    QSqlQuery del(db);
    del.prepare(QStringLiteral("DELETE FROM TBL_EXPORT WHERE rowid = ?"));
    QSqlQuery ins(db);
    ins.prepare(QStringLiteral("INSERT INTO TBL_EXPORT (") + stagedColumnList(false) +
                QStringLiteral(") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));

    FloorTimes times;
    QElapsedTimer clock;
    clock.start();
    if (oneTransaction && !q.exec(QStringLiteral("BEGIN")))
        fail(QStringLiteral("BEGIN"), q);
    for (qint64 id : ids) {
        del.addBindValue(id);
        if (!del.exec())
            fail(QStringLiteral("DELETE"), del);
    }
    times.deleteMs = ms(clock.nsecsElapsed());
    clock.restart();
    for (const QVariantList& row : rows) {
        for (const QVariant& v : row)
            ins.addBindValue(v);
        if (!ins.exec())
            fail(QStringLiteral("INSERT"), ins);
    }
    if (oneTransaction && !q.exec(QStringLiteral("COMMIT")))
        fail(QStringLiteral("COMMIT"), q);
    times.insertMs = ms(clock.nsecsElapsed());
    return times;
}

void measureFloor(const QString& dbPath, QTextStream& out) {
    const QString connection = QStringLiteral("bench-floor");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(dbPath);
        if (!db.open())
            throw Error(db.lastError().text());
        QSqlQuery q(db);
        // The settings the engine uses while an export runs.
        for (const QString& pragma :
             {QStringLiteral("PRAGMA journal_mode=WAL"), QStringLiteral("PRAGMA synchronous=NORMAL"),
              QStringLiteral("PRAGMA wal_autocheckpoint=%1").arg(SqliteEngine::kCheckpointPages),
              QStringLiteral("PRAGMA journal_size_limit=%1").arg(SqliteEngine::kJournalSizeLimit)}) {
            if (!q.exec(pragma))
                fail(pragma, q);
        }
        // The rows the walk stages, read beforehand.
        std::vector<QVariantList> rows;
        q.setForwardOnly(true);
        if (!q.exec(QStringLiteral("SELECT ") + stagedColumnList(true) +
                    QStringLiteral(" FROM TBL_NUCLEO n JOIN TBL_ANAGRAFICA a "
                                   "ON a.CODICE_NUCLEO = n.CODICE_NUCLEO ORDER BY n.rowid, a.rowid")))
            fail(QStringLiteral("SELECT"), q);
        while (q.next()) {
            QVariantList row;
            row.reserve(16);
            for (int c = 0; c < 16; ++c)
                row.append(q.value(c));
            rows.push_back(std::move(row));
        }
        q.finish();

        const FloorTimes single = deleteAndInsert(db, rows, false);
        const FloorTimes grouped = deleteAndInsert(db, rows, true);
        out << QStringLiteral(
                   "Solo database (istruzioni preparate, stesse impostazioni, senza cursori né "
                   "foglio di calcolo), %1 righe:\n"
                   "  ciascuna salvata da sola: svuotamento %2 ms | riempimento %3 ms | "
                   "totale %4 ms\n"
                   "  in una sola transazione: svuotamento %5 ms | riempimento %6 ms | "
                   "totale %7 ms\n")
                   .arg(rows.size())
                   .arg(single.deleteMs, 0, 'f', 0)
                   .arg(single.insertMs, 0, 'f', 0)
                   .arg(single.deleteMs + single.insertMs, 0, 'f', 0)
                   .arg(grouped.deleteMs, 0, 'f', 0)
                   .arg(grouped.insertMs, 0, 'f', 0)
                   .arg(grouped.deleteMs + grouped.insertMs, 0, 'f', 0);
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
}

// Opens the data module on `dbPath` as the program does at start-up and times
// `runs` whole exports in a row, each against the targets.
void timeExports(const QString& dbPath, const QString& folder, int runs, Targets& targets,
                 QTextStream& out) {
    TdmMarvesa dm;
    QElapsedTimer opening;
    opening.start();
    dm.DataModuleCreate(dbPath);
    out << QStringLiteral("Modulo dati aperto in %1 ms; memoria massima finora %2 MB\n")
               .arg(opening.elapsed())
               .arg(peakMemoryKb() / 1024.0, 0, 'f', 1);
    out.flush();

    for (int r = 1; r <= runs; ++r) {
        XltxWorkbookWriter writer(QDir(folder).filePath(QStringLiteral("exports")));
        ExportTimings t;
        const double cpuBefore = cpuMs();
        QElapsedTimer total;
        total.start();
        XltxWorkbookWriter::removeStaleExports(writer.folder());
        const ExportOutcome outcome = runExport(dm, writer, &t);
        const std::int64_t totalNs = total.nsecsElapsed();
        const double cpu = cpuMs() - cpuBefore;
        out << QStringLiteral("Esportazione %1: %2 righe, file %3 (%4 kB)\n")
                   .arg(r)
                   .arg(outcome.staged)
                   .arg(outcome.file)
                   .arg(QFileInfo(outcome.file).size() / 1024);
        out << QStringLiteral(
                   "  riapertura di TBL_EXPORT %1 ms | svuotamento %2 ms | "
                   "riempimento %3 ms | foglio di calcolo %4 ms\n")
                   .arg(ms(t.staging.reopenNs), 0, 'f', 0)
                   .arg(ms(t.staging.emptyNs), 0, 'f', 0)
                   .arg(ms(t.staging.stageNs), 0, 'f', 0)
                   .arg(ms(t.writeNs), 0, 'f', 0);
        out << QStringLiteral("  tempo di processore %1 ms\n").arg(cpu, 0, 'f', 0);
        targets.report(QStringLiteral("  Tempo totale"), ms(totalNs), QStringLiteral("ms"), 5000);
        targets.report(QStringLiteral("  Memoria massima"), peakMemoryKb() / 1024.0,
                       QStringLiteral("MB"), 300);
        out.flush();
    }
}

int run(const QStringList& args) {
    QTextStream out(stdout);
    int families = 30000, members = 100000, runs = 1;
    QString keep;
    bool floor = true;
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args.at(i);
        const bool hasValue = i + 1 < args.size();
        if (a == QLatin1String("--families") && hasValue) {
            families = args.at(++i).toInt();
        } else if (a == QLatin1String("--members") && hasValue) {
            members = args.at(++i).toInt();
        } else if (a == QLatin1String("--runs") && hasValue) {
            runs = args.at(++i).toInt();
        } else if (a == QLatin1String("--keep") && hasValue) {
            keep = args.at(++i);
        } else if (a == QLatin1String("--no-floor")) {
            floor = false;
        } else {
            QTextStream(stderr) << "Uso: bench_export [--families N] [--members M] [--runs R] "
                                   "[--keep CARTELLA] [--no-floor]\n";
            return 2;
        }
    }
    if (families < 1 || members < 0 || runs < 1) {
        QTextStream(stderr) << "bench_export: valori non validi\n";
        return 2;
    }

    QTemporaryDir temp;
    if (!temp.isValid())
        throw Error(QStringLiteral("cartella temporanea non disponibile"));
    const QString folder = keep.isEmpty() ? temp.path() : QFileInfo(keep).absoluteFilePath();
    if (!keep.isEmpty())
        QDir().mkpath(folder);
    const QString dbPath = QDir(folder).filePath(QStringLiteral("dbQuaz.mdb"));
    QFile::remove(dbPath);

    QElapsedTimer setup;
    setup.start();
    schema::createDatabase(dbPath);
    populate(dbPath, families, members, true);
    out << QStringLiteral(
               "Database di prova: %1 nuclei, %2 familiari, %2 righe lasciate in "
               "TBL_EXPORT da un'esportazione precedente (preparato in %3 ms)\n")
               .arg(families)
               .arg(members)
               .arg(setup.elapsed());

    Targets targets(out);
    timeExports(dbPath, folder, runs, targets, out);
    if (floor)
        measureFloor(dbPath, out);
    return targets.finish();
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    try {
        return run(app.arguments());
    } catch (const Error& e) {
        QTextStream(stderr) << "bench_export: " << e.message() << "\n";
        return 1;
    }
}
