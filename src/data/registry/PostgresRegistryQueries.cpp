#include "data/registry/PostgresRegistryQueries.h"

#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <functional>

#include "data/base/Error.h"
#include "data/registry/RegistryRows.h"
#include "data/sql/QtSqlEngine.h"
#include "data/sql/SqlText.h"

namespace marvesa {

const char* const PostgresRegistryQueries::kFunction = "marvesa_testo_ricerca";
const char* const PostgresRegistryQueries::kMemberIndex = "IDX_ANAGRAFICA_CERCA";
const char* const PostgresRegistryQueries::kFamilyIndex = "IDX_NUCLEO_CERCA";

namespace {

// Desks that find the search objects missing make them one at a time.
const qint64 kSetupLock = 0x4d415256455341;  // "MARVESA"
// How long a desk waits for another that is making them.
const int kSetupWaitMs = 120000;

// The settings of the queries' connection: dates read as text in one form;
// every search planned for its own words, so that the trigram indexes serve
// each one; no parallel workers and no compiling of queries, whose start
// costs more than these short questions take; no notices of objects that
// exist already. A lock is waited for as long as it takes: CREATE INDEX
// CONCURRENTLY waits for every transaction in course.
const QStringList& sessionStatements() {
    static const QStringList statements = {
        QStringLiteral("SET DateStyle TO ISO, YMD"),
        QStringLiteral("SET plan_cache_mode TO force_custom_plan"),
        QStringLiteral("SET client_min_messages TO warning"),
        QStringLiteral("SET max_parallel_workers_per_gather TO 0"),
        QStringLiteral("SET jit TO off"),
        QStringLiteral("SET lock_timeout TO 0"),
    };
    return statements;
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

// How the search objects' statements reach the server: `run` one without
// values, `value` the first value of a query with one bound value.
struct ObjectStatements {
    std::function<void(const QString& sql)> run;
    std::function<QVariant(const QString& sql, const QVariant& bound)> value;
};

// Said of the search function in the database, so that a desk can tell one
// made by an older program, which compares other words.
const char* const kFunctionVersion = "Marvesa: parole della ricerca, versione 2";

// What the function does with a text, "$1": apostrophes removed, accents
// removed, lower case, every run of characters that are neither letters nor
// digits made one blank, a blank in front; and when the text has an
// apostrophe, the same again with each apostrophe as a blank, so that
// D'ANGELO gives " dangelo d angelo".
QString functionBody(const QString& unaccent) {
    const QString apostrophes = QStringLiteral("'''`´‘’ʼ'");
    const auto words = [&](const QString& withoutApostrophes) {
        return QStringLiteral(
                   "pg_catalog.btrim(pg_catalog.regexp_replace(pg_catalog.lower(%1.unaccent(%2::"
                   "regdictionary, %3)), '[^[:alnum:]]+', ' ', 'g'))")
            .arg(unaccent, literal(unaccent + QStringLiteral(".unaccent")), withoutApostrophes);
    };
    const QString joined = QStringLiteral("pg_catalog.translate($1, %1, '')").arg(apostrophes);
    const QString apart = QStringLiteral("pg_catalog.translate($1, %1, '      ')").arg(apostrophes);
    return QStringLiteral(" SELECT ' ' || %1 || CASE WHEN %2 = $1 THEN '' ELSE ' ' || %3 END ")
        .arg(words(joined), joined, words(apart));
}

// Makes the search objects, or brings those an older program made up to
// date (the function replaced, its indexes built again). Concurrently: in
// autocommit, the indexes built without blocking the other desks' writes.
void createObjects(const ObjectStatements& sql, bool concurrently) {
    const auto& run = sql.run;
    const auto& value = sql.value;
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
    const QString signature =
        QLatin1String(PostgresRegistryQueries::kFunction) + QStringLiteral("(text)");
    // NULL: no function; otherwise what it says of itself.
    const QVariant made = value(QStringLiteral("SELECT CASE WHEN to_regprocedure(?) IS NOT NULL "
                                               "THEN coalesce(obj_description(to_regprocedure(?"
                                               "), 'pg_proc'), '') END"),
                                signature);
    const bool outdated = !made.isNull() && made.toString() != QLatin1String(kFunctionVersion);
    if (made.isNull() || outdated) {
        // Every name qualified: the function also runs where the search
        // path differs (a restore of a backup). Its cost tells the planner
        // that working it out row by row is dear: a search always goes
        // through the trigram index, also when it expects many matches and
        // asks for the first few only.
        run(QStringLiteral("CREATE OR REPLACE FUNCTION %1(text) RETURNS text LANGUAGE sql "
                           "IMMUTABLE STRICT PARALLEL SAFE COST 10000 AS $f$%2$f$")
                .arg(QLatin1String(PostgresRegistryQueries::kFunction), functionBody(unaccent)));
        run(QStringLiteral("COMMENT ON FUNCTION %1 IS %2")
                .arg(signature, literal(QLatin1String(kFunctionVersion))));
    }
    const QString how = concurrently ? QStringLiteral("CONCURRENTLY ") : QString();
    const auto index = [&](const char* name, const char* table, const QString& key) {
        const QString quoted = quoteIdentifier(QLatin1String(name));
        // An index an interrupted build left unusable is made again; one
        // that holds the words of the function replaced above is rebuilt.
        const QVariant valid = value(QStringLiteral("SELECT i.indisvalid FROM pg_index i "
                                                    "WHERE i.indexrelid = to_regclass(?)"),
                                     quoted);
        if (valid.isValid() && valid.toBool()) {
            if (outdated)
                run(QStringLiteral("REINDEX INDEX %1%2").arg(how, quoted));
            return;
        }
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

// The statements of createObjects() on a connection of the program.
ObjectStatements onEngine(QtSqlEngine& engine, const QString& failed) {
    ObjectStatements sql;
    sql.run = [&engine, failed](const QString& statement) { engine.execDirect(statement, failed); };
    sql.value = [&engine, failed](const QString& query, const QVariant& bound) {
        QVector<QVariant> values;
        for (qsizetype at = query.indexOf(QLatin1Char('?')); at >= 0;
             at = query.indexOf(QLatin1Char('?'), at + 1))
            values << bound;
        QVariant first;
        engine.select(
            query, values,
            [&](const QVector<QVariant>& row) {
                first = row.at(0);
                return false;
            },
            failed);
        return first;
    };
    return sql;
}

using registry_rows::isoDay;

}  // namespace

PostgresRegistryQueries::PostgresRegistryQueries(const RegistryConnection& from)
    : SqlRegistryQueries(from.open(sessionStatements())) {}

// ------------------------------------------------------------ search objects

bool PostgresRegistryQueries::searchObjectsThere() {
    bool there = false;
    db().select(
        QStringLiteral("SELECT obj_description(to_regprocedure(?), 'pg_proc') IS NOT DISTINCT "
                       "FROM ?, (SELECT count(*) FROM pg_index i WHERE i.indisvalid AND "
                       "i.indexrelid IN (to_regclass(?), to_regclass(?)))"),
        {QLatin1String(kFunction) + QStringLiteral("(text)"), QLatin1String(kFunctionVersion),
         quoteIdentifier(QLatin1String(kMemberIndex)),
         quoteIdentifier(QLatin1String(kFamilyIndex))},
        [&](const Row& row) {
            there = row.at(0).toBool() && row.at(1).toInt() == 2;
            return false;
        },
        QStringLiteral("Impossibile preparare la ricerca"));
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
    if (searchObjectsThere()) {
        m_searchChecked = true;
        return false;
    }
    const QString what = QStringLiteral("Impossibile preparare la ricerca");
    const auto advisory = [&](const char* function) {
        bool done = false;
        db().select(
            QStringLiteral("SELECT %1(?)").arg(QLatin1String(function)), {kSetupLock},
            [&](const Row& row) {
                done = row.at(0).toBool();
                return false;
            },
            what);
        return done;
    };
    // One desk at a time: a desk that comes second waits and then finds
    // everything made by the first. It waits between tries outside any
    // statement, since the first one's CREATE INDEX CONCURRENTLY waits in
    // turn for every statement in course.
    QElapsedTimer waited;
    waited.start();
    while (!advisory("pg_try_advisory_lock")) {
        if (waited.elapsed() > kSetupWaitMs) {
            throw Error(QStringLiteral("Impossibile preparare la ricerca: un'altra postazione la "
                                       "sta preparando da più di %1 secondi; riprovare più tardi "
                                       "(database \"%2\")")
                            .arg(kSetupWaitMs / 1000)
                            .arg(db().location()));
        }
        QThread::msleep(200);
    }
    bool made = false;
    try {
        if (!searchObjectsThere()) {
            const QString failed = QStringLiteral(
                "Impossibile preparare la ricerca (servono le estensioni unaccent e "
                "pg_trgm del server e i diritti del proprietario del database)");
            createObjects(onEngine(db(), failed), true);
            made = true;
        }
    } catch (...) {
        try {
            advisory("pg_advisory_unlock");
        } catch (const Error&) {
            // The lock went with the connection.
        }
        throw;
    }
    advisory("pg_advisory_unlock");
    m_searchChecked = true;
    return made;
}

void PostgresRegistryQueries::createSearchObjects(QSqlDatabase& db) {
    QSqlQuery q(db);
    const auto fail = [&q] {
        throw Error(QStringLiteral("Impossibile preparare la ricerca (servono le estensioni "
                                   "unaccent e pg_trgm del server): %1")
                        .arg(engineText(q.lastError())));
    };
    ObjectStatements sql;
    sql.run = [&](const QString& statement) {
        if (!q.exec(statement))
            fail();
    };
    sql.value = [&](const QString& query, const QVariant& bound) {
        if (!q.prepare(query))
            fail();
        for (qsizetype at = query.indexOf(QLatin1Char('?')); at >= 0;
             at = query.indexOf(QLatin1Char('?'), at + 1))
            q.addBindValue(bound);
        if (!q.exec())
            fail();
        const QVariant v = q.next() ? q.value(0) : QVariant();
        q.finish();
        return v;
    };
    createObjects(sql, false);
}

void PostgresRegistryQueries::updateSearchObjects(QtSqlEngine& engine) {
    const QVariant there = onEngine(engine, QString())
                               .value(QStringLiteral("SELECT to_regprocedure(?) IS NOT NULL"),
                                      QLatin1String(kFunction) + QStringLiteral("(text)"));
    if (!there.toBool())
        return;  // made on first use, as this program makes them
    createObjects(onEngine(engine, QStringLiteral("Impossibile aggiornare la ricerca")), false);
}

// ------------------------------------------------------------ Cerca

QStringList PostgresRegistryQueries::normalisedWords(const QString& searchText) {
    // Every word through the function the rows' words go through, in one
    // question to the server.
    const QStringList typed = searchWords(searchText);
    if (typed.isEmpty())
        return {};
    QStringList calls;
    QVector<QVariant> values;
    for (const QString& word : typed) {
        calls << QStringLiteral("%1(?)").arg(QLatin1String(kFunction));
        values << word;
    }
    QStringList words;
    db().select(
        QStringLiteral("SELECT ") + calls.join(QStringLiteral(", ")), values,
        [&](const Row& row) {
            for (const QVariant& v : row) {
                const QString normalised = v.toString();
                if (!normalised.trimmed().isEmpty())
                    words << normalised;
            }
            return false;
        },
        QStringLiteral("Impossibile cercare"));
    return words;
}

bool PostgresRegistryQueries::searchStatements(const QString& searchText, int limit,
                                               SearchStatements* out) {
    const QStringList words = normalisedWords(searchText);
    if (words.isEmpty())
        return false;
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
    for (const QString& p : patterns)
        out->values << p;
    out->values << limit + 1;
    out->families =
        QStringLiteral(
            "SELECT n.\"ID_NUCLEO\", n.\"CODICE_NUCLEO\", n.\"DENOMINAZIONE\", "
            "n.\"NOME_OSPITANTE\", n.\"COMUNE\" FROM (SELECT t.\"ID_NUCLEO\" AS r FROM "
            "\"TBL_NUCLEO\" t WHERE %1 LIMIT ?) f JOIN \"TBL_NUCLEO\" n ON n.\"ID_NUCLEO\" = f.r "
            "ORDER BY n.\"CODICE_NUCLEO\" COLLATE \"C\" NULLS FIRST, n.\"ID_NUCLEO\"")
            .arg(where(familyKey(QStringLiteral("t"))));

    // The member's family unit: the first that carries its code, found on
    // the index of family codes (which leaves out the empty code; a member
    // with an empty code finds a family unit with an empty code the slow way).
    out->members =
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
            .arg(where(memberKey(QStringLiteral("t"))));
    return true;
}

// ------------------------------------------------------------ Riepilogo

OfficeSummary PostgresRegistryQueries::summary(const QDate& today) {
    OfficeSummary s;
    s.today = today;
    const QString what = QStringLiteral("Impossibile calcolare il riepilogo");
    const auto select = [&](const QString& sql, const QVector<QVariant>& values,
                            const Engine::RowHandler& onRow) {
        db().select(sql, values, onRow, what);
    };
    // d.day is the day: an end of hosting on that day or later, or none, is
    // a hosting in course.
    const QString hosted =
        QStringLiteral("(n.\"TERMINE_ALLOGGIO\" IS NULL OR n.\"TERMINE_ALLOGGIO\" >= d.day)");

    select(
        QStringLiteral(
            "WITH d AS (SELECT CAST(? AS timestamp) AS day, CAST(? AS timestamp) AS after7, "
            "CAST(? AS timestamp) AS after30) "
            "SELECT count(*) FILTER (WHERE %1), count(*) FILTER (WHERE n.\"TERMINE_ALLOGGIO\" < "
            "d.day), count(*) FILTER (WHERE n.\"TERMINE_ALLOGGIO\" >= d.day AND "
            "n.\"TERMINE_ALLOGGIO\" < d.after7), count(*) FILTER (WHERE n.\"TERMINE_ALLOGGIO\" "
            ">= d.day AND n.\"TERMINE_ALLOGGIO\" < d.after30) FROM \"TBL_NUCLEO\" n CROSS JOIN d")
            .arg(hosted),
        {isoDay(today), isoDay(today.addDays(8)), isoDay(today.addDays(31))}, [&](const Row& row) {
            registry_rows::readFamilyCounts(row, &s);
            return false;
        });

    select(QStringLiteral("SELECT \"ID_NUCLEO\", \"CODICE_NUCLEO\", \"DENOMINAZIONE\", "
                          "\"NOME_OSPITANTE\", \"TELEFONO\", \"TERMINE_ALLOGGIO\"::text "
                          "FROM \"TBL_NUCLEO\" WHERE \"TERMINE_ALLOGGIO\" >= CAST(? AS timestamp) "
                          "AND \"TERMINE_ALLOGGIO\" < CAST(? AS timestamp) "
                          "ORDER BY \"TERMINE_ALLOGGIO\", \"ID_NUCLEO\""),
           {isoDay(today), isoDay(today.addDays(31))}, [&](const Row& row) {
               s.ending.push_back(registry_rows::endingHosting(row));
               return true;
           });

    // The people, grouped at once by municipality, citizenship, sex and age
    // band when hosted, and counted together when every family unit of
    // theirs has ended: one pass over the members. A birth date from d.young
    // on is of a child up to 5 (born less than six years before the day),
    // from d.minor on of one up to 17, from d.adult on of one up to 64; a
    // date from d.tomorrow on, or none, is no age.
    registry_rows::PeopleTally people;
    select(
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
         isoDay(today.addYears(-18).addDays(1)), isoDay(today.addYears(-65).addDays(1))},
        [&](const Row& row) {
            const int n = row.at(5).toInt();
            if (!row.at(0).toBool()) {
                s.peopleEnded += n;
                return true;
            }
            s.peopleHosted += n;
            people.add(row.at(1).toString(), row.at(2).toString(), row.at(3).toString(),
                       row.at(4).toInt(), n);
            return true;
        });
    people.writeInto(&s);
    return s;
}

}  // namespace marvesa
