// marvesa-initdb: creates a new, empty Marvesa database with its tables and
// the reference lists of municipalities and countries, in a file or on a
// PostgreSQL server; or moves an office's file database to the server.
//
//   marvesa-initdb PATH
//   marvesa-initdb CONNECTION
//   marvesa-initdb --copy-from FILE CONNECTION
//
// CONNECTION is a libpq connection string ("service=marvesa",
// "host=registry.example dbname=marvesa") or URI
// ("postgresql://registry.example/marvesa"). Never overwrites a file nor
// touches a server database that already has any of the tables. Exit status 0
// on success, 1 on failure, 2 on wrong usage.

#include <QCoreApplication>
#include <QTextStream>

#include "data/Error.h"
#include "data/PostgresEngine.h"
#include "data/Schema.h"
#include "data/ServerSchema.h"

namespace {

void printRows(QTextStream& out, const marvesa::schema::ServerDatabase& db) {
    for (const auto& t : db.rows) out << "  " << t.first << ": " << t.second << " righe\n";
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QTextStream out(stdout), err(stderr);
    const QStringList args = app.arguments();
    const bool copy = args.size() == 4 && args.at(1) == QLatin1String("--copy-from");
    if (!copy && (args.size() != 2 || args.at(1).startsWith(QLatin1Char('-')))) {
        err << "Uso: marvesa-initdb PERCORSO\n"
            << "     marvesa-initdb CONNESSIONE\n"
            << "     marvesa-initdb --copy-from FILE CONNESSIONE\n"
            << "Crea un nuovo database di Marvesa nel file PERCORSO (mai sovrascritto) o nel\n"
            << "database PostgreSQL vuoto CONNESSIONE (\"service=marvesa\",\n"
            << "\"postgresql://server/marvesa\"); con --copy-from vi copia tutte le righe del\n"
            << "database FILE.\n";
        return 2;
    }
    try {
        if (copy) {
            if (!marvesa::ServerAddress::isServerConnection(args.at(3))) {
                err << "marvesa-initdb: \"" << args.at(3)
                    << "\" non è una connessione a un server PostgreSQL\n";
                return 2;
            }
            const auto copied = marvesa::schema::copyToServer(args.at(2), args.at(3));
            out << "Copiato il database \"" << args.at(2) << "\" nel " << copied.description
                << ":\n";
            printRows(out, copied);
            return 0;
        }
        if (marvesa::ServerAddress::isServerConnection(args.at(1))) {
            const auto made = marvesa::schema::createServerDatabase(args.at(1));
            out << "Create le tabelle di Marvesa nel " << made.description << ":\n";
            printRows(out, made);
            return 0;
        }
        const marvesa::schema::CreatedDatabase made = marvesa::schema::createDatabase(args.at(1));
        out << "Creato il database \"" << made.path << "\": tabelle TBL_NUCLEO, TBL_ANAGRAFICA, "
            << "TBL_EXPORT, TBL_SYS_COMUNI (" << made.municipalities << " comuni), "
            << "TBL_SYS_NAZIONE (" << made.countries << " nazioni).\n";
        return 0;
    } catch (const marvesa::Error& e) {
        err << "marvesa-initdb: " << e.message() << "\n";
        return 1;
    }
}
