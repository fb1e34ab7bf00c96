#pragma once

#include <QStringList>
#include <functional>
#include <vector>

#include "data/sql/QtSqlEngine.h"

namespace marvesa::schema {

// One version of the database after the first. A database of version
// `version` - 1 becomes one of `version` in three moves, all inside the one
// write transaction of upgradeDatabase():
//   1. the tables, columns and indexes the definitions declare `since`
//      `version` are made (addedStatements());
//   2. `statements` run, in the engine's own words: triggers, functions,
//      values filled in with SQL;
//   3. `migrate` runs, for what only the program can compute.
struct UpgradeStep {
    int version = 0;
    std::function<QStringList(SqlDialect dialect)> statements;
    std::function<void(QtSqlEngine& engine)> migrate;
};

// The steps of this program, one per version from 1, in order.
const std::vector<UpgradeStep>& upgradeSteps();

// The version of the database this program works with: that of its last
// step (0 when it has none).
int currentVersion(const std::vector<UpgradeStep>& steps = upgradeSteps());

// The version a database is at: the one TBL_SYS_VERSIONE holds, 0 for a
// database made before it existed.
int storedVersion(QtSqlEngine& engine);

// Brings the connected database up to the last of `steps`, in one write
// transaction (no other desk stores anything meanwhile, and a desk opening
// the database at the same moment finds it done and does nothing); returns
// the version found. Nothing is done to a database that is up to date; one
// made by a newer program is refused, as is one this connection may not
// change (a desk's role on a server): the message then says who can bring
// it up to date. Throws marvesa::Error; a failure leaves the database as it
// was.
int upgradeDatabase(QtSqlEngine& engine, const std::vector<UpgradeStep>& steps = upgradeSteps());

// On a server: gives the database the three roles and their rights
// (schema/ServerRoles.h), in a write transaction of its own; makes the roles
// where they are missing when `createRoles`, and then throws
// marvesa::Error when this connection may not make them. Nothing on a file.
void giveServerRoles(QtSqlEngine& engine, bool createRoles);

// What a new database of version `version` gets after its tables and
// indexes: the statements of every step up to `version` (a new database has
// no rows to migrate) and, from version 1, the table of the version.
QStringList newDatabaseStatements(SqlDialect dialect, int version);

// The table that holds the version.
inline constexpr const char* kVersionTable = "TBL_SYS_VERSIONE";

}  // namespace marvesa::schema
