#pragma once

#include <QString>
#include <QStringList>

#include "data/schema/TableDefinitions.h"

namespace marvesa::schema {

struct SchemaDialect;

// How a server database spells the declared tables.
const SchemaDialect& serverDialect();

// The statements that make the tables, indexes and triggers of a new server
// database of version `version` (-1: the version this program works with),
// with the announcement of their changes to the other desks.
QStringList serverCreateStatements(int version = -1);

// The first version's trigger that announces the changes of `table` to the
// other desks by its name (replaced in version 2 by those that name the
// rows, schema/RowChangeTriggers).
QString serverChangeTrigger(const TableDef& table);

}  // namespace marvesa::schema
