#include "data/registry/SqliteRegistryQueries.h"

#include <QAtomicInt>
#include <QFileInfo>
#include <QHash>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <algorithm>

#include "data/base/Error.h"
#include "data/registry/RegistryRows.h"
#include "data/sql/SqliteEngine.h"
#include "data/base/Value.h"

namespace marvesa {

namespace {

QAtomicInt g_counter;

// A column's text without apostrophes, as the search tables hold it. Only
// built-in functions: every program that writes the tables runs the triggers.
QString withoutApostrophes(const QString& expression) {
    QString sql = expression;
    for (const char* apostrophe : {"''", "`", "´", "‘", "’", "ʼ"}) {
        sql = QStringLiteral("replace(%1, '%2', '')").arg(sql, QString::fromUtf8(apostrophe));
    }
    return sql;
}

// The words of a member: surname and name.
QString memberKey(const QString& row) {
    return withoutApostrophes(
        QStringLiteral("coalesce(%1.\"COGNOME\", '') || ' ' || coalesce(%1.\"NOME\", '')")
            .arg(row));
}

// The words of a family unit: its code, the code's digits alone, its
// description and its host.
QString familyKey(const QString& row) {
    return withoutApostrophes(
        QStringLiteral(
            "coalesce(%1.\"CODICE_NUCLEO\", '') || ' ' || "
            "CASE WHEN %1.\"CODICE_NUCLEO\" LIKE 'QX%' THEN substr(%1.\"CODICE_NUCLEO\", 3) ELSE "
            "'' END || ' ' || "
            "coalesce(%1.\"DENOMINAZIONE\", '') || ' ' || coalesce(%1.\"NOME_OSPITANTE\", '')")
            .arg(row));
}

const char* const kTokenizer = "tokenize = 'unicode61 remove_diacritics 2', prefix = '2 3'";

// Every object the search needs, by name.
const QStringList& searchObjects() {
    static const QStringList names = {
        QStringLiteral("CERCA_ANAGRAFICA"),     QStringLiteral("CERCA_NUCLEO"),
        QStringLiteral("CERCA_ANAGRAFICA_AI"),  QStringLiteral("CERCA_ANAGRAFICA_AU"),
        QStringLiteral("CERCA_ANAGRAFICA_AD"),  QStringLiteral("CERCA_NUCLEO_AI"),
        QStringLiteral("CERCA_NUCLEO_AU"),      QStringLiteral("CERCA_NUCLEO_AD"),
        QStringLiteral("IDX_NUCLEO_RIEPILOGO"), QStringLiteral("IDX_ANAGRAFICA_RIEPILOGO"),
    };
    return names;
}

QStringList createSearchStatements() {
    QStringList s;
    for (const char* name : {"CERCA_ANAGRAFICA", "CERCA_NUCLEO"}) {
        s << QStringLiteral("CREATE VIRTUAL TABLE \"%1\" USING fts5(\"CHIAVE\", %2)")
                 .arg(QString::fromLatin1(name), QString::fromLatin1(kTokenizer));
    }
    const auto triggers = [&s](const QString& search, const QString& table, const QString& id,
                               const QString& columns, const QString& newKey) {
        s << QStringLiteral(
                 "CREATE TRIGGER \"%1_AI\" AFTER INSERT ON \"%2\" BEGIN "
                 "INSERT INTO \"%1\" (rowid, \"CHIAVE\") VALUES (new.\"%3\", %4); END")
                 .arg(search, table, id, newKey);
        s << QStringLiteral(
                 "CREATE TRIGGER \"%1_AU\" AFTER UPDATE OF %5 ON \"%2\" BEGIN "
                 "DELETE FROM \"%1\" WHERE rowid = old.\"%3\"; "
                 "INSERT INTO \"%1\" (rowid, \"CHIAVE\") VALUES (new.\"%3\", %4); END")
                 .arg(search, table, id, newKey, columns);
        s << QStringLiteral(
                 "CREATE TRIGGER \"%1_AD\" AFTER DELETE ON \"%2\" BEGIN "
                 "DELETE FROM \"%1\" WHERE rowid = old.\"%3\"; END")
                 .arg(search, table, id);
    };
    triggers(QStringLiteral("CERCA_ANAGRAFICA"), QStringLiteral("TBL_ANAGRAFICA"),
             QStringLiteral("ID_ANAGRAFICA"),
             QStringLiteral("\"ID_ANAGRAFICA\", \"COGNOME\", \"NOME\""),
             memberKey(QStringLiteral("new")));
    triggers(
        QStringLiteral("CERCA_NUCLEO"), QStringLiteral("TBL_NUCLEO"), QStringLiteral("ID_NUCLEO"),
        QStringLiteral("\"ID_NUCLEO\", \"CODICE_NUCLEO\", \"DENOMINAZIONE\", \"NOME_OSPITANTE\""),
        familyKey(QStringLiteral("new")));
    s << QStringLiteral(
             "INSERT INTO \"CERCA_ANAGRAFICA\" (rowid, \"CHIAVE\") SELECT a.\"ID_ANAGRAFICA\", %1 "
             "FROM \"TBL_ANAGRAFICA\" a")
             .arg(memberKey(QStringLiteral("a")));
    s << QStringLiteral(
             "INSERT INTO \"CERCA_NUCLEO\" (rowid, \"CHIAVE\") SELECT n.\"ID_NUCLEO\", %1 "
             "FROM \"TBL_NUCLEO\" n")
             .arg(familyKey(QStringLiteral("n")));
    return s;
}

using registry_rows::isoDay;
using registry_rows::sortByCount;
using registry_rows::storedDate;
using registry_rows::text;

}  // namespace

SqliteRegistryQueries::SqliteRegistryQueries(const QString& path)
    : m_path(path),
      m_connectionName(QStringLiteral("marvesa-registry-%1").arg(g_counter.fetchAndAddRelaxed(1))) {
    QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
    QUrl url = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
    url.setQuery(QStringLiteral("mode=rw"));
    database.setDatabaseName(url.toString(QUrl::FullyEncoded));
    database.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=%1")
                                   .arg(SqliteEngine::kBusyTimeoutMs));
    if (!database.open()) {
        const QString why = database.lastError().text();
        database = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_connectionName);
        throw Error(QStringLiteral("Impossibile aprire il database \"%1\": %2").arg(path, why));
    }
    // Room for the pages a summary of a large registry reads (8 MB).
    QSqlQuery(database).exec(QStringLiteral("PRAGMA cache_size=-8192"));
}

