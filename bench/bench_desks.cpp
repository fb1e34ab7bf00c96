// bench_desks: how soon one desk shows what another desk did, on a large
// database.
//
//   bench_desks [--families N] [--members M] [--changes K] [--keep DIR]
//               [--server CONNECTION]
//
// Defaults: 30000 family units, 100000 members, 30 changes. Desk B is the
// real main window (offscreen) on its own data module, standing on a family
// unit in the middle of the list; desk A is a second data module on the same
// file, as another copy of the program. A in turn stores a new family unit,
// changes the description of the family unit B shows, adds a member to it
// and deletes the family unit it stored; each time the clock runs from A's
// commit until B's grid or bound controls show the change. Then the cost of
// one in-place refresh of B's family-unit table, with the grid, the bound
// controls and the member table following it: when nothing changed and when
// one row did.
//
// With --server, both desks work on a PostgreSQL server instead of a file:
// CONNECTION names a server database on which the benchmark creates its own
// database "marvesa_bench_desks" (dropped first when it exists) and moves the
// filled file database there with --copy-from; desk B then hears of A's
// commits through the server's notifications.

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>
#include <algorithm>
#include <functional>
#include <vector>

#include "BenchDialogs.h"
#include "BenchSupport.h"
#include "data/registry/DataModule.h"
#include "data/schema/FileDatabase.h"
#include "data/schema/ServerCopy.h"
#include "ui/services/Dialogs.h"
#include "ui/window/Commands.h"
#include "ui/window/MainWindow.h"

using namespace marvesa;
using namespace marvesa::bench;

