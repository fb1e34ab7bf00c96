// bench_export: times "Esporta" as the clerk waits for it -- the real main
// window with all its bound controls, grids and navigators, from the click on
// the button to the finished spreadsheet handed to the application that
// shows it -- on a large database, and reports the peak memory.
//
//   bench_export [--families N] [--members M] [--runs R] [--keep DIR]
//
// Defaults: 30000 family units, 100000 members, three runs. The database is
// filled by plain SQL in one transaction, with M rows already in the staging
// table as an earlier export would have left them. The program's own start-up
// then makes the window and the data module (offscreen platform is fine:
// QT_QPA_PLATFORM=offscreen). Each run clicks "Esporta"; the file goes to a
// recording opener instead of the desktop's application.
//
// Beside the window's figure, the same export without the window (the data
// layer alone, on a data module of its own), with its split: emptying the
// staging table, filling it, reading it back and writing the workbook,
// committing. With --keep the database and the workbooks stay in DIR.
//
// The exit status is 1 when a target is missed.

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTextStream>
#include <memory>

#include "BenchDialogs.h"
#include "BenchSupport.h"
#include "app/Application.h"
#include "app/Program.h"
#include "data/base/Error.h"
#include "data/registry/DataModule.h"
#include "data/schema/FileDatabase.h"
#include "export/FileOpener.h"
#include "export/SpreadsheetOutput.h"
#include "export/XltxWorkbookWriter.h"
#include "ui/services/Dialogs.h"
#include "ui/window/Commands.h"
#include "ui/window/MainWindow.h"

using namespace marvesa;
using namespace marvesa::bench;

namespace {

// Takes the finished file instead of showing it, and notes when it came.
class RecordingOpener : public FileOpener {
public:
    QElapsedTimer* clock = nullptr;
    std::int64_t handedOverNs = -1;
    QString file;
    void open(const QString& path) override {
        handedOverNs = clock ? clock->nsecsElapsed() : -1;
        file = path;
    }
};

constexpr double kWindowTargetMs = 2500;
constexpr double kMemoryTargetMb = 300;

void timeWindow(const QString& dbPath, const QString& folder, int runs, Targets& targets,
                QTextStream& out) {
    PrintedDialogs dialogs;
    Dialogs::setInstance(&dialogs);
    RecordingOpener opener;
    setExportServices({QDir(folder).filePath(QStringLiteral("exports")), &opener});

    Program program;
    QElapsedTimer opening;
    opening.start();
    program.start(dbPath);
    TfrmMain* window = program.window();
    QApplication::processEvents();
    out << QStringLiteral("Finestra e modulo dati aperti in %1 ms; memoria massima finora %2 MB\n")
               .arg(opening.elapsed())
               .arg(peakMemoryKb() / 1024.0, 0, 'f', 1);
    out.flush();

    for (int r = 1; r <= runs; ++r) {
        // The first family unit and member are current whatever was before:
        // the window starts each run elsewhere.
        program.dataModule()->TBL_NUCLEO.last();
        QApplication::processEvents();
        QElapsedTimer clock;
        opener.clock = &clock;
        opener.handedOverNs = -1;
        const double cpuBefore = cpuMs();
        clock.start();
        window->btnExport->click();
        const std::int64_t clickNs = clock.nsecsElapsed();
        const double cpu = cpuMs() - cpuBefore;
        QApplication::processEvents();
        if (opener.handedOverNs < 0 || dialogs.shown > 0)
            throw Error(QStringLiteral("l'esportazione dalla finestra non ha prodotto il file"));
        out << QStringLiteral("Finestra, esportazione %1: file %2 (%3 kB)\n")
                   .arg(r)
                   .arg(opener.file)
                   .arg(QFileInfo(opener.file).size() / 1024);
        out << QStringLiteral(
                   "  fine del comando %1 ms | tempo di processore %2 ms | "
                   "pulsante di nuovo attivo: %3\n")
                   .arg(ms(clickNs), 0, 'f', 0)
                   .arg(cpu, 0, 'f', 0)
                   .arg(window->btnExport->isEnabled() ? QStringLiteral("sì")
                                                       : QStringLiteral("no"));
        targets.report(QStringLiteral("  Dal clic al file consegnato"), ms(opener.handedOverNs),
                       QStringLiteral("ms"), kWindowTargetMs);
        targets.report(QStringLiteral("  Memoria massima"), peakMemoryKb() / 1024.0,
                       QStringLiteral("MB"), kMemoryTargetMb);
        out.flush();
        if (!QFile::remove(opener.file))
            throw Error(QStringLiteral("impossibile cancellare %1").arg(opener.file));
    }
    setExportServices({});
    Dialogs::setInstance(nullptr);
}

void timeDataLayer(const QString& dbPath, const QString& folder, int runs, QTextStream& out) {
    TdmMarvesa dm;
    dm.DataModuleCreate(dbPath);
    for (int r = 1; r <= runs; ++r) {
        XltxWorkbookWriter writer(QDir(folder).filePath(QStringLiteral("exports")));
        ExportTimings t;
        const double cpuBefore = cpuMs();
        QElapsedTimer total;
        total.start();
        const ExportOutcome outcome = runExport(dm, writer, &t);
        const std::int64_t totalNs = total.nsecsElapsed();
        const double cpu = cpuMs() - cpuBefore;
        out << QStringLiteral(
                   "Solo dati, esportazione %1: %2 righe in %3 ms "
                   "(tempo di processore %4 ms)\n")
                   .arg(r)
                   .arg(outcome.staged)
                   .arg(ms(totalNs), 0, 'f', 0)
                   .arg(cpu, 0, 'f', 0);
        const std::int64_t waitNs =
            t.totalNs - t.planNs - t.readNs - t.staging.emptyNs - t.staging.stageNs - t.commitNs;
        out << QStringLiteral(
                   "  conteggio %1 ms | lettura delle righe nel foglio di calcolo %2 ms"
                   " | poi, mentre il foglio si completa: svuotamento %3 ms, "
                   "riempimento %4 ms, commit %5 ms | attesa del file completo %6 ms\n")
                   .arg(ms(t.planNs), 0, 'f', 0)
                   .arg(ms(t.readNs), 0, 'f', 0)
                   .arg(ms(t.staging.emptyNs), 0, 'f', 0)
                   .arg(ms(t.staging.stageNs), 0, 'f', 0)
                   .arg(ms(t.commitNs), 0, 'f', 0)
                   .arg(ms(waitNs), 0, 'f', 0);
        out.flush();
        QFile::remove(outcome.file);
    }
}

int run(const QStringList& args) {
    QTextStream out(stdout);
    int families = 30000, members = 100000, runs = 3;
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

    Targets targets(out);
    timeWindow(dbPath, folder, runs, targets, out);
    timeDataLayer(dbPath, folder, runs, out);
    return targets.finish();
}

}  // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    Application app(argc, argv);
    try {
        return run(app.arguments());
    } catch (const Error& e) {
        QTextStream(stderr) << "bench_export: " << e.message() << "\n";
        return 1;
    }
}
