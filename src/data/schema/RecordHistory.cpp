#include "data/schema/RecordHistory.h"

#include "data/schema/TableDefinitions.h"
#include "data/sql/SqlText.h"

namespace marvesa::schema {

namespace {

QString q(const QString& name) {
    return quoteIdentifier(name);
}

QString historyTable() {
    return q(storico().name);
}

std::vector<const TableDef*> tablesWithHistory() {
    std::vector<const TableDef*> tables;
    for (const TableDef* t : allTables()) {
        if (t->keepsHistory)
            tables.push_back(t);
    }
    return tables;
}

// The columns of `table` a history row records at `version`: all but the
// counter and the program's own keys (the row key, the name key of the
// duplicate check), which are nobody's change and would only repeat the
// names the history already holds.
std::vector<const ColumnDef*> recordedColumns(const TableDef& table, int version) {
    std::vector<const ColumnDef*> columns;
    for (const ColumnDef& c : table.columns) {
        if (c.kind != FieldKind::Counter && !c.rowKey && !c.internal && c.since <= version)
            columns.push_back(&c);
    }
    return columns;
}

const ColumnDef& counterOf(const TableDef& table) {
    return table.columns.front();
}

bool hasFamilyCode(const TableDef& table) {
    for (const ColumnDef& c : table.columns) {
        if (c.name == QLatin1String("CODICE_NUCLEO"))
            return true;
    }
    return false;
}

// ------------------------------------------------------------------ file

// A column of the row `row` ("new", "old") as JSON can hold it: bytes
// another tool stored in a text column go in as their hexadecimal digits
// (JSON holds no bytes, and the tool's change must not fail for it).
QString sqliteValue(const QString& row, const ColumnDef& c) {
    const QString column = row + QLatin1Char('.') + q(c.name);
    if (c.kind == FieldKind::Text || c.kind == FieldKind::Memo) {
        return QStringLiteral("CASE WHEN typeof(%1) = 'blob' THEN hex(%1) ELSE %1 END").arg(column);
    }
    return column;
}

QString sqliteTriggerName(const TableDef& table, QChar operation) {
    return q(table.name + QStringLiteral("_STORICO_") + operation);
}

// The JSON object of the columns that changed, "k": [old, new] for each, as
// text: a piece for each column, empty unless it changed, joined and
// stripped of the first separator. (Built with json_group_object over a
// select for each column, the history of an import took as long as its
// rows.)
QString sqliteValues(const TableDef& table, int version, QChar operation) {
    QStringList parts;
    for (const ColumnDef* c : recordedColumns(table, version)) {
        const QString column = q(c->name);
        const QString oldValue =
            operation == QLatin1Char('I')
                ? QStringLiteral("'null'")
                : QStringLiteral("json_quote(%1)").arg(sqliteValue(QStringLiteral("old"), *c));
        const QString newValue =
            operation == QLatin1Char('D')
                ? QStringLiteral("'null'")
                : QStringLiteral("json_quote(%1)").arg(sqliteValue(QStringLiteral("new"), *c));
        QString condition;
        switch (operation.toLatin1()) {
            case 'I':
                condition = QStringLiteral("new.%1 IS NOT NULL").arg(column);
                break;
            case 'D':
                condition = QStringLiteral("old.%1 IS NOT NULL").arg(column);
                break;
            default:
                condition = QStringLiteral("new.%1 IS NOT old.%1").arg(column);
                break;
        }
        parts << QStringLiteral(
                     "CASE WHEN %1 THEN ', \"%2\": [' || %3 || ', ' || %4 || ']' "
                     "ELSE '' END")
                     .arg(condition, c->name, oldValue, newValue);
    }
    return QStringLiteral("'{' || substr(%1, 3) || '}'").arg(parts.join(QStringLiteral(" || ")));
}

QStringList sqliteTableTriggers(const TableDef& table, int version) {
    QStringList statements;
    for (const QChar operation : {QLatin1Char('I'), QLatin1Char('U'), QLatin1Char('D')}) {
        const QString row =
            operation == QLatin1Char('D') ? QStringLiteral("old") : QStringLiteral("new");
        QString event;
        switch (operation.toLatin1()) {
            case 'I':
                event = QStringLiteral("AFTER INSERT ON ") + q(table.name);
                break;
            case 'D':
                event = QStringLiteral("AFTER DELETE ON ") + q(table.name);
                break;
            default: {
                // An update that changes nothing leaves no row.
                QStringList changed;
                for (const ColumnDef* c : recordedColumns(table, version))
                    changed << QStringLiteral("new.%1 IS NOT old.%1").arg(q(c->name));
                event = QStringLiteral("AFTER UPDATE ON %1 WHEN %2")
                            .arg(q(table.name), changed.join(QStringLiteral(" OR ")));
                break;
            }
        }
        const QString family = hasFamilyCode(table) ? row + QStringLiteral(".\"CODICE_NUCLEO\"")
                                                    : QStringLiteral("NULL");
        statements << QStringLiteral(
                          "CREATE TRIGGER %1 %2 BEGIN INSERT INTO %3 (\"TABELLA\", \"ID_RIGA\", "
                          "\"CODICE_NUCLEO\", \"OPERAZIONE\", \"VALORI\") VALUES ('%4', %5.%6, "
                          "%7, '%8', %9); END")
                          .arg(sqliteTriggerName(table, operation), event, historyTable(),
                               table.name, row, q(counterOf(table).name), family,
                               QString(operation), sqliteValues(table, version, operation));
    }
    return statements;
}

const QString kSqliteUpdateGuard = QStringLiteral("TBL_STORICO_SOLO_AGGIUNTE");
const QString kSqliteDeleteGuard = QStringLiteral("TBL_STORICO_NON_CANCELLABILE");

// Refuses every update of a history row but one: the program's connection
// filling in the user and computer of the newest row, which its own change
// has just written without them; nothing else of the row may change.
QString sqliteUpdateGuard() {
    QStringList unchanged;
    for (const ColumnDef& c : storico().columns) {
        if (c.name != QLatin1String("UTENTE") && c.name != QLatin1String("POSTAZIONE"))
            unchanged << QStringLiteral("new.%1 IS old.%1").arg(q(c.name));
    }
    return QStringLiteral(
               "CREATE TRIGGER %1 BEFORE UPDATE ON %2 WHEN NOT (old.\"UTENTE\" IS NULL AND "
               "old.\"POSTAZIONE\" IS NULL AND %3 AND old.\"ID_STORICO\" = (SELECT "
               "max(\"ID_STORICO\") FROM %2)) BEGIN SELECT RAISE(ABORT, 'Lo storico delle "
               "modifiche (TBL_STORICO) non si può modificare: vi si aggiungono solo righe'); END")
        .arg(q(kSqliteUpdateGuard), historyTable(), unchanged.join(QStringLiteral(" AND ")));
}

QStringList sqliteGuards() {
    return {sqliteUpdateGuard(),
            QStringLiteral("CREATE TRIGGER %1 BEFORE DELETE ON %2 BEGIN SELECT RAISE(ABORT, 'Lo "
                           "storico delle modifiche (TBL_STORICO) non si può cancellare'); END")
                .arg(q(kSqliteDeleteGuard), historyTable())};
}

// ---------------------------------------------------------------- server

// One function for every table that keeps a history: it reads the whole old
// and new rows as JSON, so a column added later is recorded without a change
// here. An insert or a delete records every column that holds a value; an
// update compares the two rows column by column.
//
// The history row goes into TBL_STORICO of the tables' own schema: the
// function runs with that schema, then pg_temp, as its search path
// (kServerRowFunctionPath), so that a temporary table of the same name,
// which a session would otherwise find first, cannot take it. The statement
// is planned once per session, where a statement naming the schema at each
// call was planned again for every row.
const char* const kServerRowFunction = R"(CREATE OR REPLACE FUNCTION marvesa_storico_riga()
RETURNS trigger LANGUAGE plpgsql AS $$
DECLARE
  vecchi jsonb;
  nuovi jsonb;
  riga jsonb;
  valori jsonb;
BEGIN
  IF TG_OP <> 'INSERT' THEN vecchi := to_jsonb(OLD); END IF;
  IF TG_OP <> 'DELETE' THEN nuovi := to_jsonb(NEW); END IF;
  riga := coalesce(nuovi, vecchi);
  IF TG_OP = 'UPDATE' THEN
    SELECT coalesce(jsonb_object_agg(k, jsonb_build_array(vecchi -> k, nuovi -> k)), '{}'::jsonb)
      INTO valori
      FROM jsonb_object_keys(riga) AS k
     WHERE k <> TG_ARGV[0] AND k NOT IN ('CHIAVE_RIGA', 'CHIAVE_NOMINATIVO')
       AND coalesce(vecchi -> k, 'null'::jsonb) IS DISTINCT FROM coalesce(nuovi -> k, 'null'::jsonb);
    IF valori = '{}'::jsonb THEN
      RETURN NULL;
    END IF;
  ELSE
    SELECT coalesce(jsonb_object_agg(e.key, CASE WHEN TG_OP = 'INSERT'
                                                 THEN jsonb_build_array(NULL, e.value)
                                                 ELSE jsonb_build_array(e.value, NULL) END),
                    '{}'::jsonb)
      INTO valori
      FROM jsonb_each(jsonb_strip_nulls(riga) - TG_ARGV[0] - 'CHIAVE_RIGA' - 'CHIAVE_NOMINATIVO') AS e;
  END IF;
  INSERT INTO "TBL_STORICO" ("TABELLA", "ID_RIGA", "CODICE_NUCLEO", "OPERAZIONE", "VALORI")
  VALUES (TG_TABLE_NAME, (riga ->> TG_ARGV[0])::bigint, riga ->> 'CODICE_NUCLEO', left(TG_OP, 1),
          valori::text);
  RETURN NULL;
END $$)";

// The search path of marvesa_storico_riga(): the schema the tables are made
// in (the current one of the connection making them), then pg_temp.
const char* const kServerRowFunctionPath = R"(DO $$
BEGIN
  EXECUTE format('ALTER FUNCTION marvesa_storico_riga() SET search_path = %I, pg_temp',
                 current_schema());
END $$)";