namespace {

// Runs the event loop until `shown` holds; the time waited in ms, or -1
// after 10 s.
double waitUntil(const std::function<bool()>& shown) {
    QElapsedTimer timer;
    timer.start();
    while (!shown()) {
        if (timer.elapsed() > 10000)
            return -1;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    return ms(timer.nsecsElapsed());
}

// Makes the row with counter `id` current. A desk's own new rows stand where
// they were inserted, so rows are found by their counter, not their place.
void moveToId(DataSet& t, qint64 id) {
    const int column = t.fieldByName(QStringLiteral("ID_NUCLEO"))->index();
    for (int row = 0; row < t.rowCount(); ++row) {
        if (qint64(t.valueAt(row, column).toDouble()) == id) {
            t.moveTo(row);
            return;
        }
    }
    throw Error(QStringLiteral("Nucleo %1 non trovato").arg(id));
}

void setText(DataSet& t, const char* column, const QString& value) {
    t.setFieldValue(QString::fromLatin1(column), Value::text(value));
}

}  // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTextStream out(stdout);
    int families = 30000, members = 100000, changes = 30;
    QString keep, server;
    const Options options(app.arguments());
    families = options.number("--families", families);
    members = options.number("--members", members);
    changes = options.number("--changes", changes);
    keep = options.text("--keep", keep);
    server = options.text("--server", server);
    if (families < 2 || members < 0 || changes < 4) {
        QTextStream(stderr)
            << "Uso: bench_desks [--families N] [--members M] [--changes K>=4] [--keep DIR] "
               "[--server CONNESSIONE]\n";
        return 2;
    }
    Targets targets(out);
    PrintedDialogs dialogs;
    Dialogs::setInstance(&dialogs);
    try {
        QTemporaryDir temp;
        const QString dir = keep.isEmpty() ? temp.path() : keep;
        QDir().mkpath(dir);
        const QString path = QDir(dir).filePath(QStringLiteral("bench-desks.mdb"));
        QFile::remove(path);
        schema::createDatabase(path);
        populate(path, families, members, false);
        out << QStringLiteral("Database di prova: %1 nuclei, %2 familiari\n")
                   .arg(families)
                   .arg(members);
        // Where both desks work: the file, or its copy on the server.
        QString location = path;
        if (!server.isEmpty()) {
            location = freshServerDatabase(server, QStringLiteral("marvesa_bench_desks"));
            QElapsedTimer copy;
            copy.start();
            schema::copyToServer(path, location);
            out << QStringLiteral("Copiato sul server (%1) in %2 s\n")
                       .arg(ServerAddress(location).describe())
                       .arg(copy.elapsed() / 1000.0, 0, 'f', 1);
        }

        // Desk B: the window, in the program's start-up order.
        TfrmMain window;
        TdmMarvesa b;
        window.bindTo(b);
        b.DataModuleCreate(location);
        window.show();
        b.TBL_NUCLEO.moveTo(families / 2);
        // Desk A.
        TdmMarvesa a;
        a.DataModuleCreate(location);
        const qint64 shownId =
            qint64(b.TBL_NUCLEO.fieldValue(QStringLiteral("ID_NUCLEO")).toDouble());
        moveToId(a.TBL_NUCLEO, shownId);
        qint64 addedId = 0;

        std::vector<double> latency;
        std::vector<QString> kinds{QStringLiteral("nuovo nucleo"), QStringLiteral("descrizione"),
                                   QStringLiteral("nuovo familiare"),
                                   QStringLiteral("nucleo cancellato")};
        std::vector<std::vector<double>> byKind(kinds.size());
        bool allShown = true;
        for (int i = 0; i < changes; ++i) {
            const int kind = i % 4;
            std::function<bool()> shown;
            const int rows = window.DBGrid2->model()->rowCount();
            if (kind == 0) {
                a.TBL_NUCLEO.insert();
                setText(a.TBL_NUCLEO, "CODICE_NUCLEO", QStringLiteral("QX9%1").arg(i));
                setText(a.TBL_NUCLEO, "DENOMINAZIONE", QStringLiteral("Nuovo %1").arg(i));
                a.TBL_NUCLEO.post();
                addedId = qint64(a.TBL_NUCLEO.fieldValue(QStringLiteral("ID_NUCLEO")).toDouble());
                shown = [&window, rows] { return window.DBGrid2->model()->rowCount() == rows + 1; };
            } else if (kind == 1) {
                moveToId(a.TBL_NUCLEO, shownId);
                const QString text = QStringLiteral("CAMBIATA %1").arg(i);
                a.TBL_NUCLEO.edit();
                setText(a.TBL_NUCLEO, "DENOMINAZIONE", text);
                a.TBL_NUCLEO.post();
                shown = [&window, text] { return window.edtDescNucleo->text() == text; };
            } else if (kind == 2) {
                const int memberRows = window.DBGrid1->model()->rowCount();
                a.TBL_ANAGRAFICA.insert();
                setText(a.TBL_ANAGRAFICA, "COGNOME", QStringLiteral("NUOVO"));
                setText(a.TBL_ANAGRAFICA, "NOME", QStringLiteral("FAMILIARE %1").arg(i));
                a.TBL_ANAGRAFICA.post();
                shown = [&window, memberRows] {
                    return window.DBGrid1->model()->rowCount() == memberRows + 1;
                };
            } else {
                // The family unit A stored at the start of this round of four.
                moveToId(a.TBL_NUCLEO, addedId);
                deleteFamilyUnitWithMembers(a);
                moveToId(a.TBL_NUCLEO, shownId);
                shown = [&window, rows] { return window.DBGrid2->model()->rowCount() == rows - 1; };
            }
            const double waited = waitUntil(shown);
            if (waited < 0) {
                allShown = false;
                out << QStringLiteral("Modifica %1 (%2) non mostrata entro 10 s\n")
                           .arg(i)
                           .arg(kinds[kind]);
                continue;
            }
            latency.push_back(waited);
            byKind[kind].push_back(waited);
        }
        for (int k = 0; k < int(kinds.size()); ++k) {
            out << QStringLiteral("  %1: mediana %2 ms, massimo %3 ms\n")
                       .arg(kinds[k])
                       .arg(median(byKind[k]), 0, 'f', 1)
                       .arg(byKind[k].empty()
                                ? 0
                                : *std::max_element(byKind[k].begin(), byKind[k].end()),
                            0, 'f', 1);
        }
        out << QStringLiteral(
                   "Modifica alla scrivania A mostrata dalla finestra B: mediana %1 ms (%2 "
                   "modifiche)\n")
                   .arg(median(latency), 0, 'f', 1)
                   .arg(latency.size());
        targets.report(
            QStringLiteral("Modifica mostrata all'altra scrivania, la più lenta"),
            allShown && !latency.empty() ? *std::max_element(latency.begin(), latency.end()) : 1e9,
            QStringLiteral("ms"), 2000, 1);

        // One refresh of B's family table in place, with everything that
        // follows it: nothing changed, then one row changed at A.
        std::vector<double> same, one, sameCpu, oneCpu;
        QElapsedTimer timer;
        for (int i = 0; i < 10; ++i) {
            double cpu = cpuMs();
            timer.start();
            b.TBL_NUCLEO.reloadInPlace();
            same.push_back(ms(timer.nsecsElapsed()));
            sameCpu.push_back(cpuMs() - cpu);
            a.TBL_NUCLEO.edit();
            setText(a.TBL_NUCLEO, "DENOMINAZIONE", QStringLiteral("DI NUOVO %1").arg(i));
            a.TBL_NUCLEO.post();
            cpu = cpuMs();
            timer.start();
            b.TBL_NUCLEO.reloadInPlace();
            one.push_back(ms(timer.nsecsElapsed()));
            oneCpu.push_back(cpuMs() - cpu);
        }
        out << QStringLiteral(
                   "Rilettura di TBL_NUCLEO (%1 righe) con griglia e controlli: "
                   "nulla di cambiato %2 ms (processore %4 ms), una riga cambiata %3 ms "
                   "(processore %5 ms) (mediane)\n")
                   .arg(b.TBL_NUCLEO.recordCount())
                   .arg(median(same), 0, 'f', 1)
                   .arg(median(one), 0, 'f', 1)
                   .arg(median(sameCpu), 0, 'f', 1)
                   .arg(median(oneCpu), 0, 'f', 1);
    } catch (const std::exception& e) {
        QTextStream(stderr) << "Errore: " << e.what() << '\n';
        Dialogs::setInstance(nullptr);
        return 2;
    }
    Dialogs::setInstance(nullptr);
    return targets.finish();
}
