#include "data/registry/PostgresRegistryQueries.h"

#include <QAtomicInt>
#include <QElapsedTimer>
#include <QSqlDriver>
#include <QSqlError>
#include <QThread>
#include <algorithm>

#include "data/base/Error.h"
#include "data/sql/PostgresEngine.h"
#include "data/registry/RegistryRows.h"
#include "data/sql/SqlText.h"
#include "data/base/Value.h"

namespace marvesa {

const char* const PostgresRegistryQueries::kFunction = "marvesa_testo_ricerca";
const char* const PostgresRegistryQueries::kMemberIndex = "IDX_ANAGRAFICA_CERCA";
const char* const PostgresRegistryQueries::kFamilyIndex = "IDX_NUCLEO_CERCA";

namespace {

QAtomicInt g_counter;

// Desks that find the search objects missing make them one at a time.
const qint64 kSetupLock = 0x4d415256455341;  // "MARVESA"
// How long a desk waits for another that is making them.
const int kSetupWaitMs = 120000;

QString errorText(const QSqlError& error) {
    QString text = error.databaseText().trimmed();
    if (text.isEmpty())
        text = error.driverText().trimmed();
    if (text.isEmpty())
        text = error.text().trimmed();
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text;
}

// A text literal for SQL written by the program (names only, never values).
QString literal(const QString& text) {
    QString t = text;
    t.replace(QLatin1Char('\''), QStringLiteral("''"));
    return QLatin1Char('\'') + t + QLatin1Char('\'');
}

// The words of a member: surname and name.
QString memberKey(const QString& row) {
    return QStringLiteral("%2(coalesce(%1.\"COGNOME\", '') || ' ' || coalesce(%1.\"NOME\", ''))")
        .arg(row, QLatin1String(PostgresRegistryQueries::kFunction));
}

// The words of a family unit: its code, the code's digits alone, its
// description and its host.
QString familyKey(const QString& row) {
    return QStringLiteral(
               "%2(coalesce(%1.\"CODICE_NUCLEO\", '') || ' ' || CASE WHEN %1.\"CODICE_NUCLEO\" "
               "LIKE 'QX%' THEN substr(%1.\"CODICE_NUCLEO\", 3) ELSE '' END || ' ' || "
               "coalesce(%1.\"DENOMINAZIONE\", '') || ' ' || coalesce(%1.\"NOME_OSPITANTE\", ''))")
        .arg(row, QLatin1String(PostgresRegistryQueries::kFunction));
}

// Runs the statements that make the search objects on `db`. Concurrently:
// in autocommit, the indexes built without blocking the other desks' writes.
void createObjects(QSqlDatabase& db, bool concurrently,
                   const std::function<void(const QSqlError&)>& fail) {
    QSqlQuery q(db);
    const auto run = [&](const QString& sql) {
        if (!q.exec(sql))
            fail(q.lastError());
    };
    const auto value = [&](const QString& sql, const QVariant& bound) {
        if (!q.prepare(sql))
            fail(q.lastError());
        q.addBindValue(bound);
        if (!q.exec())
            fail(q.lastError());
        const QVariant v = q.next() ? q.value(0) : QVariant();
        q.finish();
        return v;
    };
    run(QStringLiteral("CREATE EXTENSION IF NOT EXISTS unaccent"));
    run(QStringLiteral("CREATE EXTENSION IF NOT EXISTS pg_trgm"));
    const auto schemaOf = [&](const char* extension) {
        return value(QStringLiteral("SELECT n.nspname FROM pg_extension e JOIN pg_namespace n "
                                    "ON n.oid = e.extnamespace WHERE e.extname = ?"),
                     QString::fromLatin1(extension))
            .toString();
    };
    const QString unaccent = quoteIdentifier(schemaOf("unaccent"));
    const QString trgm = quoteIdentifier(schemaOf("pg_trgm"));
    if (value(QStringLiteral("SELECT to_regprocedure(?) IS NOT NULL"),
              QLatin1String(PostgresRegistryQueries::kFunction) + QStringLiteral("(text)"))
            .toBool() == false) {
        // Every name qualified: the function also runs where the search
        // path differs (a restore of a backup). Its cost tells the planner
        // that working it out row by row is dear: a search always goes
        // through the trigram index, also when it expects many matches and
        // asks for the first few only.
        run(QStringLiteral(
                "CREATE FUNCTION %1(text) RETURNS text LANGUAGE sql IMMUTABLE STRICT "
                "PARALLEL SAFE COST 10000 AS $f$ SELECT ' ' || "
                "pg_catalog.btrim(pg_catalog.regexp_replace("
                "pg_catalog.lower(%2.unaccent(%3::regdictionary, pg_catalog.translate($1, "
                "'''`´‘’ʼ', ''))), '[^[:alnum:]]+', ' ', 'g')) $f$")
                .arg(QLatin1String(PostgresRegistryQueries::kFunction), unaccent,
                     literal(unaccent + QStringLiteral(".unaccent"))));
    }
    const QString how = concurrently ? QStringLiteral("CONCURRENTLY ") : QString();
    const auto index = [&](const char* name, const char* table, const QString& key) {
        const QString quoted = quoteIdentifier(QLatin1String(name));
        // An index an interrupted build left unusable is made again.
        const QVariant valid = value(QStringLiteral("SELECT i.indisvalid FROM pg_index i "
                                                    "WHERE i.indexrelid = to_regclass(?)"),
                                     quoted);
        if (valid.isValid() && valid.toBool())
            return;
        if (valid.isValid())
            run(QStringLiteral("DROP INDEX %1%2").arg(how, quoted));
        run(QStringLiteral("CREATE INDEX %1%2 ON %3 USING gin ((%4) %5.gin_trgm_ops)")
                .arg(how, quoted, quoteIdentifier(QLatin1String(table)), key, trgm));
    };
    index(PostgresRegistryQueries::kMemberIndex, "TBL_ANAGRAFICA",
          memberKey(QStringLiteral("\"TBL_ANAGRAFICA\"")));
    index(PostgresRegistryQueries::kFamilyIndex, "TBL_NUCLEO",
          familyKey(QStringLiteral("\"TBL_NUCLEO\"")));
}

using registry_rows::isoDay;
using registry_rows::sortByCount;
using registry_rows::text;
using registry_rows::storedDate;

}  // namespace

PostgresRegistryQueries::PostgresRegistryQueries(const QString& connection)
    : m_connectionName(
          QStringLiteral("marvesa-pg-registry-%1").arg(g_counter.fetchAndAddRelaxed(1))) {
    const ServerAddress address(connection);
    m_shown = address.shortForm();
    QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), m_connectionName);
    try {
        address.configure(database);
    } catch (...) {
        database = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_connectionName);
        throw;
    }
    openOrForget();
}

