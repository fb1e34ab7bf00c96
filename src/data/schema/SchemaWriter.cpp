#include "data/schema/SchemaWriter.h"

#include "data/schema/TableDefinitions.h"
#include "data/sql/SqlText.h"

namespace marvesa::schema {

namespace {

QString columnType(const SchemaDialect& dialect, const TableDef& table, const ColumnDef& c) {
    switch (c.kind) {
        case FieldKind::Counter:
            return table.staging ? dialect.stagingCounter : dialect.counter;
        case FieldKind::Text:
            return dialect.text.arg(c.width);
        case FieldKind::DateTime:
            return dialect.dateTime;
        case FieldKind::Memo:
            return dialect.memo;
        case FieldKind::Integer:
            return dialect.integer;
    }
    return QString();
}

QString columnSql(const SchemaDialect& dialect, const TableDef& table, const ColumnDef& c) {
    QString sql = quoteIdentifier(c.name) + QLatin1Char(' ') + columnType(dialect, table, c);
    switch (c.byDefault) {
        case ColumnDefault::Null:
            break;
        case ColumnDefault::InsertionTime:
            sql += QStringLiteral(" DEFAULT ") + dialect.insertionTime;
            break;
        case ColumnDefault::InsertionTimeUtc:
            sql += QStringLiteral(" DEFAULT ") + dialect.insertionTimeUtc;
            break;
    }
    return sql;
}

// The table with the columns it has at `version`.
QString createTable(const SchemaDialect& dialect, const TableDef& table, int version) {
    QStringList columns;
    for (const ColumnDef& c : table.columns) {
        if (c.since <= version)
            columns << columnSql(dialect, table, c);
    }
    return QStringLiteral("CREATE TABLE ") + quoteIdentifier(table.name) +
           QStringLiteral(" (\n  ") + columns.join(QStringLiteral(",\n  ")) + QStringLiteral("\n)");
}

QString createIndex(const SchemaDialect& dialect, const TableDef& table, const IndexDef& index) {
    QStringList keys;
    for (const QString& c : index.columns) {
        keys << quoteIdentifier(c) +
                    (index.characterCodeOrder ? dialect.characterCodeOrder : QString());
    }
    QString sql =
        (index.unique ? QStringLiteral("CREATE UNIQUE INDEX ") : QStringLiteral("CREATE INDEX ")) +
        quoteIdentifier(index.name) + QStringLiteral(" ON ") + quoteIdentifier(table.name) +
        QStringLiteral(" (") + keys.join(QStringLiteral(", ")) + QLatin1Char(')');
    if (index.skipsEmpty) {
        sql += QStringLiteral(" WHERE ") + quoteIdentifier(index.columns.first()) +
               QStringLiteral(" <> ''");
    }
    return sql;
}

}  // namespace

bool makes(const SchemaDialect& dialect, const TableDef& table) {
    return !table.changeLog || dialect.keepsChangeLog;
}

QStringList createStatements(const SchemaDialect& dialect, int version,
                             const std::vector<const TableDef*>& tables) {
    QStringList statements;
    for (const TableDef* t : tables) {
        if (t->since > version || !makes(dialect, *t))
            continue;
        statements << createTable(dialect, *t, version);
        if (dialect.afterTable)
            statements << dialect.afterTable(*t);
    }
    for (const TableDef* t : tables) {
        if (t->since > version || !makes(dialect, *t))
            continue;
        for (const IndexDef& i : t->indexes) {
            if (i.since <= version)
                statements << createIndex(dialect, *t, i);
        }
    }
    return statements;
}

QStringList addedStatements(const SchemaDialect& dialect, int version,
                            const std::vector<const TableDef*>& tables) {
    QStringList statements;
    for (const TableDef* t : tables) {
        if (!makes(dialect, *t))
            continue;
        if (t->since == version) {
            statements << createTable(dialect, *t, version);
            if (dialect.afterTable)
                statements << dialect.afterTable(*t);
        } else if (t->since < version) {
            for (const ColumnDef& c : t->columns) {
                if (c.since == version) {
                    statements << QStringLiteral("ALTER TABLE ") + quoteIdentifier(t->name) +
                                      QStringLiteral(" ADD COLUMN ") + columnSql(dialect, *t, c);
                }
            }
        }
    }
    for (const TableDef* t : tables) {
        if (t->since > version || !makes(dialect, *t))
            continue;
        for (const IndexDef& i : t->indexes) {
            if (i.since == version)
                statements << createIndex(dialect, *t, i);
        }
    }
    return statements;
}

}  // namespace marvesa::schema
