// marvesa-initdb: creates a new, empty Marvesa database with its tables and
// the reference lists of municipalities and countries, in a file or on a
// PostgreSQL server; or moves an office's file database to the server.
//
//   marvesa-initdb [--gruppo GRUPPO] PATH
//   marvesa-initdb CONNECTION
//   marvesa-initdb --copy-from FILE CONNECTION
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
// touches a server database that already has any of the tables. Exit status 0
// on success, 1 on failure, 2 on wrong usage.

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTextStream>

#include "data/base/Error.h"
#include "data/schema/FileAccess.h"
#include "data/schema/FileDatabase.h"
#include "data/schema/ServerCopy.h"
#include "data/schema/ServerDatabase.h"
#include "data/sql/ServerAddress.h"

namespace {

void printRows(QTextStream& out, const marvesa::schema::ServerDatabase& db) {
    for (const auto& t : db.rows)
        out << "  " << t.first << ": " << t.second << " righe\n";
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QTextStream out(stdout), err(stderr);
    QStringList args = app.arguments();
    args.removeFirst();
    const bool copy = args.size() == 3 && args.at(0) == QLatin1String("--copy-from");
    QString group;
    if (args.size() == 3 &&
        (args.at(0) == QLatin1String("--gruppo") || args.at(0) == QLatin1String("--group"))) {
        group = args.at(1);
        args = args.mid(2);
    }
    if (!copy && (args.size() != 1 || args.at(0).startsWith(QLatin1Char('-')) ||
                  group.startsWith(QLatin1Char('-')))) {
        err << "Uso: marvesa-initdb [--gruppo GRUPPO] PERCORSO\n"
            << "     marvesa-initdb CONNESSIONE\n"
            << "     marvesa-initdb --copy-from FILE CONNESSIONE\n"
            << "Crea un nuovo database di Marvesa nel file PERCORSO (mai sovrascritto),\n"
            << "leggibile e scrivibile solo dal proprietario. Con --gruppo il file e la sua\n"
            << "cartella sono condivisi con il gruppo GRUPPO (permessi 0660 e 2770).\n"
            << "Oppure crea le tabelle nel database PostgreSQL vuoto CONNESSIONE\n"
            << "(\"service=marvesa\", \"postgresql://server/marvesa\"); con --copy-from vi\n"
            << "copia tutte le righe del database FILE.\n";
        return 2;
    }
    try {
        if (copy) {
            if (!marvesa::ServerAddress::isServerConnection(args.at(2))) {
                err << "marvesa-initdb: \"" << args.at(2)
                    << "\" non è una connessione a un server PostgreSQL\n";
                return 2;
            }
            const auto copied = marvesa::schema::copyToServer(args.at(1), args.at(2));
            out << "Copiato il database \"" << args.at(1) << "\" nel " << copied.description
                << ":\n";
            printRows(out, copied);
            return 0;
        }
        const QString path = args.at(0);
        if (group.isEmpty() && marvesa::ServerAddress::isServerConnection(path)) {
            const auto made = marvesa::schema::createServerDatabase(path);
            out << "Create le tabelle di Marvesa nel " << made.description << ":\n";
            printRows(out, made);
            return 0;
        }
        const QString folder = QFileInfo(path).absolutePath();
        if (!QFileInfo::exists(folder)) {
            if (!QDir().mkpath(folder)) {
                throw marvesa::Error(QStringLiteral("Impossibile creare la cartella \"%1\"")
                                         .arg(QDir::toNativeSeparators(folder)));
            }
            marvesa::files::restrictFolderToOwner(folder);
        }
        // An existing file is refused below, before anything is changed.
        if (!group.isEmpty() && !QFileInfo::exists(path)) {
            marvesa::files::shareFolderWithGroup(folder, group);
        }
        const marvesa::schema::CreatedDatabase made = marvesa::schema::createDatabase(path, group);
        out << "Creato il database \"" << made.path << "\": tabelle TBL_NUCLEO, TBL_ANAGRAFICA, "
            << "TBL_EXPORT, TBL_SYS_COMUNI (" << made.municipalities << " comuni), "
            << "TBL_SYS_NAZIONE (" << made.countries << " nazioni)";
        if (!group.isEmpty())
            out << ", condiviso con il gruppo \"" << group << "\"";
        out << ".\n";
        return 0;
    } catch (const marvesa::Error& e) {
        err << "marvesa-initdb: " << e.message() << "\n";
        return 1;
    }
}