PostgresRegistryQueries::PostgresRegistryQueries(Tag, const QString& sqlConnectionName)
    : m_connectionName(
          QStringLiteral("marvesa-pg-registry-%1").arg(g_counter.fetchAndAddRelaxed(1))) {
    QSqlDatabase database = QSqlDatabase::cloneDatabase(sqlConnectionName, m_connectionName);
    m_shown = database.databaseName();
    if (!database.hostName().isEmpty() && !database.hostName().startsWith(QLatin1Char('/'))) {
        m_shown = database.hostName() + QLatin1Char('/') + m_shown;
    }
    openOrForget();
}

std::unique_ptr<PostgresRegistryQueries> PostgresRegistryQueries::sharingSettingsOf(
    const QString& sqlConnectionName) {
    return std::unique_ptr<PostgresRegistryQueries>(
        new PostgresRegistryQueries(Tag{}, sqlConnectionName));
}

PostgresRegistryQueries::~PostgresRegistryQueries() {
    m_statements.clear();
    {
        QSqlDatabase database = QSqlDatabase::database(m_connectionName, false);
        if (database.isOpen())
            database.close();
    }
    QSqlDatabase::removeDatabase(m_connectionName);
}

void PostgresRegistryQueries::openOrForget() {
    try {
        open();
    } catch (...) {
        {
            QSqlDatabase database = QSqlDatabase::database(m_connectionName, false);
            database.close();
        }
        QSqlDatabase::removeDatabase(m_connectionName);
        throw;
    }
}

