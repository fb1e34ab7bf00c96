#pragma once

// The registry the window tests start from: three family units and three
// members, made once per test program (see RegistryTemplate).

#include <QString>
#include <QTemporaryDir>

namespace marvesa::test {

// Family units, in table order:
//   QX100 "ROSSI"   host "MARIO BIANCHI " (a trailing blank), "Abano Terme",
//                   no end of hosting; members ANNA (sex "f") and LUCA
//                   (relationship not in the list)
//   QX200 "VERDI"   municipality not in the list, end of hosting 30/06/2025;
//                   member PIA
//   QX300 "NERI"    no members
// written through the data module's cursors into the database at `path`.
void seedDatabase(const QString& path);

class TemplateDatabase {
public:
    // The seeded template's file path; on the server, its database's name.
    static const QString& path();
    // A copy of it: the file "dbQuaz.mdb" in `dir`, or a new database on the
    // server.
    static QString copy(const QTemporaryDir& dir);
};

}  // namespace marvesa::test
