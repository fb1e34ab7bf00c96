// bench_server: the registry on a PostgreSQL server, through the real window.
//
//   bench_server --server CONNECTION [--families N] [--members M] [--moves K]
//
// CONNECTION names a server database the benchmark may use to create its own
// database "marvesa_bench" (dropped first when it exists), for instance
// "host=/tmp/pg port=54329 user=marvesa dbname=postgres". Defaults: 30000
// family units, 100000 members, 2000 moves.
//
// Set-up, timed and checked: a file database filled by plain SQL, moved to
// the server with marvesa-initdb's --copy-from (row counts and every row
// compared). Then, with the window created, bound and shown (offscreen is
// fine) as at start-up: opening the family-unit and member tables, moving to
// other family units (each move re-filters the members and refreshes the
// bound controls), one "Salva" of a changed family unit and of a new member
// clicked in the window, and "Esporta" clicked in the window up to the
// finished spreadsheet. Prints the figures with their targets; the exit
// status is 1 when a target is missed.

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>
#include <algorithm>
#include <vector>

#include "BenchSupport.h"
#include "data/registry/DataModule.h"
#include "data/schema/FileDatabase.h"
#include "data/schema/ServerCopy.h"
#include "data/schema/TableDefinitions.h"
#include "data/sql/PostgresEngine.h"
#include "data/sql/SqliteEngine.h"
#include "export/FileOpener.h"
#include "support/ScriptedDialogs.h"
#include "ui/bound/DBEdit.h"
#include "ui/window/Commands.h"
#include "ui/window/MainWindow.h"

using namespace marvesa;
using namespace marvesa::bench;