void PostgresRegistryQueries::open() {
    QSqlDatabase database = QSqlDatabase::database(m_connectionName, false);
    if (!database.open()) {
        throw Error(QStringLiteral("Impossibile collegarsi al database \"%1\": %2")
                        .arg(m_shown, errorText(database.lastError())));
    }
    QSqlQuery q(database);
    // Dates read as text in one form; every search planned for its own
    // words, so that the trigram indexes serve each one; no parallel
    // workers and no compiling of queries, whose start costs more than
    // these short questions take.
    for (const char* sql : {"SET DateStyle TO ISO, YMD", "SET plan_cache_mode TO force_custom_plan",
                            "SET client_min_messages TO warning",
                            "SET max_parallel_workers_per_gather TO 0", "SET jit TO off"}) {
        if (!q.exec(QString::fromLatin1(sql)))
            fail(QStringLiteral("Impossibile collegarsi"), q.lastError());
    }
}

QSqlDatabase PostgresRegistryQueries::db() {
    QSqlDatabase database = QSqlDatabase::database(m_connectionName, false);
    if (!database.isOpen()) {
        // The server dropped the connection earlier: connect again.
        m_statements.clear();
        open();
    }
    return database;
}

void PostgresRegistryQueries::fail(const QString& what, const QSqlError& error) {
    const QString why = errorText(error);
    QSqlDatabase database = QSqlDatabase::database(m_connectionName, false);
    if (error.type() == QSqlError::ConnectionError || !database.isOpen() ||
        (database.isOpen() && !QSqlQuery(database).exec(QStringLiteral("SELECT 1")))) {
        // Connected again at the next question.
        m_statements.clear();
        database.close();
    }
    throw Error(QStringLiteral("%1: %2 (database \"%3\")").arg(what, why, m_shown));
}

QSqlQuery& PostgresRegistryQueries::prepared(const QString& sql) {
    QSqlDatabase database = db();
    auto it = m_statements.find(sql);
    if (it == m_statements.end()) {
        QSqlQuery q(database);
        q.setForwardOnly(true);
        if (!q.prepare(sql))
            fail(QStringLiteral("Istruzione non accettata dal database"), q.lastError());
        it = m_statements.insert(sql, q);
    }
    return it.value();
}

void PostgresRegistryQueries::execPrepared(QSqlQuery& q, const QString& what) {
    if (q.exec())
        return;
    const QSqlError error = q.lastError();
    q.finish();
    fail(what, error);
}

// ------------------------------------------------------------ search objects

bool PostgresRegistryQueries::searchObjectsThere(bool requireIndexes) {
    QSqlQuery& q = prepared(QStringLiteral(
        "SELECT to_regprocedure(?) IS NOT NULL, (SELECT count(*) FROM pg_index i WHERE "
        "i.indisvalid AND i.indexrelid IN (to_regclass(?), to_regclass(?)))"));
    q.addBindValue(QLatin1String(kFunction) + QStringLiteral("(text)"));
    q.addBindValue(quoteIdentifier(QLatin1String(kMemberIndex)));
    q.addBindValue(quoteIdentifier(QLatin1String(kFamilyIndex)));
    execPrepared(q, QStringLiteral("Impossibile preparare la ricerca"));
    bool there = false;
    if (q.next())
        there = q.value(0).toBool() && (!requireIndexes || q.value(1).toInt() == 2);
    q.finish();
    return there;
}

void PostgresRegistryQueries::prepare() {
    ensureSearchObjects();
    // The server plans the first search of a connection slowly (it reads
    // the indexes' definitions): done now, before the operator types.
    find(QStringLiteral("zq"), 1);
}

