// bench_history: the record history through the real window on a large
// database.
//
//   bench_history [--families N] [--members M] [--history H] [--saves S]
//                 [--server CONNECTION]
//
// Defaults: 30000 family units, 100000 members, 1000000 history rows, 50
// saves. The database is filled by plain SQL (set-up, not measured): the
// family units and members, whose history the database's triggers write as
// they are stored, then history rows up to H spread over the family units
// (as years of changes would leave them). The main window and its data
// module are made, bound and opened as at start-up, on the offscreen
// platform. With --server, the filled file is moved by marvesa-initdb's
// --copy-from into the database marvesa_bench_history (dropped and made
// again) on the server CONNECTION names, and the window works there.
// Measured, each from the click or key press until the window has handled
// every event it caused:
//   - "Salva" of a member changed in the window (its history row written in
//     the same statement), median and slowest of S;
//   - Ctrl+H, "Storico" of a family unit opening with its lines, median and
//     slowest over 50 family units.
// Prints the figures with their targets; the exit status is 1 when a target
// is missed.

#include <QApplication>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextStream>
#include <QtTest>
#include <algorithm>
#include <vector>

#include "BenchDialogs.h"
#include "BenchSupport.h"
#include "app/Application.h"
#include "data/registry/DataModule.h"
#include "data/registry/DuplicateCheck.h"
#include "data/schema/FileDatabase.h"
#include "data/schema/ServerCopy.h"
#include "data/sql/EngineFactory.h"
#include "ui/office/HistoryDialog.h"
#include "ui/window/MainWindow.h"
#include "ui/window/PersonalDataCommands.h"

using namespace marvesa;
using namespace marvesa::bench;

