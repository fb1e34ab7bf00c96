#pragma once

#include <QSqlError>
#include <QStringList>

#include "data/schema/TableDefinitions.h"

class QSqlDatabase;

namespace marvesa::schema {

// The reference lists shipped with the program, one name a line. Throws
// marvesa::Error when a list is missing from the program.
QStringList municipalities();
QStringList countries();

// The items of the two drop-down lists of a member, in their order: the sex
// ("M", "F") and the relationship within the family unit (16 items).
const QStringList& sexItems();
const QStringList& relationshipItems();

// Stores `names` in the reference table `table` (its text column), one row
// each, on `db`. Returns the database's error, or an invalid one when every
// name is stored.
QSqlError loadReferenceList(const QSqlDatabase& db, const TableDef& table,
                            const QStringList& names);

}  // namespace marvesa::schema