SqliteRegistryQueries::~SqliteRegistryQueries() {
    {
        QSqlDatabase database = QSqlDatabase::database(m_connectionName, false);
        if (database.isOpen())
            database.close();
    }
    QSqlDatabase::removeDatabase(m_connectionName);
}

QSqlDatabase SqliteRegistryQueries::db() const {
    return QSqlDatabase::database(m_connectionName, false);
}

void SqliteRegistryQueries::fail(const QString& what, const QString& engineText) const {
    throw Error(QStringLiteral("%1: %2 (database \"%3\")").arg(what, engineText, m_path));
}

void SqliteRegistryQueries::prepare() {
    ensureSearchTables();
}

bool SqliteRegistryQueries::ensureSearchTables() {
    if (m_searchTablesChecked)
        return false;
    QSqlQuery q(db());
    const auto run = [&](const QString& sql) {
        if (!q.exec(sql)) {
            const QString why = q.lastError().databaseText();
            q.exec(QStringLiteral("ROLLBACK"));
            fail(QStringLiteral("Impossibile preparare la ricerca"), why);
        }
    };
    QStringList quoted;
    for (const QString& n : searchObjects())
        quoted << QLatin1Char('\'') + n + QLatin1Char('\'');
    const auto allThere = [&] {
        run(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name IN (%1)")
                .arg(quoted.join(QLatin1Char(','))));
        const bool there = q.next() && q.value(0).toInt() == searchObjects().size();
        q.finish();
        return there;
    };
    // Made already: nothing to write, no lock taken (another desk may be in
    // the middle of a long write).
    if (allThere()) {
        m_searchTablesChecked = true;
        return false;
    }
    // One writer at a time: a copy of the program that comes second finds
    // everything made and filled by the first.
    run(QStringLiteral("BEGIN IMMEDIATE"));
    const bool complete = allThere();
    if (!complete) {
        // Whatever a failed or older attempt left is made again as a whole.
        for (const QString& n : searchObjects()) {
            if (n.endsWith(QLatin1String("_AI")) || n.endsWith(QLatin1String("_AU")) ||
                n.endsWith(QLatin1String("_AD"))) {
                run(QStringLiteral("DROP TRIGGER IF EXISTS \"%1\"").arg(n));
            }
        }
        run(QStringLiteral("DROP TABLE IF EXISTS \"CERCA_ANAGRAFICA\""));
        run(QStringLiteral("DROP TABLE IF EXISTS \"CERCA_NUCLEO\""));
        // Members find their family unit by its code; "Riepilogo" reads
        // the family units and members it counts from these two indexes
        // alone, without the rows.
        run(
            QStringLiteral("CREATE INDEX IF NOT EXISTS \"IDX_NUCLEO_RIEPILOGO\" ON \"TBL_NUCLEO\" "
                           "(\"CODICE_NUCLEO\", \"TERMINE_ALLOGGIO\", \"COMUNE\")"));
        run(QStringLiteral(
            "CREATE INDEX IF NOT EXISTS \"IDX_ANAGRAFICA_RIEPILOGO\" ON \"TBL_ANAGRAFICA\" "
            "(\"CODICE_NUCLEO\", \"CITTADINANZA\", \"SESSO\", \"DATA_NASCITA\")"));
        for (const QString& sql : createSearchStatements())
            run(sql);
    }
    run(QStringLiteral("COMMIT"));
    m_searchTablesChecked = true;
    return !complete;
}

