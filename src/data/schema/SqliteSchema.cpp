#include "data/schema/SqliteSchema.h"

#include "data/schema/TableDefinitions.h"
#include "data/sql/SqlText.h"

namespace marvesa::schema {

namespace {

// DATA_INSERIMENTO takes the local time of insertion, in the stored form of
// every date-time.
const char* const kInsertionTimeDefault = "(strftime('%Y-%m-%dT%H:%M:%S', 'now', 'localtime'))";

// The counters of the family units and of the members are never reused, not
// even after the newest row is deleted (AUTOINCREMENT). The staging table is
// emptied and refilled by every export and nothing refers to its rows: its
// counter only needs to be assigned by the database, and without AUTOINCREMENT
// an insert does not also rewrite the table of counters (one page fewer to
// write per stored row).
QString columnSql(const TableDef& table, const ColumnDef& c) {
    QString sql = quoteIdentifier(c.name) + QLatin1Char(' ');
    switch (c.kind) {
        case FieldKind::Counter:
            sql += table.name == QLatin1String("TBL_EXPORT")
                       ? QStringLiteral("INTEGER PRIMARY KEY")
                       : QStringLiteral("INTEGER PRIMARY KEY AUTOINCREMENT");
            break;
        case FieldKind::Text:
            sql += QStringLiteral("VARCHAR(%1)").arg(c.width);
            break;
        case FieldKind::DateTime:
            sql += QStringLiteral("DATETIME");
            break;
        case FieldKind::Memo:
            sql += QStringLiteral("TEXT");
            break;
    }
    if (c.name == QLatin1String("DATA_INSERIMENTO")) {
        sql += QStringLiteral(" DEFAULT ") + QLatin1String(kInsertionTimeDefault);
    }
    return sql;
}

}  // namespace

QStringList sqliteCreateStatements() {
    QStringList statements;
    for (const TableDef* t : allTables()) {
        QStringList cols;
        for (const ColumnDef& c : t->columns)
            cols << columnSql(*t, c);
        statements << QStringLiteral("CREATE TABLE ") + quoteIdentifier(t->name) +
                          QStringLiteral(" (\n  ") + cols.join(QStringLiteral(",\n  ")) +
                          QStringLiteral("\n)");
    }
    // The staging table is read in family-code order through this index.
    statements << QStringLiteral(
        "CREATE INDEX \"CODICE_NUCLEO\" ON \"TBL_EXPORT\" (\"CODICE_NUCLEO\")");
    // The member table is always read filtered by family code.
    statements << QStringLiteral(
        "CREATE INDEX \"IDX_ANAGRAFICA_CODICE_NUCLEO\" ON \"TBL_ANAGRAFICA\" (\"CODICE_NUCLEO\")");
    statements << uniqueFamilyCodeIndex();
    return statements;
}

}  // namespace marvesa::schema
