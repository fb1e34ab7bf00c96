#include "data/registry/SqliteRegistryQueries.h"

#include <QHash>
#include <QRegularExpression>

#include "data/base/Error.h"
#include "data/registry/RegistryRows.h"
#include "data/sql/QtSqlEngine.h"
#include "data/sql/WriteTransaction.h"

namespace marvesa {

namespace {

const char* const kApostrophes[] = {"''", "`", "´", "‘", "’", "ʼ"};

// A column's text with each apostrophe replaced by `by`. Only built-in
// functions: every program that writes the tables runs the triggers.
QString replacingApostrophes(const QString& expression, const QString& by) {
    QString sql = expression;
    for (const char* apostrophe : kApostrophes) {
        sql = QStringLiteral("replace(%1, '%2', '%3')").arg(sql, QString::fromUtf8(apostrophe), by);
    }
    return sql;
}

// The words of a text as the search tables hold them: the text without its
// apostrophes ("DANGELO") and, when it has any, once more with each
// apostrophe as a blank ("D ANGELO"), so that a name is found by its whole
// and by the part after the apostrophe.
QString searchKey(const QString& text) {
    const QString joined = replacingApostrophes(text, QString());
    return QStringLiteral("%1 || CASE WHEN %1 = %2 THEN '' ELSE ' ' || %3 END")
        .arg(joined, text, replacingApostrophes(text, QStringLiteral(" ")));
}

// The words of a member: surname and name.
QString memberKey(const QString& row) {
    return searchKey(
        QStringLiteral("(coalesce(%1.\"COGNOME\", '') || ' ' || coalesce(%1.\"NOME\", ''))")
            .arg(row));
}

// The words of a family unit: its code, the code's digits alone, its
// description and its host.
QString familyKey(const QString& row) {
    return searchKey(
        QStringLiteral(
            "(coalesce(%1.\"CODICE_NUCLEO\", '') || ' ' || "
            "CASE WHEN %1.\"CODICE_NUCLEO\" LIKE 'QX%' THEN substr(%1.\"CODICE_NUCLEO\", 3) ELSE "
            "'' END || ' ' || "
            "coalesce(%1.\"DENOMINAZIONE\", '') || ' ' || coalesce(%1.\"NOME_OSPITANTE\", ''))")
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

// Room for the pages a summary of a large registry reads (8 MB).
const QStringList& sessionStatements() {
    static const QStringList statements = {QStringLiteral("PRAGMA cache_size=-8192")};
    return statements;
}

// A statement written with named values (":day"), as SQLite reads it with
// a "?" for each, and the values in the order they stand.
struct Bound {
    QString sql;
    QVector<QVariant> values;
};

Bound bound(const QString& sql, const QHash<QString, QVariant>& values) {
    static const QRegularExpression name(QStringLiteral(":([a-z0-9]+)"));
    Bound b;
    qsizetype done = 0;
    for (auto it = name.globalMatch(sql); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        Q_ASSERT(values.contains(m.captured(1)));
        b.sql += QStringView(sql).mid(done, m.capturedStart() - done);
        b.sql += QLatin1Char('?');
        b.values << values.value(m.captured(1));
        done = m.capturedEnd();
    }
    b.sql += QStringView(sql).mid(done);
    return b;
}

using registry_rows::isoDay;

}  // namespace

SqliteRegistryQueries::SqliteRegistryQueries(const RegistryConnection& from)
    : SqlRegistryQueries(from.open(sessionStatements())) {}

bool SqliteRegistryQueries::ensureSearchTables() {
    if (m_searchTablesChecked)
        return false;
    const QString what = QStringLiteral("Impossibile preparare la ricerca");
    QStringList quoted;
    for (const QString& n : searchObjects())
        quoted << QLatin1Char('\'') + n + QLatin1Char('\'');
    const QString count = QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name IN (%1)")
                              .arg(quoted.join(QLatin1Char(',')));
    // The triggers as this program writes them: those of an older one keep
    // other words (no part after an apostrophe) and are made again.
    QStringList triggers;
    for (const QString& sql : createSearchStatements()) {
        if (sql.startsWith(QLatin1String("CREATE TRIGGER")))
            triggers << sql;
    }
    const QString current =
        QStringLiteral(
            "SELECT count(*) FROM sqlite_master WHERE type = 'trigger' AND "
            "sql IN (%1)")
            .arg(QStringList(triggers.size(), QStringLiteral("?")).join(QLatin1Char(',')));
    const QVector<QVariant> triggerValues(triggers.cbegin(), triggers.cend());
    const auto allThere = [&] {
        int there = 0;
        int currentTriggers = 0;
        db().select(
            count, {},
            [&](const Row& row) {
                there = row.at(0).toInt();
                return false;
            },
            what);
        db().select(
            current, triggerValues,
            [&](const Row& row) {
                currentTriggers = row.at(0).toInt();
                return false;
            },
            what);
        return there == searchObjects().size() && currentTriggers == triggers.size();
    };
    // Made already: nothing to write, no lock taken (another desk may be in
    // the middle of a long write).
    if (allThere()) {
        m_searchTablesChecked = true;
        return false;
    }
    // One writer at a time: a copy of the program that comes second finds
    // everything made and filled by the first.
    WriteTransaction transaction(db(), QStringLiteral("TBL_ANAGRAFICA"));
    const bool complete = allThere();
    if (!complete) {
        const auto run = [&](const QString& sql) { db().execDirect(sql, what); };
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
    transaction.commit();
    m_searchTablesChecked = true;
    return !complete;
}

void SqliteRegistryQueries::mergeSearchTables(QtSqlEngine& engine) {
    const QString what = QStringLiteral("Impossibile aggiornare le tabelle di ricerca");
    for (const char* table : {"CERCA_ANAGRAFICA", "CERCA_NUCLEO"}) {
        const QString name = QString::fromLatin1(table);
        bool exists = false;
        engine.select(
            QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = ?"),
            {name},
            [&](const Row& row) {
                exists = row.at(0).toInt() > 0;
                return false;
            },
            what);
        if (exists) {
            engine.execDirect(
                QStringLiteral("INSERT INTO \"%1\" (\"%1\") VALUES ('optimize')").arg(name), what);
        }
    }
}

QString SqliteRegistryQueries::matchExpression(const QString& text) {
    QStringList terms;
    for (QString word : searchWords(text)) {
        word.replace(QLatin1Char('"'), QStringLiteral("\"\""));
        terms << QLatin1Char('"') + word + QStringLiteral("\"*");
    }
    return terms.join(QLatin1Char(' '));
}

bool SqliteRegistryQueries::searchStatements(const QString& text, int limit,
                                             SearchStatements* out) {
    out->families = QStringLiteral(
        "SELECT n.\"ID_NUCLEO\", n.\"CODICE_NUCLEO\", n.\"DENOMINAZIONE\", n.\"NOME_OSPITANTE\", "
        "n.\"COMUNE\" FROM (SELECT rowid AS r FROM \"CERCA_NUCLEO\" WHERE \"CERCA_NUCLEO\" MATCH ? "
        "LIMIT ?) f JOIN \"TBL_NUCLEO\" n ON n.\"ID_NUCLEO\" = f.r "
        "ORDER BY n.\"CODICE_NUCLEO\", n.\"ID_NUCLEO\"");
    out->members = QStringLiteral(
        "SELECT a.\"ID_ANAGRAFICA\", a.\"COGNOME\", a.\"NOME\", a.\"DATA_NASCITA\", "
        "a.\"CODICE_NUCLEO\", "
        "n.\"ID_NUCLEO\", n.\"DENOMINAZIONE\", n.\"NOME_OSPITANTE\", n.\"COMUNE\" "
        "FROM (SELECT rowid AS r FROM \"CERCA_ANAGRAFICA\" WHERE "
        "\"CERCA_ANAGRAFICA\" MATCH ? LIMIT ?) f "
        "JOIN \"TBL_ANAGRAFICA\" a ON a.\"ID_ANAGRAFICA\" = f.r "
        "LEFT JOIN \"TBL_NUCLEO\" n ON n.\"ID_NUCLEO\" = (SELECT "
        "min(m.\"ID_NUCLEO\") FROM \"TBL_NUCLEO\" m "
        "WHERE m.\"CODICE_NUCLEO\" = a.\"CODICE_NUCLEO\") "
        "ORDER BY a.\"COGNOME\", a.\"NOME\", a.\"ID_ANAGRAFICA\"");
    out->values = {matchExpression(text), limit + 1};
    return true;
}

qint64 SqliteRegistryQueries::dataVersion() {
    qint64 version = -1;
    try {
        db().select(QStringLiteral("PRAGMA data_version"), {}, [&](const Row& row) {
            version = row.at(0).toLongLong();
            return false;
        });
    } catch (const Error&) {
        // Not known: the summary is made again (and says why it fails).
    }
    return version;
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
    const QHash<QString, QVariant> days = {
        {QStringLiteral("day"), isoDay(today)},
        {QStringLiteral("after7"), isoDay(today.addDays(8))},
        {QStringLiteral("after30"), isoDay(today.addDays(31))},
        {QStringLiteral("tomorrow"), isoDay(today.addDays(1))},
        {QStringLiteral("young"), isoDay(today.addYears(-6).addDays(1))},
        {QStringLiteral("minor"), isoDay(today.addYears(-18).addDays(1))},
        {QStringLiteral("adult"), isoDay(today.addYears(-65).addDays(1))},
    };
    const auto select = [&](const QString& sql, const Engine::RowHandler& onRow) {
        const Bound b = bound(sql, days);
        db().select(b.sql, b.values, onRow, QStringLiteral("Impossibile calcolare il riepilogo"));
    };
    // :day is the day: an end of hosting on that day or later, or none, is a
    // hosting in course.
    const QString hostedFamily =
        QStringLiteral("(coalesce(\"TERMINE_ALLOGGIO\", '') = '' OR \"TERMINE_ALLOGGIO\" >= :day)");
    const QString endedFamily = QStringLiteral(
        "(coalesce(\"TERMINE_ALLOGGIO\", '') <> '' AND \"TERMINE_ALLOGGIO\" < :day)");

    select(QStringLiteral(
               "SELECT coalesce(sum(%1), 0), coalesce(sum(%2), 0), "
               "coalesce(sum(\"TERMINE_ALLOGGIO\" >= :day AND \"TERMINE_ALLOGGIO\" < :after7), 0), "
               "coalesce(sum(\"TERMINE_ALLOGGIO\" >= :day AND \"TERMINE_ALLOGGIO\" < :after30), 0) "
               "FROM \"TBL_NUCLEO\"")
               .arg(hostedFamily, endedFamily),
           [&](const Row& row) {
               registry_rows::readFamilyCounts(row, &s);
               return false;
           });

    select(QStringLiteral(
               "SELECT \"ID_NUCLEO\", \"CODICE_NUCLEO\", \"DENOMINAZIONE\", \"NOME_OSPITANTE\", "
               "\"TELEFONO\", \"TERMINE_ALLOGGIO\" FROM \"TBL_NUCLEO\" "
               "WHERE \"TERMINE_ALLOGGIO\" >= :day AND \"TERMINE_ALLOGGIO\" < :after30 "
               "ORDER BY \"TERMINE_ALLOGGIO\", \"ID_NUCLEO\""),
           [&](const Row& row) {
               s.ending.push_back(registry_rows::endingHosting(row));
               return true;
           });

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
    registry_rows::PeopleTally people;
    select(QStringLiteral(
               "WITH hosted AS (SELECT \"CODICE_NUCLEO\" AS code, min(trim(coalesce(\"COMUNE\", "
               "''))) AS comune FROM \"TBL_NUCLEO\" WHERE \"CODICE_NUCLEO\" IS NOT NULL AND %1 "
               "GROUP BY \"CODICE_NUCLEO\") "
               "SELECT h.comune, trim(coalesce(a.\"CITTADINANZA\", '')), "
               "upper(trim(coalesce(a.\"SESSO\", ''))), %2, count(*) "
               "FROM \"TBL_ANAGRAFICA\" a JOIN hosted h ON h.code = a.\"CODICE_NUCLEO\" "
               "GROUP BY 1, 2, 3, 4")
               .arg(hostedFamily, band),
           [&](const Row& row) {
               const int n = row.at(4).toInt();
               s.peopleHosted += n;
               people.add(row.at(0).toString(), row.at(1).toString(), row.at(2).toString(),
                          row.at(3).toInt(), n);
               return true;
           });
    people.writeInto(&s);

    // Members whose every family unit has ended: counted on the index of
    // the family code alone.
    select(QStringLiteral(
               "WITH ended AS (SELECT \"CODICE_NUCLEO\" AS code FROM \"TBL_NUCLEO\" "
               "WHERE \"CODICE_NUCLEO\" IS NOT NULL GROUP BY \"CODICE_NUCLEO\" HAVING max(%1) = "
               "0) SELECT count(*) FROM ended e JOIN \"TBL_ANAGRAFICA\" a ON a.\"CODICE_NUCLEO\" "
               "= e.code")
               .arg(hostedFamily),
           [&](const Row& row) {
               s.peopleEnded = row.at(0).toInt();
               return false;
           });
    return s;
}

}  // namespace marvesa