// Who, when and from where: whatever the row says, the server's own facts.
// An import or an anonymisation is recorded only for the owner of the
// tables or a member of marvesa_amministratore: the work it records, in the
// same transaction, is refused with it.
const char* const kServerWhoFunction = R"(CREATE OR REPLACE FUNCTION marvesa_storico_chi()
RETURNS trigger LANGUAGE plpgsql AS $$
DECLARE
  programma text := coalesce(current_setting('application_name', true), '');
  indirizzo text := host(inet_client_addr());
BEGIN
  -- The roles are looked up for those two events alone: asked in one
  -- condition with the test of the event, they were for every row.
  IF NEW."OPERAZIONE" IN ('IMPORTA', 'ANONIMIZZA') THEN
    IF NOT pg_has_role(session_user, (SELECT relowner FROM pg_class WHERE oid = TG_RELID),
                       'MEMBER')
       AND NOT EXISTS (SELECT 1 FROM pg_roles r WHERE r.rolname = 'marvesa_amministratore'
                       AND pg_has_role(session_user, r.oid, 'MEMBER')) THEN
      RAISE EXCEPTION 'Solo il ruolo marvesa_amministratore può importare o anonimizzare i dati'
        USING ERRCODE = '42501';
    END IF;
  END IF;
  NEW."QUANDO" := CURRENT_TIMESTAMP(0) AT TIME ZONE 'UTC';
  NEW."UTENTE" := session_user;
  NEW."POSTAZIONE" := CASE WHEN programma LIKE 'marvesa:%' THEN substr(programma, 9)
                           ELSE nullif(programma, '') END;
  IF indirizzo IS NOT NULL THEN
    NEW."POSTAZIONE" := concat_ws(' ', NEW."POSTAZIONE", '(' || indirizzo || ')');
  END IF;
  RETURN NEW;