namespace {

template <typename F>
qint64 timed(F&& f) {
    QElapsedTimer t;
    t.start();
    f();
    QApplication::processEvents();
    return t.nsecsElapsed();
}

double slowest(const std::vector<qint64>& ns) {
    return ns.empty() ? 0 : ms(*std::max_element(ns.begin(), ns.end()));
}

// Gives every member a relationship the window lists (so that "Salva" takes
// them as they are), then adds history rows until the file holds `total`:
// changes of members, spread evenly over the family codes, as the triggers
// write them.
void fillHistory(const QString& path, int total) {
    const QString name = QStringLiteral("bench-history");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        if (!db.open())
            throw Error(db.lastError().text());
        QSqlQuery q(db);
        const auto run = [&](const QString& sql) {
            if (!q.exec(sql))
                fail(sql, q);
        };
        const auto number = [&](const QString& sql) {
            run(sql);
            const qint64 n = q.next() ? q.value(0).toLongLong() : 0;
            q.finish();
            return n;
        };
        run(QStringLiteral("BEGIN"));
        run(QStringLiteral("UPDATE TBL_ANAGRAFICA SET GRADO_PARENTELA = 'Coniuge'"));
        run(
            QStringLiteral("CREATE TEMP TABLE members (k INTEGER PRIMARY KEY, id INTEGER, "
                           "code TEXT)"));
        run(
            QStringLiteral("INSERT INTO members SELECT row_number() OVER (ORDER BY "
                           "ID_ANAGRAFICA) - 1, ID_ANAGRAFICA, CODICE_NUCLEO FROM TBL_ANAGRAFICA"));
        const qint64 count = number(QStringLiteral("SELECT count(*) FROM members"));
        const qint64 missing = total - number(QStringLiteral("SELECT count(*) FROM TBL_STORICO"));
        if (missing > 0 && count > 0) {
            run(QStringLiteral(
                    "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                    "INSERT INTO TBL_STORICO (QUANDO, UTENTE, POSTAZIONE, TABELLA, ID_RIGA, "
                    "CODICE_NUCLEO, OPERAZIONE, VALORI) SELECT strftime('%Y-%m-%dT%H:%M:%S', "
                    "'2023-01-01', '+' || (n.i % 100000) || ' minutes'), 'operatore' || (n.i % 7), "
                    "'UFFICIO-' || (n.i % 3), 'TBL_ANAGRAFICA', m.id, m.code, 'U', "
                    "'{\"NOTE\":[\"nota ' || n.i || '\",\"nota ' || (n.i + 1) || '\"]}' "
                    "FROM n JOIN temp.members m ON m.k = n.i % %2")
                    .arg(missing)
                    .arg(count));
        }
        run(QStringLiteral("COMMIT"));
        run(QStringLiteral("ANALYZE"));
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
    int families = 30000, members = 100000, history = 1000000, saves = 50;
    QString server;
    const Options options(app.arguments());
    families = options.number("--families", families);
    members = options.number("--members", members);
    history = options.number("--history", history);
    saves = options.number("--saves", saves);
    server = options.text("--server", server);
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("dbQuaz.mdb"));
    try {
        schema::createDatabase(path);
        populate(path, families, members, false);
        {
            // Names of a registry: nearly every person's full name is their
            // own (the generated ones repeat forty, and each "Salva" met a
            // thousand possible duplicates). Then the members' name keys, as
            // a registry brought to the duplicate check has them: filled at
            // the first "Salva", they would make it a one-off of seconds
            // among the clicks measured.
            const std::unique_ptr<QtSqlEngine> engine = openEngine(path);
            engine->exec(QStringLiteral(
                "UPDATE \"TBL_ANAGRAFICA\" SET \"NOME\" = \"NOME\" || ' ' || "
                "char(65 + \"ID_ANAGRAFICA\" % 26) || char(65 + \"ID_ANAGRAFICA\" / 26 % 26) || "
                "char(65 + \"ID_ANAGRAFICA\" / 676 % 26) || char(65 + \"ID_ANAGRAFICA\" / 17576 % "
                "26)"));
            duplicates::fillMissingKeys(*engine);
        }
        fillHistory(path, history);
        if (!server.isEmpty()) {
            const ServerAddress admin(server);
            const QString maintenance = admin.connectionString(QStringLiteral("postgres"));
            serverExec(
                ServerAddress(maintenance),
                QStringLiteral("DROP DATABASE IF EXISTS marvesa_bench_history WITH (FORCE)"));
            serverExec(ServerAddress(maintenance),
                       QStringLiteral("CREATE DATABASE marvesa_bench_history"));
            const QString connection =
                admin.connectionString(QStringLiteral("marvesa_bench_history"));
            schema::copyToServer(path, connection);
            serverExec(ServerAddress(connection), QStringLiteral("VACUUM ANALYZE"));
            path = connection;
            out << QStringLiteral("Sul server: %1\n").arg(ServerAddress(path).describe());
        }
    } catch (const Error& e) {
        QTextStream(stderr) << "bench_history: " << e.message() << "\n";
        return 2;
    }
    out << QStringLiteral("Database: %1 nuclei, %2 componenti, %3 righe di storico\n")
               .arg(families)
               .arg(members)
               .arg(history);

    // A re-saved member may look like another of the generated names.
    StoringDuplicateReview duplicates;
    TfrmMain window;
    TdmMarvesa dm;
    window.bindTo(dm);
    dm.DataModuleCreate(path);
    window.show();
    QApplication::setActiveWindow(&window);
    QApplication::processEvents();
    Targets targets(out);

    // "Salva" of a member: "Modifica", a note changed, "Salva" timed.
    std::vector<qint64> saving;
    for (int i = 0; i < saves; ++i) {
        dm.TBL_NUCLEO.moveTo((i * 997) % dm.TBL_NUCLEO.rowCount());
        QApplication::processEvents();
        QTest::mouseClick(window.btnEditAnag, Qt::LeftButton);
        window.DBMemo2->setFocus();
        QTest::keyClicks(window.DBMemo2, QStringLiteral(" %1").arg(i));
        saving.push_back(timed([&] { QTest::mouseClick(window.btnSaveAnag, Qt::LeftButton); }));
        if (dm.TBL_ANAGRAFICA.state() != dsBrowse) {
            QTextStream(stderr) << "bench_history: the member was not stored\n";
            return 2;
        }
    }
    targets.report(QStringLiteral("Salva di un componente, con lo storico (mediana)"),
                   ms(median(saving)), QStringLiteral("ms"), 20, 2);
    out << QStringLiteral("  il più lento: %1 ms\n").arg(slowest(saving), 0, 'f', 2);

    // "Storico" of a family unit: Ctrl+H until the dialog is shown.
    PersonalDataCommands* commands = personalDataCommands(window);
    std::vector<qint64> opening;
    int lines = 0;
    for (int i = 0; i < 50; ++i) {
        dm.TBL_NUCLEO.moveTo((i * 613) % dm.TBL_NUCLEO.rowCount());
        QApplication::processEvents();
        // The key goes where the clerk's focus is, as a shortcut reaches it.
        if (QApplication::activeWindow() != &window)
            QApplication::setActiveWindow(&window);
        QWidget* target = QApplication::focusWidget();
        if (!target || !window.isAncestorOf(target))
            target = &window;
        opening.push_back(timed([&] { QTest::keyClick(target, Qt::Key_H, Qt::ControlModifier); }));
        HistoryDialog* dialog = commands->historyDialog();
        if (!dialog || !dialog->isVisible()) {
            QTextStream(stderr) << "bench_history: \"Storico\" did not open\n";
            return 2;
        }
        lines += int(dialog->shownLines().size());
        dialog->reject();
        QApplication::processEvents();
    }
    targets.report(
        QStringLiteral("Storico di un nucleo (mediana, %1 righe in media)").arg(lines / 50),
        ms(median(opening)), QStringLiteral("ms"), 100, 1);
    out << QStringLiteral("  il più lento: %1 ms\n").arg(slowest(opening), 0, 'f', 1);
    return targets.finish();
}
