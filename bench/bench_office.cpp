// bench_office: "Cerca" and "Riepilogo" through the real window on a large
// database.
//
//   bench_office [--families N] [--members M] [--keep DIR] [--server CONNECTION]
//
// Defaults: 30000 family units, 100000 members. The database is filled by
// plain SQL (set-up, not measured); then the main window and its data module
// are made, bound and opened as at start-up, on the offscreen platform.
// With --server, the filled file is moved by marvesa-initdb's --copy-from
// into the database marvesa_bench_office (dropped and made again) on the
// server CONNECTION names, without the search function and indexes (as a
// database made by an older version), and the window works there.
// Measured, each from the key press until the window has handled every event
// it caused (the list filled and painted, the dialog laid out and shown):
//   - the first Ctrl+F on a database that never had the search tables (they
//     are made and filled then, once per database);
//   - every keystroke of several searches typed a character at a time;
//   - Ctrl+R, "Riepilogo" opening, each time after another desk stored a
//     change (so that it counts anew), and the counts alone on a new
//     connection.
// Prints the figures with their targets; the exit status is 1 when a target
// is missed.

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTextStream>
#include <QtTest>
#include <algorithm>
#include <vector>

#include "BenchSupport.h"
#include "app/Application.h"
#include "data/registry/DataModule.h"
#include "data/registry/PostgresRegistryQueries.h"
#include "data/registry/RegistryQueries.h"
#include "data/schema/FileDatabase.h"
#include "data/schema/ServerCopy.h"
#include "data/sql/PostgresEngine.h"
#include "ui/window/MainWindow.h"
#include "ui/window/OfficeCommands.h"

using namespace marvesa;
using namespace marvesa::bench;

namespace {

// Runs `f`, then lets the window handle what it caused; the time in ns.
template <typename F>
qint64 timed(F&& f) {
    QElapsedTimer t;
    t.start();
    f();
    QApplication::processEvents();
    return t.nsecsElapsed();
}

void typeChar(QWidget* w, QChar c) {
    QTest::sendKeyEvent(QTest::Press, w, Qt::Key_unknown, QString(c), Qt::NoModifier);
    QTest::sendKeyEvent(QTest::Release, w, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

// Runs `sql` on the server database `connection`; throws on failure.
void serverExec(const QString& connection, const QString& sql) {
    const QString name = QStringLiteral("bench-server-sql");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        ServerAddress(connection).configure(db);
        if (!db.open())
            throw Error(db.lastError().text());
        QSqlQuery q(db);
        if (!q.exec(sql))
            throw Error(sql + QStringLiteral(": ") + q.lastError().text());
        q.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}

}  // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    Application app(argc, argv);
    QTextStream out(stdout);
    int families = 30000, members = 100000;
    QString keep, server;
    const Options options(app.arguments());
    families = options.number("--families", families);
    members = options.number("--members", members);
    keep = options.text("--keep", keep);
    server = options.text("--server", server);
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("dbQuaz.mdb"));
    schema::createDatabase(path);
    populate(path, families, members, false);
    if (!keep.isEmpty())
        QFile::copy(path, QDir(keep).filePath(QStringLiteral("dbQuaz.mdb")));
    if (!server.isEmpty()) {
        try {
            const ServerAddress admin(server);
            // Databases are made and dropped from the server's maintenance
            // database.
            const QString maintenance = admin.connectionString(QStringLiteral("postgres"));
            serverExec(maintenance,
                       QStringLiteral("DROP DATABASE IF EXISTS marvesa_bench_office WITH (FORCE)"));
            serverExec(maintenance, QStringLiteral("CREATE DATABASE marvesa_bench_office"));
            const QString connection =
                admin.connectionString(QStringLiteral("marvesa_bench_office"));
            schema::copyToServer(path, connection);
            serverExec(connection, QStringLiteral("DROP FUNCTION %1(text) CASCADE")
                                       .arg(QLatin1String(PostgresRegistryQueries::kFunction)));
            serverExec(connection, QStringLiteral("VACUUM ANALYZE"));
            path = connection;
        } catch (const Error& e) {
            QTextStream(stderr) << "bench_office: " << e.message() << "\n";
            return 2;
        }
        out << QStringLiteral("Sul server: %1\n").arg(ServerAddress(path).describe());
    }
    const bool onServer = !server.isEmpty();
    out << QStringLiteral("Database: %1 nuclei, %2 componenti\n").arg(families).arg(members);

    TfrmMain window;
    TdmMarvesa dm;
    window.bindTo(dm);
    dm.DataModuleCreate(path);
    window.show();
    QApplication::setActiveWindow(&window);
    QApplication::processEvents();
    OfficeCommands* office = officeCommands(window);
    Targets targets(out);