END $$)";

// The history only grows; the anonymisation's transaction alone may rewrite
// its rows (marvesa.anonimizzazione, set for that transaction only).
const char* const kServerGuardFunction = R"(CREATE OR REPLACE FUNCTION marvesa_storico_immutabile()
RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  IF TG_OP = 'UPDATE' AND current_setting('marvesa.anonimizzazione', true) = 'on' THEN
    RETURN NEW;
  END IF;
  RAISE EXCEPTION 'Lo storico delle modifiche (TBL_STORICO) non si può modificare né cancellare: vi si aggiungono solo righe';
END $$)";

// TRUNCATE deletes rows without a trigger for each: refused where every
// deletion must be recorded.
const char* const kServerNoTruncateFunction =
    R"(CREATE OR REPLACE FUNCTION marvesa_nessun_troncamento()
RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  RAISE EXCEPTION 'La tabella % tiene lo storico delle modifiche: le righe si cancellano con DELETE, non con TRUNCATE', TG_TABLE_NAME;
END $$)";

QStringList serverTableTriggers() {
    QStringList statements;
    for (const TableDef* t : tablesWithHistory()) {
        statements << QStringLiteral(
                          "CREATE TRIGGER %1 AFTER INSERT OR UPDATE OR DELETE ON %2 FOR EACH ROW "
                          "EXECUTE FUNCTION marvesa_storico_riga('%3')")
                          .arg(q(t->name + QStringLiteral("_STORICO")), q(t->name),
                               counterOf(*t).name)
                   << QStringLiteral(
                          "CREATE TRIGGER %1 BEFORE TRUNCATE ON %2 FOR EACH STATEMENT EXECUTE "
                          "FUNCTION marvesa_nessun_troncamento()")
                          .arg(q(t->name + QStringLiteral("_NO_TRUNCATE")), q(t->name));
    }
    return statements;
}

