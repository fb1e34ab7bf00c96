#include "data/sql/EngineFactory.h"

#include "data/sql/PostgresEngine.h"
#include "data/sql/ServerAddress.h"
#include "data/sql/SqliteEngine.h"

namespace marvesa {

std::unique_ptr<QtSqlEngine> engineFor(const QString& location) {
    if (ServerAddress::isServerConnection(location)) {
        return std::make_unique<PostgresEngine>(location);
    }
    return std::make_unique<SqliteEngine>(location);
}

std::unique_ptr<QtSqlEngine> openEngine(const QString& location) {
    std::unique_ptr<QtSqlEngine> engine = engineFor(location);
    engine->connect();
    return engine;
}

}  // namespace marvesa
