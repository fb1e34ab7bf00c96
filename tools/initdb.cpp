// marvesa-initdb: the office IT's tool for Marvesa's databases. It creates a
// new, empty database with its tables and the reference lists of
// municipalities and countries, in a file or on a PostgreSQL server; moves an
// office's file database to the server; brings a database made by an earlier
// version up to date; makes and puts back copies of a database file; brings
// in a list the office keeps (a CSV file or a workbook), showing first what
// it would store. On a server it also makes the three roles of the desks
// (marvesa_lettura, marvesa_operatore, marvesa_amministratore) and gives
// them their rights.
//
//   marvesa-initdb [--gruppo GRUPPO] PATH
//   marvesa-initdb CONNECTION
//   marvesa-initdb --copy-from FILE CONNECTION
//   marvesa-initdb --aggiorna PATH|CONNECTION
//   marvesa-initdb --backup PATH DEST
//   marvesa-initdb --restore BACKUP PATH
//
// --backup makes a checked copy of a database file (into the new file DEST,
// or into the folder DEST named after the database and the moment), for the
// office's own schedule; --restore puts such a copy back in place of the
// database, which must not be in use, keeping the file it replaces.
//
//   marvesa-initdb --importa FILE PATH|CONNECTION [--conferma]
//
// The database file holds personal data: it is made readable and writable by
// its owner alone (0600), and a folder the tool has to make for it is the
// owner's alone (0700). With --gruppo, for an office whose accounts on one
// computer share one database, the folder and the file are given to GRUPPO
// (2770 and 0660), so that every account of the group can work on them.
//
// CONNECTION is a libpq connection string ("service=marvesa",
// "host=registry.example dbname=marvesa") or URI
// ("postgresql://registry.example/marvesa"). Never overwrites a file nor
// touches a server database that already has any of the tables. Every option
// has an Italian and an English name. Exit status 0 on success, 1 on
// failure, 2 on wrong usage.

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QTextStream>
#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

#include "data/base/Error.h"
#include "data/schema/FileBackup.h"
#include "data/schema/FileDatabase.h"
#include "data/schema/FileRestore.h"
#include "data/schema/SchemaUpgrade.h"
#include "data/schema/ServerCopy.h"
#include "data/schema/ServerDatabase.h"
#include "data/sql/EngineFactory.h"
#include "data/sql/ServerAddress.h"
#include "export/import/ImportPlan.h"