bool PostgresRegistryQueries::ensureSearchObjects() {
    if (m_searchChecked)
        return false;
    // Made already: nothing written, no lock taken.
    if (searchObjectsThere(true)) {
        m_searchChecked = true;
        return false;
    }
    QSqlDatabase database = db();
    QSqlQuery lock(database);
    const auto advisory = [&](const char* function) {
        if (!lock.prepare(QStringLiteral("SELECT %1(?)").arg(QLatin1String(function))))
            return false;
        lock.addBindValue(kSetupLock);
        const bool done = lock.exec() && lock.next() && lock.value(0).toBool();
        lock.finish();
        return done;
    };
    // One desk at a time: a desk that comes second waits and then finds
    // everything made by the first. It waits between tries outside any
    // statement, since the first one's CREATE INDEX CONCURRENTLY waits in
    // turn for every statement in course.
    QElapsedTimer waited;
    waited.start();
    while (!advisory("pg_try_advisory_lock")) {
        if (lock.lastError().isValid())
            fail(QStringLiteral("Impossibile preparare la ricerca"), lock.lastError());
        if (waited.elapsed() > kSetupWaitMs) {
            throw Error(QStringLiteral("Impossibile preparare la ricerca: un'altra postazione la "
                                       "sta preparando da più di %1 secondi; riprovare più tardi "
                                       "(database \"%2\")")
                            .arg(kSetupWaitMs / 1000)
                            .arg(m_shown));
        }
        QThread::msleep(200);
    }
    bool made = false;
    try {
        if (!searchObjectsThere(true)) {
            createObjects(database, true, [this](const QSqlError& e) {
                fail(QStringLiteral("Impossibile preparare la ricerca (servono le estensioni "
                                    "unaccent e pg_trgm del server e i diritti del proprietario "
                                    "del database)"),
                     e);
            });
            made = true;
        }
    } catch (...) {
        if (database.isOpen())
            advisory("pg_advisory_unlock");
        throw;
    }
    advisory("pg_advisory_unlock");
    m_searchChecked = true;
    return made;
}

void PostgresRegistryQueries::createSearchObjects(QSqlDatabase& db) {
    createObjects(db, false, [](const QSqlError& e) {
        throw Error(QStringLiteral("Impossibile preparare la ricerca (servono le estensioni "
                                   "unaccent e pg_trgm del server): %1")
                        .arg(errorText(e)));
    });
}

// ------------------------------------------------------------ Cerca

QStringList PostgresRegistryQueries::normalisedWords(const QString& searchText) {
    QStringList words;
    QSqlQuery& q = prepared(QStringLiteral("SELECT %1(?)").arg(QLatin1String(kFunction)));
    for (const QString& word : searchWords(searchText)) {
        q.addBindValue(word);
        execPrepared(q, QStringLiteral("Impossibile cercare"));
        const QString normalised = q.next() ? q.value(0).toString() : QString();
        q.finish();
        if (!normalised.trimmed().isEmpty())
            words << normalised;
    }
    return words;
}

