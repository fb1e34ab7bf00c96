#pragma once

#include <QStringList>

namespace marvesa::schema {

// The statements that make the tables and indexes of a file database.
QStringList sqliteCreateStatements();

}  // namespace marvesa::schema