QString SqliteRegistryQueries::matchExpression(const QString& text) {
    QStringList terms;
    for (QString word : searchWords(text)) {
        word.replace(QLatin1Char('"'), QStringLiteral("\"\""));
        terms << QLatin1Char('"') + word + QStringLiteral("\"*");
    }
    return terms.join(QLatin1Char(' '));
}

SearchResult SqliteRegistryQueries::find(const QString& searchText, int limit) {
    SearchResult result;
    if (!isSearchable(searchText))
        return result;
    ensureSearchTables();
    const QString match = matchExpression(searchText);
    const auto exec = [&](QSqlQuery& q) {
        q.addBindValue(match);
        q.addBindValue(limit + 1);
        if (!q.exec())
            fail(QStringLiteral("Impossibile cercare"), q.lastError().text());
    };

    // The first matches are taken before sorting, so that a short word that
    // matches half the registry costs no more than a precise one.
    QSqlQuery families(db());
    families.setForwardOnly(true);
    families.prepare(QStringLiteral(
        "SELECT n.\"ID_NUCLEO\", n.\"CODICE_NUCLEO\", n.\"DENOMINAZIONE\", n.\"NOME_OSPITANTE\", "
        "n.\"COMUNE\" FROM (SELECT rowid AS r FROM \"CERCA_NUCLEO\" WHERE \"CERCA_NUCLEO\" MATCH ? "
        "LIMIT ?) f JOIN \"TBL_NUCLEO\" n ON n.\"ID_NUCLEO\" = f.r "
        "ORDER BY n.\"CODICE_NUCLEO\", n.\"ID_NUCLEO\""));
    exec(families);
    registry_rows::appendFamilyHits(families, &result);
    if (int(result.hits.size()) > limit) {
        result.hits.resize(limit);
        result.truncated = true;
    }

    QSqlQuery members(db());
    members.setForwardOnly(true);
    members.prepare(
        QStringLiteral("SELECT a.\"ID_ANAGRAFICA\", a.\"COGNOME\", a.\"NOME\", a.\"DATA_NASCITA\", "
                       "a.\"CODICE_NUCLEO\", "
                       "n.\"ID_NUCLEO\", n.\"DENOMINAZIONE\", n.\"NOME_OSPITANTE\", n.\"COMUNE\" "
                       "FROM (SELECT rowid AS r FROM \"CERCA_ANAGRAFICA\" WHERE "
                       "\"CERCA_ANAGRAFICA\" MATCH ? LIMIT ?) f "
                       "JOIN \"TBL_ANAGRAFICA\" a ON a.\"ID_ANAGRAFICA\" = f.r "
                       "LEFT JOIN \"TBL_NUCLEO\" n ON n.\"ID_NUCLEO\" = (SELECT "
                       "min(m.\"ID_NUCLEO\") FROM \"TBL_NUCLEO\" m "
                       "WHERE m.\"CODICE_NUCLEO\" = a.\"CODICE_NUCLEO\") "
                       "ORDER BY a.\"COGNOME\", a.\"NOME\", a.\"ID_ANAGRAFICA\""));
    exec(members);
    registry_rows::appendMemberHits(members, limit, &result);
    return result;
}