SearchResult PostgresRegistryQueries::find(const QString& searchText, int limit) {
    SearchResult result;
    if (!isSearchable(searchText))
        return result;
    ensureSearchObjects();
    const QStringList words = normalisedWords(searchText);
    if (words.isEmpty())
        return result;
    // Each word: a word of the row that begins with it.
    QStringList patterns;
    for (QString w : words) {
        w.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
        w.replace(QLatin1Char('%'), QStringLiteral("\\%"));
        w.replace(QLatin1Char('_'), QStringLiteral("\\_"));
        patterns << QLatin1Char('%') + w + QLatin1Char('%');
    }
    const auto where = [&](const QString& key) {
        QStringList c;
        for (int i = 0; i < patterns.size(); ++i)
            c << key + QStringLiteral(" LIKE ?");
        return c.join(QStringLiteral(" AND "));
    };
    const auto bind = [&](QSqlQuery& q) {
        for (const QString& p : patterns)
            q.addBindValue(p);
        q.addBindValue(limit + 1);
        execPrepared(q, QStringLiteral("Impossibile cercare"));
    };

    // The first matches are taken before sorting, so that a short word that
    // matches half the registry costs no more than a precise one.
    QSqlQuery& families = prepared(
        QStringLiteral(
            "SELECT n.\"ID_NUCLEO\", n.\"CODICE_NUCLEO\", n.\"DENOMINAZIONE\", "
            "n.\"NOME_OSPITANTE\", n.\"COMUNE\" FROM (SELECT t.\"ID_NUCLEO\" AS r FROM "
            "\"TBL_NUCLEO\" t WHERE %1 LIMIT ?) f JOIN \"TBL_NUCLEO\" n ON n.\"ID_NUCLEO\" = f.r "
            "ORDER BY n.\"CODICE_NUCLEO\" COLLATE \"C\" NULLS FIRST, n.\"ID_NUCLEO\"")
            .arg(where(familyKey(QStringLiteral("t")))));
    bind(families);
    registry_rows::appendFamilyHits(families, &result);
    families.finish();
    if (int(result.hits.size()) > limit) {
        result.hits.resize(size_t(limit));
        result.truncated = true;
    }

    // The member's family unit: the first that carries its code, found on
    // the index of family codes (which leaves out the empty code; a member
    // with an empty code finds a family unit with an empty code the slow way).
    QSqlQuery& members = prepared(
        QStringLiteral(
            "SELECT a.\"ID_ANAGRAFICA\", a.\"COGNOME\", a.\"NOME\", a.\"DATA_NASCITA\"::text, "
            "a.\"CODICE_NUCLEO\", n.\"ID_NUCLEO\", n.\"DENOMINAZIONE\", n.\"NOME_OSPITANTE\", "
            "n.\"COMUNE\" FROM (SELECT t.\"ID_ANAGRAFICA\" AS r FROM \"TBL_ANAGRAFICA\" t "
            "WHERE %1 LIMIT ?) f JOIN \"TBL_ANAGRAFICA\" a ON a.\"ID_ANAGRAFICA\" = f.r "
            "LEFT JOIN LATERAL (SELECT u.* FROM ("
            "SELECT m.\"ID_NUCLEO\", m.\"DENOMINAZIONE\", m.\"NOME_OSPITANTE\", m.\"COMUNE\" "
            "FROM \"TBL_NUCLEO\" m WHERE m.\"CODICE_NUCLEO\" = a.\"CODICE_NUCLEO\" "
            "AND m.\"CODICE_NUCLEO\" <> '' UNION ALL "
            "SELECT m.\"ID_NUCLEO\", m.\"DENOMINAZIONE\", m.\"NOME_OSPITANTE\", m.\"COMUNE\" "
            "FROM \"TBL_NUCLEO\" m WHERE a.\"CODICE_NUCLEO\" = '' AND m.\"CODICE_NUCLEO\" = '') u "
            "ORDER BY u.\"ID_NUCLEO\" LIMIT 1) n ON true "
            "ORDER BY a.\"COGNOME\" COLLATE \"C\" NULLS FIRST, a.\"NOME\" COLLATE \"C\" NULLS "
            "FIRST, a.\"ID_ANAGRAFICA\"")
            .arg(where(memberKey(QStringLiteral("t")))));
    bind(members);
    registry_rows::appendMemberHits(members, limit, &result);
    members.finish();
    return result;
}

// ------------------------------------------------------------ Riepilogo

