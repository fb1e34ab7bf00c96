#include "data/schema/RowChangeTriggers.h"

#include "data/schema/ServerSchema.h"
#include "data/schema/TableDefinitions.h"
#include "data/sql/PostgresEngine.h"
#include "data/sql/SqlText.h"

namespace marvesa::schema {

namespace {

struct Event {
    const char* sql;      // INSERT, UPDATE, DELETE
    const char* trigger;  // the trigger's name after the table's
    const char* row;      // the row the trigger sees: NEW or OLD
    char kind;            // as the log and the notices name it
};

const Event kEvents[] = {{"INSERT", "_INSERTED", "NEW", 'I'},
                         {"UPDATE", "_UPDATED", "NEW", 'U'},
                         {"DELETE", "_DELETED", "OLD", 'D'}};

std::vector<const TableDef*> announcingTables() {
    std::vector<const TableDef*> tables;
    for (const TableDef* t : allTables()) {
        if (t->announcesChanges)
            tables.push_back(t);
    }
    return tables;
}

QString triggerName(const TableDef& table, const char* suffix) {
    return quoteIdentifier(table.name + QLatin1String(suffix));
}

// The counter, which the definitions declare first.
QString counterOf(const TableDef& table) {
    return table.columns.front().name;
}

QStringList fileStatements() {
    const TableDef& log = changeLog();
    const QString logTable = quoteIdentifier(log.name);
    QStringList statements;
    for (const TableDef* t : announcingTables()) {
        for (const Event& e : kEvents) {
            statements << QStringLiteral(
                              "CREATE TRIGGER %1 AFTER %2 ON %3 BEGIN INSERT INTO %4 "
                              "(\"TABELLA\", \"ID_RIGA\", \"OPERAZIONE\") VALUES ('%5', %6.%7, "
                              "'%8'); END")
                              .arg(triggerName(*t, e.trigger), QLatin1String(e.sql),
                                   quoteIdentifier(t->name), logTable, t->name,
                                   QLatin1String(e.row), quoteIdentifier(counterOf(*t)),
                                   QString(QChar::fromLatin1(e.kind)));
        }
    }
    const QString number = quoteIdentifier(counterOf(log));
    statements << QStringLiteral(
                      "CREATE TRIGGER %1 AFTER INSERT ON %2 BEGIN DELETE FROM %2 WHERE %3 <= "
                      "NEW.%3 - %4; END")
                      .arg(triggerName(log, "_PRUNED"), logTable, number)
                      .arg(kChangeLogKept);
    return statements;
}

QStringList serverStatements() {
    const QString channel = QLatin1String(PostgresEngine::kChangeChannel);
    QStringList statements;
    // The first version's announcement, by table name only.
    for (const TableDef* t : announcingTables()) {
        statements << QStringLiteral("DROP TRIGGER IF EXISTS %1 ON %2")
                          .arg(triggerName(*t, "_CHANGES"), quoteIdentifier(t->name));
    }
    statements << QStringLiteral("DROP FUNCTION IF EXISTS marvesa_announce_change()");
    // The statement's rows are its transition table, "marvesa_rows"; the
    // trigger names the counter column.
    statements << QStringLiteral(
                      "CREATE OR REPLACE FUNCTION marvesa_announce_rows() RETURNS trigger "
                      "LANGUAGE plpgsql AS $$\n"
                      "DECLARE\n"
                      "  named bigint;\n"
                      "  ids text;\n"
                      "  notice text;\n"
                      "BEGIN\n"
                      "  IF TG_OP = 'TRUNCATE' THEN\n"
                      "    PERFORM pg_notify('%1', TG_TABLE_NAME || ':*');\n"
                      "    RETURN NULL;\n"
                      "  END IF;\n"
                      "  EXECUTE format('SELECT count(*), string_agg(id::text, '','') FROM "
                      "(SELECT %I AS id FROM marvesa_rows LIMIT %2) r', TG_ARGV[0]) "
                      "INTO named, ids;\n"
                      "  IF named = 0 THEN\n"
                      "    RETURN NULL;\n"
                      "  END IF;\n"
                      "  notice := TG_TABLE_NAME || ':' || left(TG_OP, 1) || ':' || ids;\n"
                      "  IF named > %3 OR octet_length(notice) >= 8000 THEN\n"
                      "    notice := TG_TABLE_NAME || ':*';\n"
                      "  END IF;\n"
                      "  PERFORM pg_notify('%1', notice);\n"
                      "  RETURN NULL;\n"
                      "END $$")
                      .arg(channel)
                      .arg(kMostRowsNamed + 1)
                      .arg(kMostRowsNamed);
    for (const TableDef* t : announcingTables()) {
        const QString counter = QStringLiteral("'%1'").arg(counterOf(*t));
        for (const Event& e : kEvents) {
            statements << QStringLiteral(
                              "CREATE TRIGGER %1 AFTER %2 ON %3 REFERENCING %4 TABLE AS "
                              "marvesa_rows FOR EACH STATEMENT EXECUTE FUNCTION "
                              "marvesa_announce_rows(%5)")
                              .arg(triggerName(*t, e.trigger), QLatin1String(e.sql),
                                   quoteIdentifier(t->name), QLatin1String(e.row), counter);
        }
        statements << QStringLiteral(
                          "CREATE TRIGGER %1 AFTER TRUNCATE ON %2 FOR EACH STATEMENT EXECUTE "
                          "FUNCTION marvesa_announce_rows(%3)")
                          .arg(triggerName(*t, "_TRUNCATED"), quoteIdentifier(t->name), counter);
    }
    return statements;
}

}  // namespace

QStringList rowChangeStatements(SqlDialect dialect) {
    return dialect == SqlDialect::PostgreSQL ? serverStatements() : fileStatements();
}

}  // namespace marvesa::schema
