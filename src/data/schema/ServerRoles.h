#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>

namespace marvesa {

// The names of the three roles.
inline constexpr const char* kReaderRole = "marvesa_lettura";
inline constexpr const char* kOperatorRole = "marvesa_operatore";
inline constexpr const char* kAdministratorRole = "marvesa_amministratore";

}  // namespace marvesa

namespace marvesa::schema {

// The three roles of a server database, and the rights each has on its
// tables:
//   marvesa_lettura         reads every table;
//   marvesa_operatore       reads, stores and deletes family units and
//                           members, rebuilds the staging table of "Esporta",
//                           adds rows to the history (its triggers do);
//   marvesa_amministratore  as the operator, and rewrites the values of
//                           history rows (the anonymisation; nothing else of
//                           a history row); the history's trigger lets only
//                           it (and the owner of the tables) record an
//                           import or an anonymisation.
// Nobody may change or delete a history row otherwise (its triggers refuse
// it, the owner included). The roles cannot log in: an employee's login is
// made a member of one (GRANT marvesa_operatore TO mrossi).
//
// Reading is granted on every table of the schema, and by default on every
// table the owner makes later (ALTER DEFAULT PRIVILEGES): a table a later
// version adds can be read at once. A later version whose table the desks
// must also write adds its grant to serverGrantStatements(), which
// marvesa-initdb --aggiorna and every upgrade of a database whose roles exist
// apply again (GRANT does nothing to a right already given).
// Only the tables of `tables` (those the database has: a database of an
// earlier version lacks some) are named.
QStringList serverGrantStatements(const QString& schemaName, const QString& owner,
                                  const QStringList& tables);

// The statements that make the three roles where they are missing (as
// roles without login; a role another database of the same server made is
// used as it is).
QStringList serverRoleStatements();

// What a database needs to give the roles their rights, asked through
// `one`, which runs a query and returns its first value.
struct ServerRoleFacts {
    QString schemaName;  // where the tables are
    QString owner;       // who owns them
    QStringList tables;  // the tables the schema has
    bool rolesExist = false;
    bool canCreateRoles = false;  // the connection's role: CREATEROLE or superuser
};
ServerRoleFacts serverRoleFacts(const std::function<QVariant(const QString& sql)>& one);

// The refusal when the roles are missing and this connection may not make
// them: says what the server's administrator runs.
QString missingRolesMessage(const QString& server);

// Runs what gives a database its roles through `run`: the roles made when
// `createRoles` (and missing), then the grants, when the roles exist. Throws
// marvesa::Error when the roles are missing and cannot be made.
void applyServerRoles(const std::function<QVariant(const QString& sql)>& one,
                      const std::function<void(const QString& sql)>& run, bool createRoles,
                      const QString& server);

}  // namespace marvesa::schema