QStringList serverHistoryStatements() {
    QStringList statements{
        QString::fromUtf8(kServerRowFunction), QString::fromUtf8(kServerRowFunctionPath),
        QString::fromUtf8(kServerWhoFunction), QString::fromUtf8(kServerGuardFunction),
        QString::fromUtf8(kServerNoTruncateFunction)};
    statements << serverTableTriggers();
    statements << QStringLiteral(
                      "CREATE TRIGGER \"TBL_STORICO_CHI\" BEFORE INSERT ON %1 FOR EACH ROW "
                      "EXECUTE FUNCTION marvesa_storico_chi()")
                      .arg(historyTable())
               << QStringLiteral(
                      "CREATE TRIGGER \"TBL_STORICO_SOLO_AGGIUNTE\" BEFORE UPDATE OR DELETE ON %1 "
                      "FOR EACH ROW EXECUTE FUNCTION marvesa_storico_immutabile()")
                      .arg(historyTable())
               << QStringLiteral(
                      "CREATE TRIGGER \"TBL_STORICO_NO_TRUNCATE\" BEFORE TRUNCATE ON %1 FOR EACH "
                      "STATEMENT EXECUTE FUNCTION marvesa_storico_immutabile()")
                      .arg(historyTable());
    return statements;
}

// An insert's history rows, all written by one statement when the insert
// ends: the rows it stored are read from its transition table (marvesa_nuove)
// and their values written as JSON text column by column, named at the
// version the function is made for. Written row by row through
// marvesa_storico_riga(), the history of 100,000 imported members took
// twice as long as storing them; this takes a fifth of it. Updates and
// deletes keep the row function, which compares the old and new rows.
//
// A NULL column is left out (concat_ws skips it), as in the row function.
QString serverInsertedValues(const TableDef& table, int version) {
    QStringList parts;
    for (const ColumnDef* c : recordedColumns(table, version)) {
        parts << QStringLiteral(
                     "CASE WHEN %1 IS NOT NULL THEN '\"%2\": [null, ' || "
                     "to_json(%1)::text || ']' END")
                     .arg(q(c->name), c->name);
    }
    return QStringLiteral("'{' || concat_ws(', ', %1) || '}'").arg(parts.join(u", "));
}

QStringList serverInsertFunction(int version) {
    QString branches;
    for (const TableDef* t : tablesWithHistory()) {
        branches += QStringLiteral(
                        "  %1 TG_TABLE_NAME = '%2' THEN\n"
                        "    INSERT INTO %3 (\"TABELLA\", \"ID_RIGA\", "
                        "\"CODICE_NUCLEO\", \"OPERAZIONE\", \"VALORI\")\n"
                        "    SELECT '%2', %4, %5, 'I', %6 FROM marvesa_nuove;\n")
                        .arg(branches.isEmpty() ? QStringLiteral("IF") : QStringLiteral("ELSIF"),
                             t->name, historyTable(), q(counterOf(*t).name),
                             hasFamilyCode(*t) ? QStringLiteral("\"CODICE_NUCLEO\"")
                                               : QStringLiteral("NULL"),
                             serverInsertedValues(*t, version));
    }
    const QString function =
        QStringLiteral(
            "CREATE OR REPLACE FUNCTION marvesa_storico_inserite()\n"
            "RETURNS trigger LANGUAGE plpgsql AS $$\nBEGIN\n%1"
            "  ELSE\n    RAISE EXCEPTION 'marvesa_storico_inserite(): la tabella % "
            "non tiene lo storico', TG_TABLE_NAME;\n  END IF;\n  RETURN NULL;\nEND $$")
            .arg(branches);
    // The same search path as the row function's, for the same reason.
    const QString path = QStringLiteral(
        "DO $$\nBEGIN\n  EXECUTE format('ALTER FUNCTION marvesa_storico_inserite() SET "
        "search_path = %I, pg_temp', current_schema());\nEND $$");
    return {function, path};
}

