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
    }
    return QString();
}

QString createTable(const SchemaDialect& dialect, const TableDef& table) {
    QStringList columns;
    for (const ColumnDef& c : table.columns) {
        QString sql = quoteIdentifier(c.name) + QLatin1Char(' ') + columnType(dialect, table, c);
        switch (c.byDefault) {
            case ColumnDefault::Null:
                break;
            case ColumnDefault::InsertionTime:
                sql += QStringLiteral(" DEFAULT ") + dialect.insertionTime;
                break;
        }
        columns << sql;
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

QStringList createStatements(const SchemaDialect& dialect) {
    const std::vector<const TableDef*> tables = allTables();
    QStringList statements;
    for (const TableDef* t : tables)
        statements << createTable(dialect, *t);
    for (const TableDef* t : tables) {
        for (const IndexDef& i : t->indexes)
            statements << createIndex(dialect, *t, i);
    }
    return statements;
}

}  // namespace marvesa::schema
