#pragma once

#include <QString>

#include "data/schema/ServerRoles.h"

namespace marvesa {

class Engine;

// What the connection's role lets the clerk do. On a file everything: the
// operating-system account is the only boundary. On a server what the
// role's rights on the tables allow (marvesa-initdb gives the three roles
// their rights): marvesa_lettura reads; marvesa_operatore reads, stores and
// exports; marvesa_amministratore does everything, anonymising and
// importing included, as does the owner of the tables. The window disables
// what is refused and says why; the server refuses it anyway.
struct AccessRights {
    // The role named in the messages: the Marvesa role the login belongs
    // to, or the login itself; empty on a file.
    QString roleName;
    bool canStore = true;       // create, change and delete family units and members
    bool canExport = true;      // "Esporta"
    bool canAdminister = true;  // "Anonimizza", "Cancella dati personali", "Importa"

    // Why a command is refused to this role, for its tooltip and for a
    // screen reader; empty when it is allowed.
    QString storeRefusal() const;
    QString exportRefusal() const;
    QString administerRefusal() const;
};

// Reads the rights of the connection's role from the server (everything on
// a file). Throws marvesa::Error.
AccessRights readAccessRights(Engine& engine);

}  // namespace marvesa