// Version 6: the tables' inserts write their history with the function
// above, once per statement; the row function keeps updates and deletes.
QStringList serverInsertTriggers(int version) {
    QStringList statements = serverInsertFunction(version);
    for (const TableDef* t : tablesWithHistory()) {
        const QString rowTrigger = q(t->name + QStringLiteral("_STORICO"));
        statements << QStringLiteral("DROP TRIGGER IF EXISTS %1 ON %2").arg(rowTrigger, q(t->name))
                   << QStringLiteral(
                          "CREATE TRIGGER %1 AFTER UPDATE OR DELETE ON %2 FOR EACH ROW "
                          "EXECUTE FUNCTION marvesa_storico_riga('%3')")
                          .arg(rowTrigger, q(t->name), counterOf(*t).name)
                   << QStringLiteral(
                          "CREATE TRIGGER %1 AFTER INSERT ON %2 REFERENCING NEW TABLE "
                          "AS marvesa_nuove FOR EACH STATEMENT EXECUTE FUNCTION "
                          "marvesa_storico_inserite()")
                          .arg(q(t->name + QStringLiteral("_STORICO_I")), q(t->name));
    }
    return statements;
}

}  // namespace

QStringList historyStatements(SqlDialect dialect, int version) {
    if (dialect == SqlDialect::PostgreSQL)
        return serverHistoryStatements();
    QStringList statements;
    for (const TableDef* t : tablesWithHistory())
        statements << sqliteTableTriggers(*t, version);
    return statements << sqliteGuards();
}

QStringList historyTriggersAgain(SqlDialect dialect, int version) {
    if (dialect == SqlDialect::PostgreSQL)
        return serverInsertFunction(version);
    QStringList statements;
    for (const TableDef* t : tablesWithHistory()) {
        for (const QChar operation : {QLatin1Char('I'), QLatin1Char('U'), QLatin1Char('D')}) {
            statements << QStringLiteral("DROP TRIGGER IF EXISTS ") +
                              sqliteTriggerName(*t, operation);
        }
        statements << sqliteTableTriggers(*t, version);
    }
    return statements;
}

QStringList historyRecordedFaster(SqlDialect dialect, int version) {
    if (dialect != SqlDialect::PostgreSQL)
        return historyTriggersAgain(dialect, version);
    return serverInsertTriggers(version);
}

QStringList historyFunctionsAgain(SqlDialect dialect) {
    if (dialect != SqlDialect::PostgreSQL)
        return {};
    return {QString::fromUtf8(kServerRowFunction), QString::fromUtf8(kServerRowFunctionPath),
            QString::fromUtf8(kServerWhoFunction)};
}

QStringList historyOpenForErasure(SqlDialect dialect) {
    if (dialect == SqlDialect::PostgreSQL)
        return {QStringLiteral("SET LOCAL marvesa.anonimizzazione = 'on'")};
    return {QStringLiteral("DROP TRIGGER ") + q(kSqliteUpdateGuard)};
}

QStringList historyClosedAgain(SqlDialect dialect) {
    if (dialect == SqlDialect::PostgreSQL)
        return {QStringLiteral("SET LOCAL marvesa.anonimizzazione = 'off'")};
    return {sqliteUpdateGuard()};
}

SessionStatements historySessionStatements() {
    SessionStatements s;
    s.before << QStringLiteral(
                    "CREATE TEMP TABLE IF NOT EXISTS \"marvesa_postazione\" (\"UTENTE\" TEXT, "
                    "\"POSTAZIONE\" TEXT)")
             << QStringLiteral("DELETE FROM temp.\"marvesa_postazione\"");
    s.insert = QStringLiteral(
        "INSERT INTO temp.\"marvesa_postazione\" (\"UTENTE\", \"POSTAZIONE\") VALUES (?, ?)");
    // A trigger of this connection alone (TEMP), on the history table of the
    // file: names in its body are looked for among the temporary tables
    // first, then in the file.
    s.after << QStringLiteral(
                   "CREATE TEMP TRIGGER IF NOT EXISTS \"marvesa_storico_chi\" AFTER INSERT ON "
                   "main.%1 WHEN new.\"UTENTE\" IS NULL BEGIN UPDATE %1 SET \"UTENTE\" = (SELECT "
                   "\"UTENTE\" FROM \"marvesa_postazione\"), \"POSTAZIONE\" = (SELECT "
                   "\"POSTAZIONE\" FROM \"marvesa_postazione\") WHERE \"ID_STORICO\" = "
                   "new.\"ID_STORICO\"; END")
                   .arg(historyTable());
    return s;
}

}  // namespace marvesa::schema
