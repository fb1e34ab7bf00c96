#include "data/schema/SchemaUpgrade.h"

#include "data/base/Error.h"
#include "data/registry/DuplicateCheck.h"
#include "data/registry/PostgresRegistryQueries.h"
#include "data/schema/RecordHistory.h"
#include "data/schema/RowChangeTriggers.h"
#include "data/schema/SchemaWriter.h"
#include "data/schema/ServerRoles.h"
#include "data/schema/ServerSchema.h"
#include "data/schema/SqliteSchema.h"
#include "data/sql/WriteTransaction.h"

namespace marvesa::schema {

namespace {

const SchemaDialect& schemaDialect(SqlDialect dialect) {
    return dialect == SqlDialect::PostgreSQL ? serverDialect() : sqliteDialect();
}

bool hasVersionTable(QtSqlEngine& engine) {
    // Asked of the catalogue: a query of a missing table would end a
    // server's transaction.
    const QString sql =
        engine.dialect() == SqlDialect::PostgreSQL
            ? QStringLiteral("SELECT CASE WHEN to_regclass(?) IS NULL THEN 0 ELSE 1 END")
            : QStringLiteral(
                  "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = ?");
    const QString name = engine.dialect() == SqlDialect::PostgreSQL
                             ? quoteIdentifier(QLatin1String(kVersionTable))
                             : QString::fromLatin1(kVersionTable);
    bool found = false;
    engine.select(
        sql, {name},
        [&](const QVector<QVariant>& row) {
            found = row.value(0).toInt() > 0;
            return false;
        },
        QStringLiteral("Impossibile leggere la versione del database"));
    return found;
}

QString versionTableStatement() {
    return QStringLiteral("CREATE TABLE ") + quoteIdentifier(QLatin1String(kVersionTable)) +
           QStringLiteral(" (\"VERSIONE\" INTEGER NOT NULL)");
}

// Whether this connection's role may change the tables: the owner of
// TBL_NUCLEO, or a member of the role that owns it.
bool ownsTables(QtSqlEngine& engine) {
    bool owns = false;
    engine.select(
        QStringLiteral("SELECT pg_has_role(current_user, c.relowner, 'USAGE') FROM pg_class c "
                       "WHERE c.oid = to_regclass(?)"),
        {quoteIdentifier(QStringLiteral("TBL_NUCLEO"))},
        [&](const QVector<QVariant>& row) {
            owns = row.value(0).toBool();
            return false;
        },
        QStringLiteral("Impossibile leggere la versione del database"));
    return owns;
}

// Version 4, the duplicate check: the name key CHIAVE_NOMINATIVO of every
// member is the program's to compute (data/registry/NameKey), the same on
// both databases. A change of surname or name that does not also set the
// key (the window's cursors, or any other tool: sqlite3, psql) empties it
// here, in plain SQL that every tool runs; the program fills the keys it
// finds empty before it looks anyone up.
QStringList nameKeyTrigger(SqlDialect dialect) {
    if (dialect == SqlDialect::PostgreSQL) {
        return {QStringLiteral(
                    "CREATE OR REPLACE FUNCTION marvesa_chiave_nominativo() RETURNS trigger "
                    "LANGUAGE plpgsql AS $$ BEGIN IF (NEW.\"COGNOME\" IS DISTINCT FROM "
                    "OLD.\"COGNOME\" OR NEW.\"NOME\" IS DISTINCT FROM OLD.\"NOME\") AND "
                    "NEW.\"CHIAVE_NOMINATIVO\" IS NOT DISTINCT FROM OLD.\"CHIAVE_NOMINATIVO\" "
                    "THEN NEW.\"CHIAVE_NOMINATIVO\" := NULL; END IF; RETURN NEW; END $$"),
                QStringLiteral("CREATE TRIGGER \"TBL_ANAGRAFICA_CHIAVE_NOMINATIVO\" BEFORE UPDATE "
                               "OF \"COGNOME\", \"NOME\" ON \"TBL_ANAGRAFICA\" FOR EACH ROW "
                               "EXECUTE FUNCTION marvesa_chiave_nominativo()")};
    }
    return {QStringLiteral(
        "CREATE TRIGGER \"TBL_ANAGRAFICA_CHIAVE_NOMINATIVO\" AFTER UPDATE OF \"COGNOME\", "
        "\"NOME\" ON \"TBL_ANAGRAFICA\" WHEN (new.\"COGNOME\" IS NOT old.\"COGNOME\" OR "
        "new.\"NOME\" IS NOT old.\"NOME\") AND new.\"CHIAVE_NOMINATIVO\" IS "
        "old.\"CHIAVE_NOMINATIVO\" BEGIN UPDATE \"TBL_ANAGRAFICA\" SET \"CHIAVE_NOMINATIVO\" = "
        "NULL WHERE \"ID_ANAGRAFICA\" = new.\"ID_ANAGRAFICA\"; END")};
}

// A new random key (a version 4 UUID as text) for every row of `table` that
// has none: the rows a database held before it had the column, and rows
// another tool stores without one.
QString fillRowKeys(SqlDialect dialect, const QString& table) {
    const QString key = quoteIdentifier(QLatin1String(kRowKeyColumn));
    const QString uuid =
        dialect == SqlDialect::PostgreSQL
            ? QStringLiteral("gen_random_uuid()::text")
            : QStringLiteral(
                  "lower(hex(randomblob(4)) || '-' || hex(randomblob(2)) || '-4' || "
                  "substr(hex(randomblob(2)), 2) || '-' || substr('89ab', 1 + "
                  "(abs(random()) % 4), 1) || substr(hex(randomblob(2)), 2) || '-' || "
                  "hex(randomblob(6)))");
    return QStringLiteral("UPDATE %1 SET %2 = %3 WHERE %2 IS NULL")
        .arg(quoteIdentifier(table), key, uuid);
}

QVariant firstValue(QtSqlEngine& engine, const QString& sql) {
    QVariant value;
    engine.select(
        sql, {},
        [&](const QVector<QVariant>& row) {
            value = row.value(0);
            return false;
        },
        QStringLiteral("Impossibile leggere i ruoli del database"));
    return value;
}

// The roles' rights, inside the caller's transaction.
void grantRoles(QtSqlEngine& engine, bool createRoles) {
    const QString what = QStringLiteral("Impossibile dare i permessi ai ruoli");
    applyServerRoles([&](const QString& sql) { return firstValue(engine, sql); },
                     [&](const QString& sql) { engine.execDirect(sql, what); }, createRoles,
                     engine.location());
}

}  // namespace

void giveServerRoles(QtSqlEngine& engine, bool createRoles) {
    if (engine.dialect() != SqlDialect::PostgreSQL)
        return;
    WriteTransaction transaction(engine, QStringLiteral("TBL_NUCLEO"));
    grantRoles(engine, createRoles);
    transaction.commit();
}

const std::vector<UpgradeStep>& upgradeSteps() {
    // Each version after the first adds its step here, in order; the tables,
    // columns and indexes it brings are declared in TableDefinitions with
    // their `since`.
    static const std::vector<UpgradeStep> steps{
        // 1: every family unit and member carries a key of its own (CHIAVE_RIGA,
        // unique), which the desk gives a new row before storing it; the rows
        // already stored get one here. The search's own objects follow the
        // words it now compares (a server's are made again where they stand).
        {1,
         [](SqlDialect dialect) {
             return QStringList{fillRowKeys(dialect, nucleo().name),
                                fillRowKeys(dialect, anagrafica().name)};
         },
         [](QtSqlEngine& engine) {
             if (engine.dialect() == SqlDialect::PostgreSQL)
                 PostgresRegistryQueries::updateSearchObjects(engine);
         }},
        // 2: the other desks learn which rows changed (the change log of a
        // file, the notices of a server naming the rows).
        {2, rowChangeStatements, {}},
        // 3: the record history, TBL_STORICO, and the triggers that write it.
        {kHistoryVersion,
         [](SqlDialect dialect) { return historyStatements(dialect, kHistoryVersion); },
         {}},
        // 4: the duplicate check: the members' name keys (computed for every
        // member already stored) and the pairs declared different people.
        {4, nameKeyTrigger, [](QtSqlEngine& engine) { duplicates::fillMissingKeys(engine); }},
        // 5: a server writes its history rows with a statement planned once
        // per session, and looks up the roles only for the events that need
        // them (an import of 100,000 members spent most of its time on the
        // two, row by row); a file changes nothing.
        {5, historyFunctionsAgain, {}},
        // 6: the history of an import took longer than storing its rows: a
        // server writes an insert's history rows with one statement for all
        // the rows it stored, a file's triggers write their JSON as text.
        {6, [](SqlDialect dialect) { return historyRecordedFaster(dialect, 6); }, {}},
    };
    return steps;
}

int currentVersion(const std::vector<UpgradeStep>& steps) {
    return steps.empty() ? 0 : steps.back().version;
}

QStringList newDatabaseStatements(SqlDialect dialect, int version) {
    QStringList statements;
    if (version <= 0)
        return statements;
    for (const UpgradeStep& step : upgradeSteps()) {
        if (step.version <= version && step.statements)
            statements << step.statements(dialect);
    }
    statements << versionTableStatement()
               << QStringLiteral("INSERT INTO %1 (\"VERSIONE\") VALUES (%2)")
                      .arg(quoteIdentifier(QLatin1String(kVersionTable)))
                      .arg(version);
    return statements;
}

int storedVersion(QtSqlEngine& engine) {
    if (!hasVersionTable(engine))
        return 0;
    int version = 0;
    engine.select(
        QStringLiteral("SELECT max(\"VERSIONE\") FROM ") +
            quoteIdentifier(QLatin1String(kVersionTable)),
        {},
        [&](const QVector<QVariant>& row) {
            version = row.value(0).toInt();
            return false;
        },
        QStringLiteral("Impossibile leggere la versione del database"));
    return version;
}

int upgradeDatabase(QtSqlEngine& engine, const std::vector<UpgradeStep>& steps) {
    const int target = currentVersion(steps);
    const auto tooNew = [&](int found) {
        return Error(QStringLiteral("Il database \"%1\" è stato aggiornato da una versione più "
                                    "recente di Marvesa (versione del database %2, questo "
                                    "programma conosce fino alla %3): usare il programma più "
                                    "recente su questa postazione")
                         .arg(engine.location())
                         .arg(found)
                         .arg(target));
    };
    int found = storedVersion(engine);
    if (found == target)
        return found;
    if (found > target)
        throw tooNew(found);
    if (engine.dialect() == SqlDialect::PostgreSQL && !ownsTables(engine)) {
        // A desk's role may read and store rows, not change the tables.
        throw Error(QStringLiteral("Il database \"%1\" è della versione %2 e questo programma ha "
                                   "bisogno della %3, ma questa postazione non può aggiornarlo: "
                                   "chi ne è il proprietario può farlo con \"marvesa-initdb "
                                   "--aggiorna CONNESSIONE\"")
                        .arg(engine.location())
                        .arg(found)
                        .arg(target));
    }
    // Whatever the engine learnt of the tables is learnt again afterwards,
    // whether they changed or not.
    struct Relearn {
        QtSqlEngine& engine;
        ~Relearn() { engine.tablesChanged(); }
    } relearn{engine};
    {
        // The lock of the family-unit table: no other desk stores anything
        // while the database changes shape, and a second desk upgrading at
        // the same moment waits here, then finds the work done.
        WriteTransaction transaction(engine, QStringLiteral("TBL_NUCLEO"));
        found = storedVersion(engine);
        if (found > target)
            throw tooNew(found);
        if (found == target)
            return found;
        const QString what = QStringLiteral("Impossibile aggiornare il database");
        const QString table = quoteIdentifier(QLatin1String(kVersionTable));
        if (!hasVersionTable(engine))
            engine.execDirect(versionTableStatement(), what);
        for (const UpgradeStep& step : steps) {
            if (step.version <= found)
                continue;
            for (const QString& sql :
                 addedStatements(schemaDialect(engine.dialect()), step.version))
                engine.execDirect(sql, what);
            if (step.statements) {
                for (const QString& sql : step.statements(engine.dialect()))
                    engine.execDirect(sql, what);
            }
            if (step.migrate)
                step.migrate(engine);
        }
        // A table a step made is given to the roles at once, where they
        // exist (marvesa-initdb --aggiorna makes them).
        if (engine.dialect() == SqlDialect::PostgreSQL)
            grantRoles(engine, false);
        engine.exec(QStringLiteral("DELETE FROM ") + table, {}, what);
        engine.exec(
            QStringLiteral("INSERT INTO ") + table + QStringLiteral(" (\"VERSIONE\") VALUES (?)"),
            {target}, what);
        transaction.commit();
    }
    return found;
}

}  // namespace marvesa::schema
