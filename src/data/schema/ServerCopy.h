#pragma once

#include <QString>

#include "data/schema/ServerDatabase.h"

namespace marvesa::schema {

// Copies every row of the file database `file`, counters included, into the
// empty database `connection`: the tables are created, filled, the counters
// set past the highest copied value, and the row counts of every table
// compared with the file's, all in one transaction. Refuses, changing
// nothing, when any of the tables exists.
ServerDatabase copyToServer(const QString& file, const QString& connection);

}  // namespace marvesa::schema
