// bench_cursor: how the table cursors behave on a large database.
//
//   bench_cursor [--families N] [--members M] [--moves K] [--keep DIR]
//
// Defaults: 30000 family units, 100000 members spread over them, 2000 moves.
// The database is filled by plain SQL in one transaction (set-up, not
// measured). Then, as the program does: opening TBL_NUCLEO and
// TBL_ANAGRAFICA, moving TBL_NUCLEO to other family units (each move ends a
// pending edit and re-filters the member table), walking every family unit
// as the export does, refreshing, and the peak memory of the process.
// Prints the figures with their targets; the exit status is 1 when a target
// is missed.

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextStream>
#include <algorithm>
#include <vector>

#include "BenchSupport.h"
#include "data/base/Error.h"
#include "data/registry/DataModule.h"
#include "data/schema/FileDatabase.h"

using namespace marvesa;
using namespace marvesa::bench;

namespace {

struct Stats {
    double median = 0, p95 = 0, max = 0;
};

Stats statsOf(std::vector<qint64> ns) {
    Stats s;
    if (ns.empty())
        return s;
    std::sort(ns.begin(), ns.end());
    s.median = ms(ns[ns.size() / 2]);
    s.p95 = ms(ns[std::min(ns.size() - 1, ns.size() * 95 / 100)]);
    s.max = ms(ns.back());
    return s;
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    int families = 30000, members = 100000, moves = 2000;
    QString keep;
    const Options options(app.arguments());
    families = options.number("--families", families);
    members = options.number("--members", members);
    moves = options.number("--moves", moves);
    keep = options.text("--keep", keep);
    if (families < 2 || members < 0 || moves < 1) {
        QTextStream(stderr)
            << "Uso: bench_cursor [--families N] [--members M] [--moves K] [--keep DIR]\n";
        return 2;
    }
    Targets targets(out);
    try {
        QTemporaryDir temp;
        const QString dir = keep.isEmpty() ? temp.path() : keep;
        QDir().mkpath(dir);
        const QString path = QDir(dir).filePath(QStringLiteral("bench-cursor.mdb"));
        QFile::remove(path);
        QElapsedTimer timer;
        timer.start();
        schema::createDatabase(path);
        populate(path, families, members, false);
        out << QStringLiteral(
                   "Database di prova: %1 nuclei, %2 familiari, preparato in %3 s (%4)\n")
                   .arg(families)
                   .arg(members)
                   .arg(timer.elapsed() / 1000.0, 0, 'f', 1)
                   .arg(QDir::toNativeSeparators(path));
        const long peakBeforeOpen = peakMemoryKb();

        TdmMarvesa dm;
        dm.cnQuaz.setDatabasePath(path);
        timer.restart();
        dm.cnQuaz.connect();
        const qint64 connectNs = timer.nsecsElapsed();
        timer.restart();
        dm.TBL_NUCLEO.open();
        const qint64 nucleoNs = timer.nsecsElapsed();
        timer.restart();
        dm.TBL_ANAGRAFICA.open();
        const qint64 anagraficaNs = timer.nsecsElapsed();
        timer.restart();
        dm.TBL_COMUNI.open();
        dm.TBL_NAZIONI.open();
        dm.TBL_EXPORT.open();
        const qint64 othersNs = timer.nsecsElapsed();
        out << QStringLiteral(
                   "Connessione: %1 ms; TBL_NUCLEO: %2 ms (%3 righe); TBL_ANAGRAFICA: %4 ms (%5 "
                   "righe); "
                   "altre tre tabelle: %6 ms\n")
                   .arg(ms(connectNs), 0, 'f', 1)
                   .arg(ms(nucleoNs), 0, 'f', 1)
                   .arg(dm.TBL_NUCLEO.recordCount())
                   .arg(ms(anagraficaNs), 0, 'f', 1)
                   .arg(dm.TBL_ANAGRAFICA.recordCount())
                   .arg(ms(othersNs), 0, 'f', 1);
        targets.report(QStringLiteral("Apertura di TBL_NUCLEO e TBL_ANAGRAFICA"),
                       ms(nucleoNs + anagraficaNs), QStringLiteral("ms"), 300, 3);

        // Moves to other family units, as grid clicks (moveTo) and navigator
        // steps (next) make them; each re-filters the member table.
        QRandomGenerator rng(2000);
        std::vector<qint64> moveNs;
        moveNs.reserve(moves);
        qint64 membersSeen = 0;
        for (int i = 0; i < moves; ++i) {
            const bool click = i % 2 == 0;
            const int target = int(rng.bounded(families - 1));
            timer.restart();
            if (click) {
                dm.TBL_NUCLEO.moveTo(target);
            } else {
                dm.TBL_NUCLEO.next();
            }
            moveNs.push_back(timer.nsecsElapsed());
            membersSeen += dm.TBL_ANAGRAFICA.recordCount();
        }
        const Stats moveStats = statsOf(moveNs);
        out << QStringLiteral(
                   "Spostamenti di TBL_NUCLEO con rifiltro dei familiari (%1, %2 familiari "
                   "mostrati): "
                   "mediana %3 ms, 95% %4 ms, massimo %5 ms\n")
                   .arg(moves)
                   .arg(membersSeen)
                   .arg(moveStats.median, 0, 'f', 3)
                   .arg(moveStats.p95, 0, 'f', 3)
                   .arg(moveStats.max, 0, 'f', 3);
        targets.report(QStringLiteral("Spostamento, mediana"), moveStats.median,
                       QStringLiteral("ms"), 2, 3);

        // A member being edited when the family unit moves: ended first.
        std::vector<qint64> pendingNs;
        for (int i = 0; i < 200; ++i) {
            dm.TBL_NUCLEO.moveTo(int(rng.bounded(families)));
            if (dm.TBL_ANAGRAFICA.isEmpty())
                continue;
            dm.TBL_ANAGRAFICA.edit();
            timer.restart();
            dm.TBL_NUCLEO.moveTo(int(rng.bounded(families)));
            pendingNs.push_back(timer.nsecsElapsed());
        }
        const Stats pendingStats = statsOf(pendingNs);
        out << QStringLiteral(
                   "Spostamento con un familiare in modifica (%1): mediana %2 ms, massimo %3 ms\n")
                   .arg(pendingNs.size())
                   .arg(pendingStats.median, 0, 'f', 3)
                   .arg(pendingStats.max, 0, 'f', 3);

        // The walk of the export over every family unit and its members.
        timer.restart();
        qint64 walkedMembers = 0;
        int walkedFamilies = 0;
        for (dm.TBL_NUCLEO.first(); !dm.TBL_NUCLEO.eof(); dm.TBL_NUCLEO.next()) {
            ++walkedFamilies;
            for (dm.TBL_ANAGRAFICA.first(); !dm.TBL_ANAGRAFICA.eof(); dm.TBL_ANAGRAFICA.next()) {
                dm.TBL_ANAGRAFICA.fieldValue(QStringLiteral("COGNOME"));
                ++walkedMembers;
            }
        }
        const qint64 walkNs = timer.nsecsElapsed();
        out << QStringLiteral("Giro completo: %1 nuclei, %2 familiari in %3 ms\n")
                   .arg(walkedFamilies)
                   .arg(walkedMembers)
                   .arg(ms(walkNs), 0, 'f', 1);

        // Refresh of the family units, as after "Salva".
        timer.restart();
        dm.TBL_NUCLEO.refresh();
        out << QStringLiteral("Aggiornamento di TBL_NUCLEO: %1 ms\n")
                   .arg(ms(timer.nsecsElapsed()), 0, 'f', 1);

        // What a grid asks: the display text of every cell of every row.
        timer.restart();
        qint64 chars = 0;
        for (int r = 0; r < dm.TBL_NUCLEO.rowCount(); ++r) {
            for (const auto& f : dm.TBL_NUCLEO.fields())
                chars += Field::displayTextOf(dm.TBL_NUCLEO.valueAt(r, f->index())).size();
        }
        out << QStringLiteral("Testi di tutte le celle di TBL_NUCLEO (%1 caratteri): %2 ms\n")
                   .arg(chars)
                   .arg(ms(timer.nsecsElapsed()), 0, 'f', 1);

        const long peak = peakMemoryKb();
        out << QStringLiteral("Memoria massima del processo: %1 MB (prima dell'apertura: %2 MB)\n")
                   .arg(peak / 1024.0, 0, 'f', 1)
                   .arg(peakBeforeOpen / 1024.0, 0, 'f', 1);
        targets.report(QStringLiteral("Memoria massima"), peak / 1024.0, QStringLiteral("MB"), 200,
                       3);
    } catch (const Error& e) {
        QTextStream(stderr) << "bench_cursor: " << e.message() << "\n";
        return 1;
    }
    return targets.finish();
}
