#pragma once

#include <QStringList>

namespace marvesa::schema {

struct SchemaDialect;

// How a file database spells the declared tables.
const SchemaDialect& sqliteDialect();

// The statements that make the tables, indexes and triggers of a new file
// database of version `version` (-1: the version this program works with).
QStringList sqliteCreateStatements(int version = -1);

}  // namespace marvesa::schema
