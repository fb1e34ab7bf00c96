#pragma once

#include <QStringList>

namespace marvesa::schema {

// The statements that make the tables and indexes of a server database,
// and the announcement of their changes to the other desks.
QStringList serverCreateStatements();

}  // namespace marvesa::schema
