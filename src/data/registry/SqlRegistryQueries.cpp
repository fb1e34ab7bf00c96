#include "data/registry/SqlRegistryQueries.h"

#include "data/registry/RegistryRows.h"
#include "data/sql/EngineFactory.h"
#include "data/sql/QtSqlEngine.h"

namespace marvesa {

SqlRegistryQueries::SqlRegistryQueries(std::shared_ptr<QtSqlEngine> connection)
    : m_db(std::move(connection)) {}

SqlRegistryQueries::~SqlRegistryQueries() = default;

std::shared_ptr<QtSqlEngine> RegistryConnection::open(const QStringList& session) const {
    if (m_engine)
        return m_engine->openSecondConnection(session);
    std::shared_ptr<QtSqlEngine> engine = engineFor(m_location);
    engine->setSessionStatements(session);
    engine->connect();
    return engine;
}

SearchResult SqlRegistryQueries::find(const QString& text, int limit) {
    SearchResult result;
    if (!isSearchable(text))
        return result;
    ensureSearchObjects();
    SearchStatements search;
    if (!searchStatements(text, limit, &search))
        return result;
    const QString what = QStringLiteral("Impossibile cercare");

    // The first matches are taken before sorting (limit + 1 of them), so
    // that a short word that matches half the registry costs no more than a
    // precise one.
    db().select(
        search.families, search.values,
        [&](const Row& row) {
            result.hits.push_back(registry_rows::familyHit(row));
            return true;
        },
        what);
    if (int(result.hits.size()) > limit) {
        result.hits.resize(size_t(limit));
        result.truncated = true;
    }
    int members = 0;
    db().select(
        search.members, search.values,
        [&](const Row& row) {
            if (++members > limit) {
                result.truncated = true;
                return false;
            }
            result.hits.push_back(registry_rows::memberHit(row));
            return true;
        },
        what);
    return result;
}

bool SqlRegistryQueries::isOpen() const {
    return m_db && m_db->isConnected();
}

}  // namespace marvesa