    const qint64 firstOpen =
        timed([&] { QTest::keyClick(window.edtDescNucleo, Qt::Key_F, Qt::ControlModifier); });
    out << QStringLiteral(
               "Prima apertura di \"Cerca\" (crea e riempie le tabelle di ricerca, una volta per "
               "database): %1 ms\n")
               .arg(ms(firstOpen), 0, 'f', 0);
    SearchDialog* dialog = office->searchDialog();
    if (!dialog) {
        out << "\"Cerca\" non si è aperto\n";
        return 1;
    }

    const QStringList searches = {
        QStringLiteral("kovalenko andriy"),
        QStringLiteral("шевченко"),
        QStringLiteral("an ko"),
        QStringLiteral("ospitante 2999"),
        QStringLiteral("QX1000370"),
        QStringLiteral("famiglia 12"),
        QStringLiteral("dangelo"),
    };
    std::vector<qint64> keystrokes;
    int shown = 0;
    for (const QString& text : searches) {
        dialog->field()->clear();
        QApplication::processEvents();
        qint64 slowest = 0;
        for (QChar c : text) {
            keystrokes.push_back(timed([&] { typeChar(dialog->field(), c); }));
            slowest = std::max(slowest, keystrokes.back());
        }
        shown += dialog->results()->rowCount();
        out << QStringLiteral("  \"%1\": %2 righe; battuta più lenta %3 ms\n")
                   .arg(text)
                   .arg(dialog->results()->rowCount())
                   .arg(ms(slowest), 0, 'f', 1);
    }
    std::sort(keystrokes.begin(), keystrokes.end());
    out << QStringLiteral("Battute misurate: %1; mediana %2 ms\n")
               .arg(keystrokes.size())
               .arg(ms(keystrokes[keystrokes.size() / 2]), 0, 'f', 1);
    targets.report(QStringLiteral("\"Cerca\", risultati di ogni battuta (la più lenta)"),
                   ms(keystrokes.back()), QStringLiteral("ms"), 50, 1);
    dialog->reject();
    QApplication::processEvents();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QApplication::setActiveWindow(&window);

    std::vector<qint64> opens;
    double openCpu = 0;
    for (int run = 0; run < 5; ++run) {
        // Another desk stores a change first, so that every opening counts
        // anew (an unchanged database gives the last summary again).
        if (onServer) {
            serverExec(path, QStringLiteral("UPDATE \"TBL_NUCLEO\" SET \"TELEFONO\" = "
                                            "\"TELEFONO\" WHERE \"ID_NUCLEO\" = 1"));
        } else {
            {
                QSqlDatabase other =
                    QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
                other.setDatabaseName(path);
                other.open();
                QSqlQuery(other).exec(QStringLiteral(
                    "UPDATE TBL_NUCLEO SET TELEFONO = TELEFONO || '1' WHERE ID_NUCLEO = 1"));
                other.close();
            }
            QSqlDatabase::removeDatabase(QStringLiteral("other"));
        }
        const double cpu0 = cpuMs();
        opens.push_back(
            timed([&] { QTest::keyClick(window.edtDescNucleo, Qt::Key_R, Qt::ControlModifier); }));
        openCpu = std::max(openCpu, cpuMs() - cpu0);
        if (!office->summaryDialog()) {
            out << "\"Riepilogo\" non si è aperto\n";
            return 1;
        }
        if (run == 0) {
            const OfficeSummary& s = office->summaryDialog()->summary();
            out << QStringLiteral(
                       "  ospitati ora: %1 persone in %2 nuclei; in scadenza entro 30 giorni: %3\n")
                       .arg(s.peopleHosted)
                       .arg(s.familiesHosted)
                       .arg(s.endingWithin30);
        }
        office->summaryDialog()->reject();
        QApplication::processEvents();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QApplication::setActiveWindow(&window);
    }
    for (int run = 0; run < 3; ++run) {
        const double cpu0 = cpuMs();
        QElapsedTimer t;
        t.start();
        const OfficeSummary s =
            registryQueriesFor(dm.cnQuaz.engine())->summary(QDate::currentDate());
        out << QStringLiteral(
                   "  i conti soli, su una connessione nuova: %1 ms (processore %2 ms)\n")
                   .arg(t.elapsed())
                   .arg(cpuMs() - cpu0, 0, 'f', 0);
    }
    std::sort(opens.begin(), opens.end());
    out << QStringLiteral(
               "Aperture di \"Riepilogo\": mediana %1 ms; processore, la più cara: %2 ms\n")
               .arg(ms(opens[opens.size() / 2]), 0, 'f', 1)
               .arg(openCpu, 0, 'f', 0);
    targets.report(QStringLiteral("\"Riepilogo\", apertura (la più lenta di 5)"), ms(opens.back()),
                   QStringLiteral("ms"), 300, 1);
    return targets.finish();
}