qint64 SqliteRegistryQueries::dataVersion() const {
    QSqlQuery q(db());
    if (!q.exec(QStringLiteral("PRAGMA data_version")) || !q.next())
        return -1;
    return q.value(0).toLongLong();
}

OfficeSummary SqliteRegistryQueries::summary(const QDate& today) {
    // PRAGMA data_version changes whenever another connection (this
    // program's tables, another desk, a tool) has committed a change.
    const qint64 version = dataVersion();
    if (m_summary && m_summary->today == today && version >= 0 && version == m_summaryVersion) {
        return *m_summary;
    }
    OfficeSummary s = computeSummary(today);
    m_summary = s;
    m_summaryVersion = version;
    return s;
}

OfficeSummary SqliteRegistryQueries::computeSummary(const QDate& today) {
    ensureSearchTables();
    OfficeSummary s;
    s.today = today;
    const QString day = isoDay(today);
    const QString after7 = isoDay(today.addDays(8));
    const QString after30 = isoDay(today.addDays(31));
    const auto run = [&](QSqlQuery& q, const QString& sql, const QVariantMap& values) {
        q.setForwardOnly(true);
        if (!q.prepare(sql))
            fail(QStringLiteral("Impossibile calcolare il riepilogo"), q.lastError().text());
        for (auto it = values.cbegin(); it != values.cend(); ++it)
            q.bindValue(it.key(), it.value());
        if (!q.exec())
            fail(QStringLiteral("Impossibile calcolare il riepilogo"), q.lastError().text());
    };
    // :day is the day: an end of hosting on that day or later, or none, is a
    // hosting in course.
    const QString hostedFamily =
        QStringLiteral("(coalesce(\"TERMINE_ALLOGGIO\", '') = '' OR \"TERMINE_ALLOGGIO\" >= :day)");
    const QString endedFamily = QStringLiteral(
        "(coalesce(\"TERMINE_ALLOGGIO\", '') <> '' AND \"TERMINE_ALLOGGIO\" < :day)");

    QSqlQuery f(db());
    run(f,
        QStringLiteral(
            "SELECT coalesce(sum(%1), 0), coalesce(sum(%2), 0), "
            "coalesce(sum(\"TERMINE_ALLOGGIO\" >= :day AND \"TERMINE_ALLOGGIO\" < :after7), 0), "
            "coalesce(sum(\"TERMINE_ALLOGGIO\" >= :day AND \"TERMINE_ALLOGGIO\" < :after30), 0) "
            "FROM \"TBL_NUCLEO\"")
            .arg(hostedFamily, endedFamily),
        {{QStringLiteral(":day"), day},
         {QStringLiteral(":after7"), after7},
         {QStringLiteral(":after30"), after30}});
    if (f.next()) {
        s.familiesHosted = f.value(0).toInt();
        s.familiesEnded = f.value(1).toInt();
        s.endingWithin7 = f.value(2).toInt();
        s.endingWithin30 = f.value(3).toInt();
    }
    f.finish();

    QSqlQuery e(db());
    run(e,
        QStringLiteral(
            "SELECT \"ID_NUCLEO\", \"CODICE_NUCLEO\", \"DENOMINAZIONE\", \"NOME_OSPITANTE\", "
            "\"TELEFONO\", \"TERMINE_ALLOGGIO\" FROM \"TBL_NUCLEO\" "
            "WHERE \"TERMINE_ALLOGGIO\" >= :day AND \"TERMINE_ALLOGGIO\" < :after30 "
            "ORDER BY \"TERMINE_ALLOGGIO\", \"ID_NUCLEO\""),
        {{QStringLiteral(":day"), day}, {QStringLiteral(":after30"), after30}});
    while (e.next()) {
        s.ending.push_back({e.value(0).toLongLong(), text(e, 1), text(e, 2), text(e, 3), text(e, 4),
                            storedDate(e.value(5))});
    }
    e.finish();

    // The people hosted, grouped at once by municipality, citizenship, sex
    // and age band: one pass over the members.
    // A birth date from :young on is of a child up to 5 (born less than six
    // years before the day), from :minor on of one up to 17, from :adult on
    // of one up to 64; a date from :tomorrow on, or none, is no age.
    const QString band = QStringLiteral(
        "CASE WHEN a.\"DATA_NASCITA\" IS NULL "
        "OR NOT (a.\"DATA_NASCITA\" GLOB '[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]*') "
        "OR a.\"DATA_NASCITA\" >= :tomorrow THEN 4 WHEN a.\"DATA_NASCITA\" >= :young THEN 0 "
        "WHEN a.\"DATA_NASCITA\" >= :minor THEN 1 WHEN a.\"DATA_NASCITA\" >= :adult THEN 2 ELSE 3 "
        "END");
    QSqlQuery p(db());
    run(p,
        QStringLiteral(
            "WITH hosted AS (SELECT \"CODICE_NUCLEO\" AS code, min(trim(coalesce(\"COMUNE\", ''))) "
            "AS comune FROM \"TBL_NUCLEO\" WHERE \"CODICE_NUCLEO\" IS NOT NULL AND %1 "
            "GROUP BY \"CODICE_NUCLEO\") "
            "SELECT h.comune, trim(coalesce(a.\"CITTADINANZA\", '')), "
            "upper(trim(coalesce(a.\"SESSO\", ''))), %2, count(*) "
            "FROM \"TBL_ANAGRAFICA\" a JOIN hosted h ON h.code = a.\"CODICE_NUCLEO\" "
            "GROUP BY 1, 2, 3, 4")
            .arg(hostedFamily, band),
        {{QStringLiteral(":day"), day},
         {QStringLiteral(":tomorrow"), isoDay(today.addDays(1))},
         {QStringLiteral(":young"), isoDay(today.addYears(-6).addDays(1))},
         {QStringLiteral(":minor"), isoDay(today.addYears(-18).addDays(1))},
         {QStringLiteral(":adult"), isoDay(today.addYears(-65).addDays(1))}});
    registry_rows::PeopleTally people;
    while (p.next()) {
        const int n = p.value(4).toInt();
        s.peopleHosted += n;
        people.add(text(p, 0), text(p, 1), text(p, 2), p.value(3).toInt(), n);
    }
    p.finish();
    people.writeInto(&s);

    // Members whose every family unit has ended: counted on the index of
    // the family code alone.
    QSqlQuery ended(db());
    run(ended,
        QStringLiteral(
            "WITH ended AS (SELECT \"CODICE_NUCLEO\" AS code FROM \"TBL_NUCLEO\" "
            "WHERE \"CODICE_NUCLEO\" IS NOT NULL GROUP BY \"CODICE_NUCLEO\" HAVING max(%1) = 0) "
            "SELECT count(*) FROM ended e JOIN \"TBL_ANAGRAFICA\" a ON a.\"CODICE_NUCLEO\" = "
            "e.code")
            .arg(hostedFamily),
        {{QStringLiteral(":day"), day}});
    if (ended.next())
        s.peopleEnded = ended.value(0).toInt();
    ended.finish();
    return s;
}

}  // namespace marvesa