namespace {

class KeepingOpener : public FileOpener {
public:
    QString opened;
    void open(const QString& path) override { opened = path; }
};

// Every row of a table, "id|values", date-times in one form.
QStringList dump(Engine& engine, const TableDef& table) {
    ReadRequest r;
    r.table = table.name;
    for (const ColumnDef& c : table.columns)
        r.columns << c.name;
    QStringList lines;
    for (const StoredRow& row : engine.read(r)) {
        QString line = QString::number(row.id);
        for (int i = 0; i < row.values.size(); ++i) {
            const QVariant& v = row.values.at(i);
            line += QLatin1Char('|');
            if (v.isNull())
                line += QStringLiteral("<NULL>");
            else if (table.columns[size_t(i)].kind == FieldKind::DateTime)
                line += dateTimeFromStorage(v.toString()).toString(Qt::ISODate);
            else
                line += v.toString();
        }
        lines << line;
    }
    return lines;
}

void click(QWidget* w) {
    QTest::mouseClick(w, Qt::LeftButton);
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QTextStream out(stdout);
    int families = 30000, members = 100000, moves = 2000;
    QString server;
    const Options options(app.arguments());
    families = options.number("--families", families);
    members = options.number("--members", members);
    moves = options.number("--moves", moves);
    server = options.text("--server", server);
    if (server.isEmpty() || families < 2 || members < 1 || moves < 1) {
        QTextStream(stderr) << "Uso: bench_server --server CONNESSIONE [--families N] "
                               "[--members M] [--moves K]\n";
        return 2;
    }
    Targets targets(out);
    test::ScriptedDialogs dialogs;
    // The warning of likely duplicates, were a new member to look like one
    // of the generated names: stored anyway.
    test::ScriptedDuplicateReview duplicates;
    try {
        const QString connection = freshServerDatabase(server, QStringLiteral("marvesa_bench"));

        QTemporaryDir temp;
        const QString file = temp.filePath(QStringLiteral("dbQuaz.mdb"));
        QElapsedTimer timer;
        timer.start();
        schema::createDatabase(file);
        populate(file, families, members, true);
        out << QStringLiteral("Database di prova su file: %1 nuclei, %2 familiari (%3 s)\n")
                   .arg(families)
                   .arg(members)
                   .arg(timer.elapsed() / 1000.0, 0, 'f', 1);

        timer.restart();
        const schema::ServerDatabase copied = schema::copyToServer(file, connection);
        out << QStringLiteral("--copy-from sul server: %1 s;")
                   .arg(timer.elapsed() / 1000.0, 0, 'f', 1);
        for (const auto& t : copied.rows)
            out << QStringLiteral(" %1 %2").arg(t.first).arg(t.second);
        out << "\n";
        {
            SqliteEngine fromFile(file);
            PostgresEngine onServer(connection);
            fromFile.connect();
            onServer.connect();
            int tables = 0;
            for (const TableDef* t : schema::allTables()) {
                if (t->changeLog)
                    continue;  // a file's own
                const QStringList inFile = dump(fromFile, *t);
                QStringList copy = dump(onServer, *t);
                // The server's history ends with the copy's own event, an
                // import of the file's rows.
                if (t->name == QLatin1String("TBL_STORICO") && copy.size() == inFile.size() + 1 &&
                    copy.last().contains(QLatin1String("|IMPORTA|")))
                    copy.removeLast();
                if (inFile != copy)
                    throw Error(
                        QStringLiteral("--copy-from: la tabella %1 differisce").arg(t->name));
                ++tables;
            }
            out << QStringLiteral("Righe confrontate una per una: uguali in tutte le %1 tabelle\n")
                       .arg(tables);
        }

        // The window and the data module in the program's start-up order.
        TfrmMain window;
        TdmMarvesa dm;
        window.bindTo(dm);
        dm.cnQuaz.setDatabasePath(connection);
        dm.cnQuaz.connect();
        timer.restart();
        dm.TBL_NUCLEO.open();
        dm.TBL_ANAGRAFICA.open();
        const qint64 openNs = timer.nsecsElapsed();
        dm.TBL_COMUNI.open();
        dm.TBL_NAZIONI.open();
        dm.TBL_EXPORT.open();
        window.show();
        QApplication::processEvents();
        targets.report(QStringLiteral("Apertura di TBL_NUCLEO e TBL_ANAGRAFICA"), ms(openNs),
                       QStringLiteral("ms"), 500, 1);

        QRandomGenerator rng(2000);
        std::vector<qint64> moveNs;
        for (int i = 0; i < moves; ++i) {
            const int target = int(rng.bounded(families - 1));
            timer.restart();
            if (i % 2 == 0)
                dm.TBL_NUCLEO.moveTo(target);
            else
                dm.TBL_NUCLEO.next();
            moveNs.push_back(timer.nsecsElapsed());
        }
        targets.report(QStringLiteral("Spostamento a un altro nucleo, mediana"), ms(median(moveNs)),
                       QStringLiteral("ms"), 2, 3);

        // "Salva" of a changed family unit, and of a new member.
        std::vector<qint64> saveNucleoNs, saveMemberNs;
        for (int i = 0; i < 50; ++i) {
            dm.TBL_NUCLEO.moveTo(int(rng.bounded(families - 1)));
            click(window.btnEditNucleo);
            window.dbeTelefono->setFocus();
            QTest::keyClicks(window.dbeTelefono, QStringLiteral(" %1").arg(i));
            timer.restart();
            click(window.btnSaveNucleo);
            saveNucleoNs.push_back(timer.nsecsElapsed());

            click(window.btnNewAnag);
            const std::vector<std::pair<QWidget*, const char*>> typed{
                {window.dbeCognome, "rossi"},
                {window.dbeNome, "anna"},
                {window.dbeSesso, "F"},
                {window.dbeDataNascita, "01/02/1990"},
                {window.dbeNazNascita, "Ucraina"},
                {window.dbeCittadinanza, "Ucraina"},
                {window.dbeParentela, "Figlia"},
                {window.dbeDataIngresso, "03/03/2022"},
                {window.dbeFrontiera, "polonia"}};
            for (const auto& [edit, text] : typed) {
                edit->setFocus();
                QTest::keyClicks(edit, QString::fromLatin1(text));
            }
            timer.restart();
            click(window.btnSaveAnag);
            saveMemberNs.push_back(timer.nsecsElapsed());
        }
        if (!dialogs.shown.isEmpty())
            throw Error(QStringLiteral("Salva: ") + dialogs.shown.first().text);
        targets.report(QStringLiteral("\"Salva\" di un nucleo modificato, mediana"),
                       ms(median(saveNucleoNs)), QStringLiteral("ms"), 20, 2);
        targets.report(QStringLiteral("\"Salva\" di un nuovo familiare, mediana"),
                       ms(median(saveMemberNs)), QStringLiteral("ms"), 20, 2);

        KeepingOpener opener;
        setExportServices({temp.filePath(QStringLiteral("export")), &opener});
        timer.restart();
        click(window.btnExport);
        const qint64 exportNs = timer.nsecsElapsed();
        if (opener.opened.isEmpty() || !dialogs.shown.isEmpty())
            throw Error(QStringLiteral("Esporta non ha prodotto il foglio"));
        out << QStringLiteral("Esporta: %1 righe in TBL_EXPORT\n").arg(dm.TBL_EXPORT.recordCount());
        targets.report(QStringLiteral("\"Esporta\" dalla finestra"), ms(exportNs) / 1000.0,
                       QStringLiteral("s"), 4, 2);
        setExportServices({});
    } catch (const Error& e) {
        QTextStream(stderr) << "bench_server: " << e.message() << "\n";
        return 1;
    }
    return targets.finish();
}
