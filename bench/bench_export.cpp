// bench_export: times "Esporta" on a large database, from the staging table
// emptied to the finished spreadsheet file, and reports the peak memory.
//
//   bench_export [--families N] [--members M] [--runs R] [--keep DIR]
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
#include "export/SpreadsheetOutput.h"
#include "export/XltxWorkbookWriter.h"
#include "BenchSupport.h"

using namespace marvesa;
using namespace marvesa::bench;

namespace {

int run(const QStringList& args) {
    QTextStream out(stdout);
    int families = 30000, members = 100000, runs = 1;
    QString keep;
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
        } else {
            QTextStream(stderr) << "Uso: bench_export [--families N] [--members M] [--runs R] "
                                   "[--keep CARTELLA]\n";
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

    TdmMarvesa dm;
    QElapsedTimer opening;
    opening.start();
    dm.DataModuleCreate(dbPath);
    out << QStringLiteral("Modulo dati aperto in %1 ms; memoria massima finora %2 MB\n")
               .arg(opening.elapsed())
               .arg(peakMemoryKb() / 1024.0, 0, 'f', 1);
    out.flush();

    Targets targets(out);

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
