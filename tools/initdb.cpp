// marvesa-initdb: creates a new, empty Marvesa database with its tables and
// the reference lists of municipalities and countries.
//
//   marvesa-initdb PATH
//
// Refuses to overwrite an existing file. Exit status 0 on success, 1 on
// failure, 2 on wrong usage.

#include <QCoreApplication>
#include <QTextStream>

#include "data/Error.h"
#include "data/Schema.h"

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QTextStream out(stdout), err(stderr);
    const QStringList args = app.arguments();
    if (args.size() != 2 || args.at(1).startsWith(QLatin1Char('-'))) {
        err << "Uso: marvesa-initdb PERCORSO\n"
            << "Crea un nuovo database di Marvesa nel file PERCORSO (mai sovrascritto).\n";
        return 2;
    }
    try {
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
