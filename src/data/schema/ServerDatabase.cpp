#include "data/schema/ServerDatabase.h"

#include <QSqlError>

#include "data/schema/ReferenceLists.h"
#include "data/schema/SchemaUpgrade.h"
#include "data/schema/SchemaWriter.h"
#include "data/schema/ServerSchema.h"
#include "data/schema/ServerSession.h"

namespace marvesa::schema {

ServerDatabase createServerDatabase(const QString& connection, int version) {
    const QStringList comuniList = municipalities();
    const QStringList nazioniList = countries();
    ServerSession session(connection);
    session.requireNoTables();
    session.createTables(version);
    auto load = [&](const TableDef& t, const QStringList& names) {
        const QSqlError e = loadReferenceList(session.db(), t, names);
        if (e.isValid())
            session.fail(e.databaseText().trimmed());
    };
    load(comuni(), comuniList);
    load(nazioni(), nazioniList);
    session.createSearchObjects();
    session.giveRoles();
    ServerDatabase made{session.describe(), {}};
    // The tables of the version made: an older one has fewer.
    const int madeVersion = version < 0 ? currentVersion() : version;
    for (const TableDef* t : allTables()) {
        if (t->since <= madeVersion && makes(serverDialect(), *t))
            made.rows.append({t->name, session.count(*t)});
    }
    session.commit();
    return made;
}

}  // namespace marvesa::schema
