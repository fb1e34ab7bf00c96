// marvesa-initdb: the office IT's tool for Marvesa's databases. It creates a
// new, empty database with its tables and the reference lists of
// municipalities and countries, in a file or on a PostgreSQL server; moves an
// office's file database to the server; brings a database made by an earlier
// version up to date. On a server it also makes the three roles of the
// desks (marvesa_lettura, marvesa_operatore, marvesa_amministratore) and
// gives them their rights.
//
//   marvesa-initdb [--gruppo GRUPPO] PATH
//   marvesa-initdb CONNECTION
//   marvesa-initdb --copy-from FILE CONNECTION
//   marvesa-initdb --aggiorna PATH|CONNECTION
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
#include <QDir>
#include <QFileInfo>
#include <QTextStream>
#include <functional>
#include <memory>
#include <vector>

#include "data/base/Error.h"
#include "data/schema/FileAccess.h"
#include "data/schema/FileDatabase.h"
#include "data/schema/SchemaUpgrade.h"
#include "data/schema/ServerCopy.h"
#include "data/schema/ServerDatabase.h"
#include "data/sql/EngineFactory.h"
#include "data/sql/ServerAddress.h"

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
    const QString folder = QFileInfo(path).absolutePath();
    if (!QFileInfo::exists(folder)) {
        if (!QDir().mkpath(folder)) {
            throw Error(QStringLiteral("Impossibile creare la cartella \"%1\"")
                            .arg(QDir::toNativeSeparators(folder)));
        }
        marvesa::files::restrictFolderToOwner(folder);
    }
    // An existing file is refused below, before anything is changed.
    if (!group.isEmpty() && !QFileInfo::exists(path))
        marvesa::files::shareFolderWithGroup(folder, group);
    const marvesa::schema::CreatedDatabase made = marvesa::schema::createDatabase(path, group);
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
              << " alla " << now << ".\n";
    }
    if (engine->dialect() == marvesa::SqlDialect::PostgreSQL)
        printRoles();
    return 0;
}

// A command named by its first argument, with the number of arguments that
// follow it.
struct Command {
    QStringList names;
    int arguments;
    std::function<int(const QStringList& args)> run;
};

const std::vector<Command>& commands() {
    static const std::vector<Command> list{
        {{QStringLiteral("--copy-from"), QStringLiteral("--copia-da")}, 2, copyFrom},
        {{QStringLiteral("--aggiorna"), QStringLiteral("--upgrade")}, 1, upgrade},
    };
    return list;
}

const char* const kUsage =
    "Uso: marvesa-initdb [--gruppo GRUPPO] PERCORSO\n"
    "     marvesa-initdb CONNESSIONE\n"
    "     marvesa-initdb --copy-from FILE CONNESSIONE\n"
    "     marvesa-initdb --aggiorna PERCORSO|CONNESSIONE\n"
    "Crea un nuovo database di Marvesa nel file PERCORSO (mai sovrascritto),\n"
    "leggibile e scrivibile solo dal proprietario. Con --gruppo il file e la sua\n"
    "cartella sono condivisi con il gruppo GRUPPO (permessi 0660 e 2770).\n"
    "Oppure crea le tabelle nel database PostgreSQL vuoto CONNESSIONE\n"
    "(\"service=marvesa\", \"postgresql://server/marvesa\"); con --copy-from vi\n"
    "copia tutte le righe del database FILE.\n"
    "Con --aggiorna porta alla versione di questo programma un database creato\n"
    "da una versione precedente (sul server, come proprietario delle tabelle).\n"
    "Sul server crea anche i ruoli marvesa_lettura, marvesa_operatore e\n"
    "marvesa_amministratore e dà loro i permessi sulle tabelle.\n";

int run(QStringList args) {
    if (!args.isEmpty()) {
        for (const Command& c : commands()) {
            if (!c.names.contains(args.at(0)))
                continue;
            if (args.size() != c.arguments + 1)
                throw UsageError{};
            return c.run(args.mid(1));
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
        err() << "marvesa-initdb: " << e.message() << "\n";
        return 1;
    }
}