OfficeSummary PostgresRegistryQueries::summary(const QDate& today) {
    OfficeSummary s;
    s.today = today;
    const QString what = QStringLiteral("Impossibile calcolare il riepilogo");
    const auto run = [&](const QString& sql, const QVariantList& values) -> QSqlQuery& {
        QSqlQuery& q = prepared(sql);
        for (const QVariant& v : values)
            q.addBindValue(v);
        execPrepared(q, what);
        return q;
    };
    // d.day is the day: an end of hosting on that day or later, or none, is
    // a hosting in course.
    const QString hosted =
        QStringLiteral("(n.\"TERMINE_ALLOGGIO\" IS NULL OR n.\"TERMINE_ALLOGGIO\" >= d.day)");

    QSqlQuery& f = run(
        QStringLiteral(
            "WITH d AS (SELECT CAST(? AS timestamp) AS day, CAST(? AS timestamp) AS after7, "
            "CAST(? AS timestamp) AS after30) "
            "SELECT count(*) FILTER (WHERE %1), count(*) FILTER (WHERE n.\"TERMINE_ALLOGGIO\" < "
            "d.day), count(*) FILTER (WHERE n.\"TERMINE_ALLOGGIO\" >= d.day AND "
            "n.\"TERMINE_ALLOGGIO\" < d.after7), count(*) FILTER (WHERE n.\"TERMINE_ALLOGGIO\" "
            ">= d.day AND n.\"TERMINE_ALLOGGIO\" < d.after30) FROM \"TBL_NUCLEO\" n CROSS JOIN d")
            .arg(hosted),
        {isoDay(today), isoDay(today.addDays(8)), isoDay(today.addDays(31))});
    if (f.next()) {
        s.familiesHosted = f.value(0).toInt();
        s.familiesEnded = f.value(1).toInt();
        s.endingWithin7 = f.value(2).toInt();
        s.endingWithin30 = f.value(3).toInt();
    }
    f.finish();

    QSqlQuery& e =
        run(QStringLiteral("SELECT \"ID_NUCLEO\", \"CODICE_NUCLEO\", \"DENOMINAZIONE\", "
                           "\"NOME_OSPITANTE\", \"TELEFONO\", \"TERMINE_ALLOGGIO\"::text "
                           "FROM \"TBL_NUCLEO\" WHERE \"TERMINE_ALLOGGIO\" >= CAST(? AS timestamp) "
                           "AND \"TERMINE_ALLOGGIO\" < CAST(? AS timestamp) "
                           "ORDER BY \"TERMINE_ALLOGGIO\", \"ID_NUCLEO\""),
            {isoDay(today), isoDay(today.addDays(31))});
    while (e.next()) {
        s.ending.push_back({e.value(0).toLongLong(), text(e, 1), text(e, 2), text(e, 3), text(e, 4),
                            storedDate(e.value(5))});
    }
    e.finish();

    // The people, grouped at once by municipality, citizenship, sex and age
    // band when hosted, and counted together when every family unit of
    // theirs has ended: one pass over the members. A birth date from d.young
    // on is of a child up to 5 (born less than six years before the day),
    // from d.minor on of one up to 17, from d.adult on of one up to 64; a
    // date from d.tomorrow on, or none, is no age.
    QSqlQuery& p = run(
        QStringLiteral(
            "WITH d AS (SELECT CAST(? AS timestamp) AS day, CAST(? AS timestamp) AS tomorrow, "
            "CAST(? AS timestamp) AS young, CAST(? AS timestamp) AS minor, "
            "CAST(? AS timestamp) AS adult), "
            "codes AS (SELECT n.\"CODICE_NUCLEO\" AS code, bool_or%1 AS hosted, "
            "min(btrim(coalesce(n.\"COMUNE\", '')) COLLATE \"C\") FILTER (WHERE %1) AS comune "
            "FROM \"TBL_NUCLEO\" n CROSS JOIN d WHERE n.\"CODICE_NUCLEO\" IS NOT NULL "
            "GROUP BY n.\"CODICE_NUCLEO\") "
            "SELECT c.hosted, c.comune, "
            "CASE WHEN c.hosted THEN btrim(coalesce(a.\"CITTADINANZA\", '')) END, "
            "CASE WHEN c.hosted THEN upper(btrim(coalesce(a.\"SESSO\", ''))) END, "
            "CASE WHEN NOT c.hosted THEN -1 "
            "WHEN a.\"DATA_NASCITA\" IS NULL OR a.\"DATA_NASCITA\" >= d.tomorrow THEN 4 "
            "WHEN a.\"DATA_NASCITA\" >= d.young THEN 0 WHEN a.\"DATA_NASCITA\" >= d.minor THEN 1 "
            "WHEN a.\"DATA_NASCITA\" >= d.adult THEN 2 ELSE 3 END, count(*) "
            "FROM \"TBL_ANAGRAFICA\" a JOIN codes c ON c.code = a.\"CODICE_NUCLEO\" CROSS JOIN d "
            "GROUP BY 1, 2, 3, 4, 5")
            .arg(hosted),
        {isoDay(today), isoDay(today.addDays(1)), isoDay(today.addYears(-6).addDays(1)),
         isoDay(today.addYears(-18).addDays(1)), isoDay(today.addYears(-65).addDays(1))});
    registry_rows::PeopleTally people;
    while (p.next()) {
        const int n = p.value(5).toInt();
        if (!p.value(0).toBool()) {
            s.peopleEnded += n;
            continue;
        }
        s.peopleHosted += n;
        people.add(text(p, 1), text(p, 2), text(p, 3), p.value(4).toInt(), n);
    }
    p.finish();
    people.writeInto(&s);
    return s;
}

}  // namespace marvesa
