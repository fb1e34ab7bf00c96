#include "data/schema/SqliteSchema.h"

#include "data/schema/SchemaUpgrade.h"
#include "data/schema/SchemaWriter.h"

namespace marvesa::schema {

const SchemaDialect& sqliteDialect() {
    static const SchemaDialect dialect = [] {
        SchemaDialect d;
        // The counters are never given twice, not even after the newest row
        // is deleted (AUTOINCREMENT). A staging table needs no more than a
        // counter from the database: without AUTOINCREMENT an insert does not
        // also rewrite the table of counters (one page fewer to write per
        // stored row).
        d.counter = QStringLiteral("INTEGER PRIMARY KEY AUTOINCREMENT");
        d.stagingCounter = QStringLiteral("INTEGER PRIMARY KEY");
        d.text = QStringLiteral("VARCHAR(%1)");
        d.dateTime = QStringLiteral("DATETIME");
        d.memo = QStringLiteral("TEXT");
        // Not INTEGER, which reads as a counter (fieldKindFromDeclaredType).
        d.integer = QStringLiteral("BIGINT");
        // The local time, in the stored form of every date-time.
        d.insertionTime = QStringLiteral("(strftime('%Y-%m-%dT%H:%M:%S', 'now', 'localtime'))");
        d.insertionTimeUtc = QStringLiteral("(strftime('%Y-%m-%dT%H:%M:%S', 'now'))");
        // Text is always compared by the characters' codes (BINARY).
        // The other desks read which rows changed from the change log.
        d.keepsChangeLog = true;
        return d;
    }();
    return dialect;
}

QStringList sqliteCreateStatements(int version) {
    if (version < 0)
        version = currentVersion();
    return createStatements(sqliteDialect(), version) +
           newDatabaseStatements(SqlDialect::SQLite, version);
}

}  // namespace marvesa::schema
