#pragma once

#include <QString>
#include <memory>

#include "data/sql/QtSqlEngine.h"

namespace marvesa {

// The one place that knows every engine.

// The engine for a database location: a PostgreSQL server for a libpq
// connection string or URI ("service=marvesa", "postgresql://server/db"), an
// SQLite file for anything else. Not yet connected, so that a busy observer
// can hear of the waits of connect() itself. Throws marvesa::Error when the
// location cannot be read.
std::unique_ptr<QtSqlEngine> engineFor(const QString& location);

// engineFor(location), connected. Throws marvesa::Error.
std::unique_ptr<QtSqlEngine> openEngine(const QString& location);

}  // namespace marvesa