namespace {

using marvesa::Error;

QTextStream& out() {
    static QTextStream stream(stdout);
    return stream;
}

QTextStream& err() {
    static QTextStream stream(stderr);
    return stream;
}

// Wrong usage: the tool says what it expected and ends with status 2.
struct UsageError {
    QString text;
};

void printRows(const marvesa::schema::ServerDatabase& db) {
    for (const auto& t : db.rows)
        out() << "  " << t.first << ": " << t.second << " righe\n";
}

void printRoles() {
    out() << "Ruoli marvesa_lettura, marvesa_operatore e marvesa_amministratore pronti, con i loro "
             "permessi.\n";
}

void requireServer(const QString& connection) {
    if (!marvesa::ServerAddress::isServerConnection(connection)) {
        throw UsageError{
            QStringLiteral("\"%1\" non è una connessione a un server PostgreSQL").arg(connection)};
    }
}

int create(const QStringList& args, const QString& group) {
    if (args.size() != 1 || args.at(0).startsWith(QLatin1Char('-')))
        throw UsageError{};
    const QString path = args.at(0);
    if (group.isEmpty() && marvesa::ServerAddress::isServerConnection(path)) {
        const auto made = marvesa::schema::createServerDatabase(path);
        out() << "Create le tabelle di Marvesa nel " << made.description << ":\n";
        printRows(made);
        printRoles();
        return 0;
    }
    const marvesa::schema::CreatedDatabase made =
        marvesa::schema::createDatabaseAndFolder(path, group);
    out() << "Creato il database \"" << made.path << "\": tabelle TBL_NUCLEO, TBL_ANAGRAFICA, "
          << "TBL_EXPORT, TBL_SYS_COMUNI (" << made.municipalities << " comuni), "
          << "TBL_SYS_NAZIONE (" << made.countries << " nazioni)";
    if (!group.isEmpty())
        out() << ", condiviso con il gruppo \"" << group << "\"";
    out() << ".\n";
    return 0;
}

int copyFrom(const QStringList& args) {
    requireServer(args.at(1));
    const auto copied = marvesa::schema::copyToServer(args.at(0), args.at(1));
    out() << "Copiato il database \"" << args.at(0) << "\" nel " << copied.description << ":\n";
    printRows(copied);
    printRoles();
    return 0;
}

int upgrade(const QStringList& args) {
    const std::unique_ptr<marvesa::QtSqlEngine> engine = marvesa::openEngine(args.at(0));
    const int before = marvesa::schema::upgradeDatabase(*engine);
    const int now = marvesa::schema::currentVersion();
    // A server database gets the three roles and their rights too, whatever
    // its version.
    marvesa::schema::giveServerRoles(*engine, true);
    if (before == now) {
        out() << "Il database \"" << engine->location() << "\" è già della versione " << now
              << ".\n";
    } else {
        out() << "Aggiornato il database \"" << engine->location() << "\" dalla versione " << before
              << " alla versione " << now << ".\n";
    }
    if (engine->dialect() == marvesa::SqlDialect::PostgreSQL)
        printRoles();
    return 0;
}

QString requireFile(const QString& path) {
    if (marvesa::ServerAddress::isServerConnection(path)) {
        throw UsageError{QStringLiteral("\"%1\" è un database sul server: le sue copie di "
                                        "sicurezza si fanno con pg_dump e pg_restore")
                             .arg(path)};
    }
    return path;
}

int backup(const QStringList& args) {
    const QString database = requireFile(args.at(0));
    QString destination = args.at(1);
    // Into a folder: a copy named after the database and the moment.
    if (QFileInfo(destination).isDir()) {
        destination =
            QDir(destination)
                .filePath(marvesa::schema::backupFileName(database, QDateTime::currentDateTime()));
    }
    marvesa::schema::backupDatabase(database, destination);
    out() << "Copia di sicurezza del database \""
          << QDir::toNativeSeparators(QFileInfo(database).absoluteFilePath()) << "\" salvata in \""
          << QDir::toNativeSeparators(QFileInfo(destination).absoluteFilePath())
          << "\" (controllo di integrità superato).\n";
    return 0;
}

int restore(const QStringList& args) {
    const QString database = requireFile(args.at(1));
    const marvesa::schema::RestoredDatabase restored =
        marvesa::schema::restoreDatabase(args.at(0), database, QDateTime::currentDateTime());
    out() << "Ripristinato il database \"" << restored.database << "\" dalla copia \""
          << QDir::toNativeSeparators(QFileInfo(args.at(0)).absoluteFilePath())
          << "\": " << restored.families << " nuclei familiari, " << restored.members
          << " familiari.\n";
    if (!restored.replacedAs.isEmpty()) {
        out() << "Il database sostituito è conservato come \"" << restored.replacedAs << "\".\n";
    }
    return 0;
}

// "Importa": prints the preview; with `confirmed`, stores it, all or nothing.
int import(const QStringList& args, bool confirmed) {
    const marvesa::TableFile file = marvesa::readTableFile(args.at(0));
    const std::unique_ptr<marvesa::QtSqlEngine> engine = marvesa::openEngine(args.at(1));
    marvesa::schema::upgradeDatabase(*engine);
    const marvesa::ColumnMapping mapping = marvesa::mappingFor(file.headers);
    const marvesa::ImportPreview preview = marvesa::planImport(*engine, file, mapping);
    out() << preview.report();
    if (!confirmed) {
        out() << "Nulla è stato salvato: per importare ripetere il comando con --conferma.\n";
        return 0;
    }
    const marvesa::ImportOutcome done =
        marvesa::storeImport(*engine, preview, [](int stored, int total) {
            err() << "Importazione: " << stored << " di " << total << " componenti\n";
            err().flush();
            return true;
        });
    out() << "Importati nel database \"" << engine->location() << "\" " << done.families
          << " nuclei familiari e " << done.members << " componenti.\n";
    if (!done.rejectedFile.isEmpty()) {
        out() << "Le righe scartate sono nel file \"" << QDir::toNativeSeparators(done.rejectedFile)
              << "\".\n";
    }
    return 0;
}

// A command named by its first argument, with the number of arguments that
// follow it and the options that may follow those (each with its names).
struct Command {
    QStringList names;
    int arguments;
    std::function<int(const QStringList& args, const QStringList& options)> run;
    std::vector<QStringList> options = {};
};

const std::vector<Command>& commands() {
    const QStringList confirm{QStringLiteral("--conferma"), QStringLiteral("--confirm")};
    static const std::vector<Command> list{
        {{QStringLiteral("--copy-from"), QStringLiteral("--copia-da")},
         2,
         [](const QStringList& args, const QStringList&) { return copyFrom(args); }},
        {{QStringLiteral("--aggiorna"), QStringLiteral("--upgrade")},
         1,
         [](const QStringList& args, const QStringList&) { return upgrade(args); }},
        {{QStringLiteral("--backup"), QStringLiteral("--copia-sicurezza")},
         2,
         [](const QStringList& args, const QStringList&) { return backup(args); }},
        {{QStringLiteral("--restore"), QStringLiteral("--ripristina")},
         2,
         [](const QStringList& args, const QStringList&) { return restore(args); }},
        {{QStringLiteral("--importa"), QStringLiteral("--import")},
         2,
         [confirm](const QStringList& args, const QStringList& options) {
             return import(args, options.contains(confirm.first()));
         },
         {confirm}},
    };
    return list;
}

const char* const kUsage =
    "Uso: marvesa-initdb [--gruppo GRUPPO] PERCORSO\n"
    "     marvesa-initdb CONNESSIONE\n"
    "     marvesa-initdb --copy-from FILE CONNESSIONE\n"
    "     marvesa-initdb --aggiorna PERCORSO|CONNESSIONE\n"
    "     marvesa-initdb --backup PERCORSO DESTINAZIONE\n"
    "     marvesa-initdb --restore COPIA PERCORSO\n"
    "     marvesa-initdb --importa FILE PERCORSO|CONNESSIONE [--conferma]\n"
    "Crea un nuovo database di Marvesa nel file PERCORSO (mai sovrascritto),\n"
    "leggibile e scrivibile solo dal proprietario. Con --gruppo il file e la sua\n"
    "cartella sono condivisi con il gruppo GRUPPO (permessi 0660 e 2770).\n"
    "Oppure crea le tabelle nel database PostgreSQL vuoto CONNESSIONE\n"
    "(\"service=marvesa\", \"postgresql://server/marvesa\"); con --copy-from vi\n"
    "copia tutte le righe del database FILE.\n"
    "Con --aggiorna porta alla versione di questo programma un database creato\n"
    "da una versione precedente (sul server, come proprietario delle tabelle).\n"
    "Con --backup (o --copia-sicurezza) fa una copia di sicurezza controllata del\n"
    "database PERCORSO nel nuovo file DESTINAZIONE, o in una cartella DESTINAZIONE\n"
    "con il nome del database, la data e l'ora; con --restore (o --ripristina)\n"
    "rimette la COPIA al posto del database PERCORSO, che non deve essere in uso,\n"
    "conservando il database sostituito come PERCORSO.before-restore-DATA-ORA.\n"
    "Con --importa mostra che cosa aggiungerebbe al database dal file FILE\n"
    "(.csv, .xlsx, .xltx): nuclei, componenti, righe scartate e possibili\n"
    "doppioni, senza salvare nulla; con --conferma lo salva, tutto o niente, e\n"
    "scrive le righe scartate in un file CSV accanto a FILE.\n"
    "Sul server crea anche i ruoli marvesa_lettura, marvesa_operatore e\n"
    "marvesa_amministratore e dà loro i permessi sulle tabelle.\n";

int run(QStringList args) {
    if (!args.isEmpty()) {
        for (const Command& c : commands()) {
            if (!c.names.contains(args.at(0)))
                continue;
            // The options, by their first name, wherever they stand after
            // the command.
            QStringList plain, options;
            for (const QString& a : args.mid(1)) {
                const auto option =
                    std::find_if(c.options.begin(), c.options.end(),
                                 [&a](const QStringList& names) { return names.contains(a); });
                if (option != c.options.end())
                    options << option->first();
                else
                    plain << a;
            }
            if (plain.size() != c.arguments)
                throw UsageError{};
            return c.run(plain, options);
        }
    }
    QString group;
    if (args.size() == 3 &&
        (args.at(0) == QLatin1String("--gruppo") || args.at(0) == QLatin1String("--group"))) {
        group = args.at(1);
        if (group.startsWith(QLatin1Char('-')))
            throw UsageError{};
        args = args.mid(2);
    }
    return create(args, group);
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments();
    args.removeFirst();
    try {
        return run(args);
    } catch (const UsageError& e) {
        if (!e.text.isEmpty())
            err() << "marvesa-initdb: " << e.text << "\n";
        else
            err() << kUsage;
        return 2;
    } catch (const Error& e) {
        err() << "marvesa-initdb: " << e.message();
        if (!e.detail().isEmpty())
            err() << " (" << e.detail() << ")";
        err() << "\n";
        return 1;
    }
}
