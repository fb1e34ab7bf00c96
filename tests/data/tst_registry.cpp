// "Cerca" and "Riepilogo" on real database files and on the server (the same
// tests, the same expected results): what the search finds and how it keeps
// up with rows written by anyone, and the office's numbers on a database
// built to known counts.

#include <QtTest>

#include "data/registry/Navigation.h"
#include "data/registry/PostgresRegistryQueries.h"
#include "data/registry/RegistryQueries.h"
#include "data/registry/SqliteRegistryQueries.h"
#include "data/sql/EngineFactory.h"
#include "support/DataTestSupport.h"

using namespace marvesa;
using namespace marvesa::test;

namespace {

QString stored(const QDate& d) {
    return dateTimeToStorage(naiveDateTime(d));
}

qint64 addFamily(Sql& sql, const QString& code, const QString& description, const QString& host,
                 const QVariant& town, const QVariant& end,
                 const QString& phone = QStringLiteral("0432 1")) {
    sql.exec(QStringLiteral(
                 "INSERT INTO TBL_NUCLEO (CODICE_NUCLEO, DENOMINAZIONE, NOME_OSPITANTE, COMUNE, "
                 "TELEFONO, TERMINE_ALLOGGIO) VALUES (?, ?, ?, ?, ?, ?)"),
             {code, description, host, town, phone, end});
    return sql.one(QStringLiteral("SELECT max(ID_NUCLEO) FROM TBL_NUCLEO")).toLongLong();
}

qint64 addPerson(Sql& sql, const QString& code, const QString& surname, const QString& name,
                 const QVariant& sex, const QVariant& born, const QVariant& citizenship) {
    sql.exec(QStringLiteral(
                 "INSERT INTO TBL_ANAGRAFICA (CODICE_NUCLEO, COGNOME, NOME, SESSO, DATA_NASCITA, "
                 "CITTADINANZA) VALUES (?, ?, ?, ?, ?, ?)"),
             {code, surname, name, sex, born, citizenship});
    return sql.one(QStringLiteral("SELECT max(ID_ANAGRAFICA) FROM TBL_ANAGRAFICA")).toLongLong();
}

// What a search finds, one line per hit: "surname name" for a member, the
// family code for a family unit.
QStringList found(RegistryQueries& q, const QString& text, int limit = 50) {
    QStringList lines;
    for (const SearchHit& h : q.find(text, limit).hits) {
        lines << (h.kind == SearchHit::Kind::Member ? h.surname + QLatin1Char(' ') + h.name
                                                    : QStringLiteral("nucleo ") + h.familyCode);
    }
    return lines;
}

// The queries of the engine the test runs on.
std::unique_ptr<RegistryQueries> queriesOn(const QString& path) {
    if (onServer())
        return std::make_unique<PostgresRegistryQueries>(path);
    return std::make_unique<SqliteRegistryQueries>(path);
}

// Makes what the search needs where it is missing; true when it made it.
bool makeSearchObjects(RegistryQueries& q) {
    if (auto* file = dynamic_cast<SqliteRegistryQueries*>(&q))
        return file->ensureSearchTables();
    return dynamic_cast<PostgresRegistryQueries&>(q).ensureSearchObjects();
}

QString counts(const std::vector<NamedCount>& rows) {
    QStringList parts;
    for (const NamedCount& r : rows)
        parts << QStringLiteral("%1=%2").arg(r.name).arg(r.count);
    return parts.join(QStringLiteral(", "));
}

}  // namespace

class TstRegistry : public QObject {
    Q_OBJECT

private slots:
    void searchIgnoresCaseAccentsApostrophesAndWordOrder() {
        QTemporaryDir dir;
        const QString path = newDatabase(dir);
        Sql sql(path);
        addFamily(sql, QStringLiteral("QX4711"), QStringLiteral("FAMIGLIA KOVAL"),
                  QStringLiteral("ROSSI MARIO"), QStringLiteral("Udine"), QVariant());
        const qint64 family =
            addFamily(sql, QStringLiteral("QX900"), QStringLiteral("BIANCHI"),
                      QStringLiteral("LIA"), QStringLiteral("Gorizia"), QVariant());
        addPerson(sql, QStringLiteral("QX900"), QStringLiteral("D'ANGELO"),
                  QStringLiteral("NICOLÒ"), QStringLiteral("M"), stored(QDate(1990, 5, 6)),
                  QStringLiteral("Italia"));
        addPerson(sql, QStringLiteral("QX900"), QStringLiteral("ROSSI"), QStringLiteral("MARIO"),
                  QStringLiteral("M"), QVariant(), QVariant());
        addPerson(sql, QStringLiteral("QX900"), QStringLiteral("ROSSI"), QStringLiteral("LUCA"),
                  QStringLiteral("M"), QVariant(), QVariant());
        addPerson(sql, QStringLiteral("QX900"), QStringLiteral("ШЕВЧЕНКО"), QStringLiteral("ОЛЕНА"),
                  QStringLiteral("F"), QVariant(), QVariant());
        // A member whose family code no family unit carries.
        addPerson(sql, QStringLiteral("QX1"), QStringLiteral("ORFANO"), QStringLiteral("PIO"),
                  QVariant(), QVariant(), QVariant());

        auto qOwned = queriesOn(path);
        RegistryQueries& q = *qOwned;
        QCOMPARE(found(q, QStringLiteral("dangelo")),
                 QStringList{QStringLiteral("D'ANGELO NICOLÒ")});
        QCOMPARE(found(q, QStringLiteral("D’Angelo")),
                 QStringList{QStringLiteral("D'ANGELO NICOLÒ")});
        QCOMPARE(found(q, QStringLiteral("nicolo")),
                 QStringList{QStringLiteral("D'ANGELO NICOLÒ")});
        QCOMPARE(found(q, QStringLiteral("шевч")), QStringList{QStringLiteral("ШЕВЧЕНКО ОЛЕНА")});
        // Full name in either order, words as beginnings; the family unit
        // whose host is ROSSI MARIO comes first.
        const QStringList rossiMario = {QStringLiteral("nucleo QX4711"),
                                        QStringLiteral("ROSSI MARIO")};
        QCOMPARE(found(q, QStringLiteral("rossi mario")), rossiMario);
        QCOMPARE(found(q, QStringLiteral("MARIO ROSSI")), rossiMario);
        QCOMPARE(found(q, QStringLiteral("mar ros")), rossiMario);
        QCOMPARE(found(q, QStringLiteral("rossi")),
                 (QStringList{QStringLiteral("nucleo QX4711"), QStringLiteral("ROSSI LUCA"),
                              QStringLiteral("ROSSI MARIO")}));
        // Family units by code, by the code's digits, by description.
        QCOMPARE(found(q, QStringLiteral("qx47")), QStringList{QStringLiteral("nucleo QX4711")});
        QCOMPARE(found(q, QStringLiteral("4711")), QStringList{QStringLiteral("nucleo QX4711")});
        QCOMPARE(found(q, QStringLiteral("famiglia kov")),
                 QStringList{QStringLiteral("nucleo QX4711")});
        // One character, and texts the full-text syntax would misread.
        QVERIFY(found(q, QStringLiteral("r")).isEmpty());
        QVERIFY(found(q, QStringLiteral("' '")).isEmpty());
        QCOMPARE(found(q, QStringLiteral("\"ross")), found(q, QStringLiteral("ross")));
        QCOMPARE(found(q, QStringLiteral("ROSSI AND*")).size(), 0);
        QCOMPARE(found(q, QStringLiteral("NEAR(rossi")).size(), 0);
        QCOMPARE(found(q, QStringLiteral("-- ; rossi")).size(), 3);

        // What a line carries: the family unit found by the member's code.
        const SearchResult r = q.find(QStringLiteral("nicolo"), 10);
        QCOMPARE(r.hits.size(), size_t(1));
        QCOMPARE(r.hits[0].familyId, family);
        QCOMPARE(r.hits[0].familyCode, QStringLiteral("QX900"));
        QCOMPARE(r.hits[0].host, QStringLiteral("LIA"));
        QCOMPARE(r.hits[0].municipality, QStringLiteral("Gorizia"));
        QCOMPARE(r.hits[0].birthDate, QDate(1990, 5, 6));
        QCOMPARE(q.find(QStringLiteral("orfano"), 10).hits.at(0).familyId, qint64(0));
        // A limit keeps the first matches and says so.
        const SearchResult limited = q.find(QStringLiteral("ro"), 1);
        QVERIFY(limited.truncated);
        QCOMPARE(limited.hits.size(), size_t(2));  // one family unit, one member
    }

    // What is typed or pasted is made comparable once, for both engines:
    // an apostrophe's parts, full-width letters, typographic apostrophes;
    // control characters, halves of characters and pages of text give
    // results or nothing, never an error. A word matches only where a word
    // begins.
    void searchNormalisesWhatIsTypedOrPasted() {
        QTemporaryDir dir;
        const QString path = newDatabase(dir);
        Sql sql(path);
        addFamily(sql, QStringLiteral("QX900"), QStringLiteral("BIANCHI"), QStringLiteral("LIA"),
                  QStringLiteral("Gorizia"), QVariant());
        addPerson(sql, QStringLiteral("QX900"), QStringLiteral("D'ANGELO"),
                  QStringLiteral("NICOLÒ"), QStringLiteral("M"), QVariant(), QVariant());
        addPerson(sql, QStringLiteral("QX900"), QStringLiteral("ROSSI"), QStringLiteral("MARIO"),
                  QStringLiteral("M"), QVariant(), QVariant());
        auto qOwned = queriesOn(path);
        RegistryQueries& q = *qOwned;
        const QStringList dangelo{QStringLiteral("D'ANGELO NICOLÒ")};
        const QStringList rossi{QStringLiteral("ROSSI MARIO")};
        for (const char* typed :
             {"angelo", "dangelo", "d'angelo", "D’Angelo", "d´ang", "ANGELO nic"})
            QCOMPARE(found(q, QString::fromUtf8(typed)), dangelo);
        // Only at the beginning of a word.
        QVERIFY(found(q, QStringLiteral("ossi")).isEmpty());
        QVERIFY(found(q, QStringLiteral("ngelo")).isEmpty());
        QVERIFY(found(q, QStringLiteral("ario")).isEmpty());
        // Full-width letters, a lone half of a character, a NUL, a tab.
        QCOMPARE(found(q, QStringLiteral("ｒｏｓｓｉ")), rossi);
        QCOMPARE(found(q, QString(QChar(0xD800)) + QStringLiteral("rossi")), rossi);
        QCOMPARE(found(q, QStringLiteral("ros") + QChar(0xDC00) + QStringLiteral("si")), rossi);
        QCOMPARE(found(q, QStringLiteral("ros") + QChar(0) + QStringLiteral("si")), rossi);
        QCOMPARE(found(q, QStringLiteral("rossi\tmario")), rossi);
        QCOMPARE(found(q, QString::fromUtf8("ros\xF0\x9F\x99\x82")), rossi);  // "ros🙂"
        QCOMPARE(found(q, QString(QChar(0))), QStringList());
        QCOMPARE(found(q, QString(QChar(0xDFFF))), QStringList());
        // Pasted pages: a word of 10,000 characters, thousands of words.
        QCOMPARE(found(q, QString(10000, QLatin1Char('r'))), QStringList());
        QString page;
        for (int i = 0; i < 3000; ++i)
            page += QStringLiteral("rossi mario ");
        QCOMPARE(found(q, page), rossi);
        QCOMPARE(found(q, QStringLiteral("rossi ") + QString(10000, QChar(0xD83D))), rossi);
        QCOMPARE(searchWords(page).size(), kMaxSearchWords);
        QCOMPARE(searchWords(QString(10000, QLatin1Char('x'))).at(0).size(), kMaxSearchWordLength);
        QCOMPARE(normalisedSearchText(QStringLiteral("ｒｏ’s\u0000s\u200Bi")),
                 QStringLiteral("ro'ssi"));
    }

    // Search objects made by an older program compare other words (no
    // part after an apostrophe): the first search remakes them.
    void olderSearchObjectsAreMadeAgain() {
        QTemporaryDir dir;
        const QString path = newDatabase(dir);
        Sql sql(path);
        addFamily(sql, QStringLiteral("QX1"), QStringLiteral("UNO"), QStringLiteral("H"),
                  QVariant(), QVariant());
        addPerson(sql, QStringLiteral("QX1"), QStringLiteral("D'ANGELO"), QStringLiteral("PIA"),
                  QVariant(), QVariant(), QVariant());
        {
            auto q = queriesOn(path);
            makeSearchObjects(*q);
        }
        if (sql.onServer()) {
            // As an older program made it: no description of itself, and
            // the apostrophes simply removed.
            sql.exec(QStringLiteral(
                "CREATE OR REPLACE FUNCTION marvesa_testo_ricerca(text) RETURNS text LANGUAGE "
                "sql IMMUTABLE STRICT AS $f$ SELECT ' ' || btrim(regexp_replace(lower("
                "public.unaccent('public.unaccent'::regdictionary, translate($1, '''', ''))), "
                "'[^[:alnum:]]+', ' ', 'g')) $f$"));
            sql.exec(QStringLiteral("COMMENT ON FUNCTION marvesa_testo_ricerca(text) IS NULL"));
            sql.exec(QStringLiteral("REINDEX INDEX \"IDX_ANAGRAFICA_CERCA\""));
        } else {
            sql.exec(QStringLiteral("DROP TRIGGER CERCA_ANAGRAFICA_AI"));
            sql.exec(QStringLiteral(
                "CREATE TRIGGER \"CERCA_ANAGRAFICA_AI\" AFTER INSERT ON \"TBL_ANAGRAFICA\" BEGIN "
                "INSERT INTO \"CERCA_ANAGRAFICA\" (rowid, \"CHIAVE\") VALUES "
                "(new.\"ID_ANAGRAFICA\", replace(new.\"COGNOME\", '''', '')); END"));
            sql.exec(QStringLiteral("DELETE FROM CERCA_ANAGRAFICA"));
            sql.exec(
                QStringLiteral("INSERT INTO CERCA_ANAGRAFICA (rowid, CHIAVE) SELECT "
                               "ID_ANAGRAFICA, replace(COGNOME, '''', '') FROM "
                               "TBL_ANAGRAFICA"));
        }
        auto q = queriesOn(path);
        QVERIFY(makeSearchObjects(*q));
        QCOMPARE(found(*q, QStringLiteral("angelo")), QStringList{QStringLiteral("D'ANGELO PIA")});
        QCOMPARE(found(*q, QStringLiteral("dangelo")), QStringList{QStringLiteral("D'ANGELO PIA")});
        auto again = queriesOn(path);
        QVERIFY(!makeSearchObjects(*again));
    }

    void searchTablesAreMadeOnceAndFollowEveryWriter() {
        QTemporaryDir dir;
        const QString path = newDatabase(dir);
        Sql sql(path);
        addFamily(sql, QStringLiteral("QX10"), QStringLiteral("PRIMA"), QStringLiteral("ANNA"),
                  QVariant(), QVariant());
        const qint64 first = addPerson(sql, QStringLiteral("QX10"), QStringLiteral("VERDI"),
                                       QStringLiteral("PIA"), QVariant(), QVariant(), QVariant());
        if (sql.onServer()) {
            // marvesa-initdb makes them with the tables.
            QCOMPARE(sql.one(QStringLiteral("SELECT to_regclass('\"IDX_NUCLEO_CERCA\"') IS NOT "
                                            "NULL AND to_regclass('\"IDX_ANAGRAFICA_CERCA\"') IS "
                                            "NOT NULL"))
                         .toBool(),
                     true);
            // A server database made by an older marvesa-initdb: no search
            // function, no indexes.
            sql.exec(QStringLiteral("DROP FUNCTION marvesa_testo_ricerca(text) CASCADE"));
            QCOMPARE(sql.one(QStringLiteral("SELECT to_regclass('\"IDX_NUCLEO_CERCA\"') IS NULL"))
                         .toBool(),
                     true);
        }
        {
            // A database that never had them gets them, filled with what it holds.
            auto qOwned = queriesOn(path);
            RegistryQueries& q = *qOwned;
            QVERIFY(makeSearchObjects(q));
            QCOMPARE(found(q, QStringLiteral("verdi")), QStringList{QStringLiteral("VERDI PIA")});
        }
        {
            // The next copy of the program finds them made.
            auto qOwned = queriesOn(path);
            RegistryQueries& q = *qOwned;
            QVERIFY(!makeSearchObjects(q));
        }
        if (sql.onServer()) {
            // An index whose build was interrupted (another desk's program
            // closed meanwhile) is left unusable: it is made again.
            sql.exec(
                QStringLiteral("UPDATE pg_index SET indisvalid = false WHERE indexrelid = "
                               "to_regclass('\"IDX_ANAGRAFICA_CERCA\"')"));
            auto qOwned = queriesOn(path);
            RegistryQueries& q = *qOwned;
            QVERIFY(makeSearchObjects(q));
            QCOMPARE(sql.one(QStringLiteral("SELECT indisvalid FROM pg_index WHERE indexrelid = "
                                            "to_regclass('\"IDX_ANAGRAFICA_CERCA\"')"))
                         .toBool(),
                     true);
            QCOMPARE(found(q, QStringLiteral("verdi")), QStringList{QStringLiteral("VERDI PIA")});
        }
        {
            // Made already, they are searched also while another desk holds
            // the database for writing.
            Sql writer(path);
            if (writer.onServer()) {
                writer.exec(QStringLiteral("BEGIN"));
                writer.exec(
                    QStringLiteral("LOCK TABLE TBL_ANAGRAFICA IN SHARE ROW EXCLUSIVE MODE"));
                writer.exec(QStringLiteral("LOCK TABLE TBL_NUCLEO IN SHARE ROW EXCLUSIVE MODE"));
            } else {
                writer.exec(QStringLiteral("BEGIN IMMEDIATE"));
            }
            auto qOwned = queriesOn(path);
            RegistryQueries& q = *qOwned;
            QCOMPARE(found(q, QStringLiteral("verdi")), QStringList{QStringLiteral("VERDI PIA")});
            writer.exec(QStringLiteral("ROLLBACK"));
        }
        auto qOwned = queriesOn(path);
        RegistryQueries& q = *qOwned;
        // Rows written by any program on the file count at once: the
        // triggers keep the search tables current.
        addPerson(sql, QStringLiteral("QX10"), QStringLiteral("GIALLI"), QStringLiteral("EVA"),
                  QVariant(), QVariant(), QVariant());
        QCOMPARE(found(q, QStringLiteral("gialli")), QStringList{QStringLiteral("GIALLI EVA")});
        sql.exec(
            QStringLiteral("UPDATE TBL_ANAGRAFICA SET COGNOME = 'BRUNI' WHERE ID_ANAGRAFICA = ?"),
            {first});
        QVERIFY(found(q, QStringLiteral("verdi")).isEmpty());
        QCOMPARE(found(q, QStringLiteral("bruni")), QStringList{QStringLiteral("BRUNI PIA")});
        sql.exec(QStringLiteral("DELETE FROM TBL_ANAGRAFICA WHERE ID_ANAGRAFICA = ?"), {first});
        QVERIFY(found(q, QStringLiteral("bruni")).isEmpty());
        sql.exec(QStringLiteral(
            "UPDATE TBL_NUCLEO SET NOME_OSPITANTE = 'DANTE' WHERE CODICE_NUCLEO = 'QX10'"));
        QCOMPARE(found(q, QStringLiteral("dante")), QStringList{QStringLiteral("nucleo QX10")});
        QVERIFY(found(q, QStringLiteral("anna")).isEmpty());

        // The program's own cursors store through the same triggers.
        TdmMarvesa dm;
        dm.DataModuleCreate(path);
        add(dm.TBL_NUCLEO, "DENOMINAZIONE", "CURSORE NUOVO");
        QCOMPARE(found(q, QStringLiteral("cursore")).size(), 1);
        dm.TBL_NUCLEO.remove();
        QVERIFY(found(q, QStringLiteral("cursore")).isEmpty());
    }

    void goingToAFamilyUnitAndMemberMovesTheCursors() {
        QTemporaryDir dir;
        const QString path = newDatabase(dir);
        Sql sql(path);
        addFamily(sql, QStringLiteral("QX1"), QStringLiteral("UNO"), QStringLiteral("A"),
                  QVariant(), QVariant());
        addPerson(sql, QStringLiteral("QX1"), QStringLiteral("PRIMO"), QStringLiteral("A"),
                  QVariant(), QVariant(), QVariant());
        TdmMarvesa dm;
        dm.DataModuleCreate(path);
        // Stored by another desk after the tables were read.
        const qint64 family = addFamily(sql, QStringLiteral("QX2"), QStringLiteral("DUE"),
                                        QStringLiteral("B"), QVariant(), QVariant());
        addPerson(sql, QStringLiteral("QX2"), QStringLiteral("SECONDO"), QStringLiteral("A"),
                  QVariant(), QVariant(), QVariant());
        const qint64 member = addPerson(sql, QStringLiteral("QX2"), QStringLiteral("TERZO"),
                                        QStringLiteral("B"), QVariant(), QVariant(), QVariant());
        QCOMPARE(goToFamilyUnitAndMember(dm, family, member), GoToOutcome::Done);
        QCOMPARE(text(dm.TBL_NUCLEO, "CODICE_NUCLEO"), QStringLiteral("QX2"));
        QCOMPARE(text(dm.TBL_ANAGRAFICA, "COGNOME"), QStringLiteral("TERZO"));
        QCOMPARE(dm.TBL_ANAGRAFICA.recordCount(), 2);
        QCOMPARE(goToFamilyUnitAndMember(dm, family, 9999), GoToOutcome::MemberMissing);
        QCOMPARE(goToFamilyUnitAndMember(dm, 9999, 0), GoToOutcome::FamilyUnitMissing);
        QCOMPARE(text(dm.TBL_NUCLEO, "CODICE_NUCLEO"), QStringLiteral("QX2"));
    }

    void summaryCountsAKnownDatabaseExactly() {
        QTemporaryDir dir;
        const QString path = newDatabase(dir);
        Sql sql(path);
        // A code carried by two family units, as databases made before codes
        // were unique may hold.
        sql.exec(QStringLiteral("DROP INDEX IDX_NUCLEO_CODICE_NUCLEO"));
        const QDate today(2025, 6, 15);
        // The server holds SESSO to its width of one character; a file may
        // hold blanks around it.
        const QString lowerM = sql.onServer() ? QStringLiteral("m") : QStringLiteral(" m");
        const QString ua = QStringLiteral("Ucraina");
        const QString udine = QStringLiteral("Udine"), trieste = QStringLiteral("Trieste");
        // Hosted: no end, ending today, in 7 days, in 8, in 30, in 31 days.
        addFamily(sql, QStringLiteral("QX1"), QStringLiteral("F1"), QStringLiteral("H1"), udine,
                  QVariant());
        addPerson(sql, QStringLiteral("QX1"), QStringLiteral("A"), QStringLiteral("6 OGGI"),
                  QStringLiteral("M"), stored(QDate(2019, 6, 15)), ua);
        addPerson(sql, QStringLiteral("QX1"), QStringLiteral("A"), QStringLiteral("5 ANCORA"),
                  QStringLiteral("f"), stored(QDate(2019, 6, 16)), ua);
        addPerson(sql, QStringLiteral("QX1"), QStringLiteral("A"), QStringLiteral("NATA OGGI"),
                  QStringLiteral("F"), stored(today), ua);
        addFamily(sql, QStringLiteral("QX2"), QStringLiteral("F2"), QStringLiteral("H2"), udine,
                  stored(today), QStringLiteral("040 2"));
        addPerson(sql, QStringLiteral("QX2"), QStringLiteral("B"), QStringLiteral("18 OGGI"),
                  QStringLiteral("M"), stored(QDate(2007, 6, 15)), ua);
        addPerson(sql, QStringLiteral("QX2"), QStringLiteral("B"), QStringLiteral("17 ANCORA"),
                  QStringLiteral("M"), stored(QDate(2007, 6, 16)), ua);
        addFamily(sql, QStringLiteral("QX3"), QStringLiteral("F3"), QStringLiteral("H3"), trieste,
                  stored(today.addDays(7)));
        addPerson(sql, QStringLiteral("QX3"), QStringLiteral("C"), QStringLiteral("65 OGGI"),
                  QStringLiteral("F"), stored(QDate(1960, 6, 15)), ua);
        addPerson(sql, QStringLiteral("QX3"), QStringLiteral("C"), QStringLiteral("64 ANCORA"),
                  QStringLiteral("F"), stored(QDate(1960, 6, 16)), ua);
        addFamily(sql, QStringLiteral("QX4"), QStringLiteral("F4"), QStringLiteral("H4"), trieste,
                  stored(today.addDays(8)));
        addPerson(sql, QStringLiteral("QX4"), QStringLiteral("D"), QStringLiteral("SENZA DATA"),
                  QVariant(), QVariant(), QVariant());
        addFamily(sql, QStringLiteral("QX5"), QStringLiteral("F5"), QStringLiteral("H5"),
                  QVariant(), stored(today.addDays(30)));
        addPerson(sql, QStringLiteral("QX5"), QStringLiteral("E"), QStringLiteral("NATO DOMANI"),
                  lowerM, stored(today.addDays(1)), ua);
        addFamily(sql, QStringLiteral("QX6"), QStringLiteral("F6"), QStringLiteral("H6"),
                  QStringLiteral("Gorizia"), stored(today.addDays(31)));
        addPerson(sql, QStringLiteral("QX6"), QStringLiteral("F"), QStringLiteral("ADULTO"),
                  QStringLiteral("M"), stored(QDate(1990, 1, 1)), QStringLiteral("Moldavia"));
        // Ended yesterday, and a second family unit with the code QX1 that
        // ended: QX1's members stay hosted and count once.
        addFamily(sql, QStringLiteral("QX7"), QStringLiteral("F7"), QStringLiteral("H7"), udine,
                  stored(today.addDays(-1)));
        addPerson(sql, QStringLiteral("QX7"), QStringLiteral("G"), QStringLiteral("UNO"),
                  QStringLiteral("M"), stored(QDate(1980, 1, 1)), ua);
        addPerson(sql, QStringLiteral("QX7"), QStringLiteral("G"), QStringLiteral("DUE"),
                  QStringLiteral("F"), stored(QDate(1981, 1, 1)), ua);
        addFamily(sql, QStringLiteral("QX1"), QStringLiteral("F8"), QStringLiteral("H8"), udine,
                  stored(QDate(2025, 6, 1)));
        // Counted nowhere: no family unit carries its code.
        addPerson(sql, QStringLiteral("QX99"), QStringLiteral("Z"), QStringLiteral("ORFANO"),
                  QStringLiteral("M"), QVariant(), ua);

        auto qOwned = queriesOn(path);
        RegistryQueries& q = *qOwned;
        const OfficeSummary s = q.summary(today);
        QCOMPARE(s.familiesHosted, 6);
        QCOMPARE(s.peopleHosted, 10);
        QCOMPARE(s.familiesEnded, 2);
        QCOMPARE(s.peopleEnded, 2);
        QCOMPARE(s.endingWithin7, 2);
        QCOMPARE(s.endingWithin30, 4);
        QStringList ending;
        for (const EndingHosting& e : s.ending)
            ending << e.familyCode + QLatin1Char(' ') + e.end.toString(Qt::ISODate);
        QCOMPARE(ending,
                 (QStringList{QStringLiteral("QX2 2025-06-15"), QStringLiteral("QX3 2025-06-22"),
                              QStringLiteral("QX4 2025-06-23"), QStringLiteral("QX5 2025-07-15")}));
        QCOMPARE(s.ending[0].telephone, QStringLiteral("040 2"));
        QCOMPARE(s.ending[0].host, QStringLiteral("H2"));
        QCOMPARE(counts(s.byMunicipality),
                 QStringLiteral("Udine=5, Trieste=3, Gorizia=1, non indicato=1"));
        QCOMPARE(counts(s.byCitizenship), QStringLiteral("Ucraina=8, Moldavia=1, non indicata=1"));
        QCOMPARE(counts(s.bySex), QStringLiteral("M=5, F=4, non indicato=1"));
        QCOMPARE(counts(s.byAgeBand),
                 QStringLiteral("0-5=2, 6-17=2, 18-64=3, 65 e oltre=1, non indicata=2"));

        // The same bands computed in the program for one person.
        QCOMPARE(OfficeSummary::ageBandOf(QDate(2019, 6, 15), today), 1);
        QCOMPARE(OfficeSummary::ageBandOf(QDate(2019, 6, 16), today), 0);
        QCOMPARE(OfficeSummary::ageBandOf(QDate(1960, 6, 15), today), 3);
        QCOMPARE(OfficeSummary::ageBandOf(QDate(), today), 4);

        const QString tsv = s.toTabSeparatedText();
        QVERIFY(tsv.contains(QStringLiteral("\nOspitati ora\t6\t10\n")));
        QVERIFY(tsv.contains(QStringLiteral("\nOspitalità terminate\t2\t2\n")));
        QVERIFY(tsv.contains(QStringLiteral("\nQX3\tF3\tH3\t0432 1\t22/06/2025\n")));
        QVERIFY(
            tsv.contains(QStringLiteral("\nFascia d'età\tPersone\n0-5\t2\n6-17\t2\n18-64\t3\n")));

        // Asked again: the same numbers while nothing changed, new ones as
        // soon as any connection stores a change, or for another day.
        QCOMPARE(q.summary(today).familiesHosted, 6);
        addFamily(sql, QStringLiteral("QX8"), QStringLiteral("F9"), QStringLiteral("H9"), udine,
                  QVariant());
        QCOMPARE(q.summary(today).familiesHosted, 7);
        QCOMPARE(q.summary(today.addDays(1)).familiesEnded, 3);  // QX2 ended on the day

        // Born on 29 February: six on 1 March of a common year, in SQL as here.
        QTemporaryDir leapDir;
        const QString leapPath = newDatabase(leapDir);
        {
            Sql leap(leapPath);
            addFamily(leap, QStringLiteral("QX1"), QStringLiteral("L"), QStringLiteral("H"), udine,
                      QVariant());
            addPerson(leap, QStringLiteral("QX1"), QStringLiteral("L"), QStringLiteral("P"),
                      QStringLiteral("F"), stored(QDate(2020, 2, 29)), ua);
        }
        auto leapQueriesOwned = queriesOn(leapPath);
        RegistryQueries& leapQueries = *leapQueriesOwned;
        QCOMPARE(leapQueries.summary(QDate(2026, 2, 28)).byAgeBand[0].count, 1);
        QCOMPARE(leapQueries.summary(QDate(2026, 3, 1)).byAgeBand[1].count, 1);
        QCOMPARE(OfficeSummary::ageBandOf(QDate(2020, 2, 29), QDate(2026, 2, 28)), 0);
        QCOMPARE(OfficeSummary::ageBandOf(QDate(2020, 2, 29), QDate(2026, 3, 1)), 1);

        // Members whose code two hosted family units share -- a repeated
        // code, and two family units without a code -- count once in every
        // total and breakdown.
        {
            QTemporaryDir sharedDir;
            const QString sharedPath = newDatabase(sharedDir);
            Sql shared(sharedPath);
            shared.exec(QStringLiteral("DROP INDEX IDX_NUCLEO_CODICE_NUCLEO"));
            const QString none = QStringLiteral("");  // a value, not NULL
            for (const QString& code : {QStringLiteral("QX5"), QStringLiteral("QX5"), none, none}) {
                addFamily(shared, code, QStringLiteral("D"), QStringLiteral("H"), udine,
                          QVariant());
            }
            addPerson(shared, QStringLiteral("QX5"), QStringLiteral("S"), QStringLiteral("UNO"),
                      QStringLiteral("F"), stored(QDate(1990, 1, 1)), ua);
            addPerson(shared, QStringLiteral("QX5"), QStringLiteral("S"), QStringLiteral("DUE"),
                      QStringLiteral("M"), stored(QDate(2015, 1, 1)), ua);
            addPerson(shared, none, QStringLiteral("V"), QStringLiteral("TRE"), QStringLiteral("M"),
                      stored(QDate(1950, 1, 1)), QStringLiteral("Moldavia"));
            auto sharedQueries = queriesOn(sharedPath);
            const OfficeSummary t = sharedQueries->summary(today);
            QCOMPARE(t.familiesHosted, 4);
            QCOMPARE(t.peopleHosted, 3);
            QCOMPARE(t.peopleEnded, 0);
            QCOMPARE(counts(t.byMunicipality), QStringLiteral("Udine=3"));
            QCOMPARE(counts(t.byCitizenship), QStringLiteral("Ucraina=2, Moldavia=1"));
            QCOMPARE(counts(t.bySex), QStringLiteral("M=2, F=1, non indicato=0"));
            QCOMPARE(counts(t.byAgeBand),
                     QStringLiteral("0-5=0, 6-17=1, 18-64=1, 65 e oltre=1, non indicata=0"));
        }

        // An empty registry.
        QTemporaryDir other;
        auto emptyOwned = queriesOn(newDatabase(other));
        RegistryQueries& empty = *emptyOwned;
        const OfficeSummary none = empty.summary(today);
        QCOMPARE(none.peopleHosted + none.familiesHosted + none.familiesEnded, 0);
        QCOMPARE(counts(none.bySex), QStringLiteral("M=0, F=0, non indicato=0"));
    }

    // The engine is picked from the location. The queries of an engine run
    // on a second connection of it: they see what the engine stores only
    // once it is committed, as another desk's work, and the connection
    // closes with the engine.
    void queriesRunOnASecondConnectionThatClosesWithTheEngine() {
        QCOMPARE(engineFor(QStringLiteral("host=/nessuna-cartella dbname=registro"))->dialect(),
                 SqlDialect::PostgreSQL);
        QCOMPARE(engineFor(QStringLiteral("postgresql://server/registro"))->dialect(),
                 SqlDialect::PostgreSQL);
        QCOMPARE(engineFor(QStringLiteral("../dB/dbQuaz.mdb"))->dialect(), SqlDialect::SQLite);

        QTemporaryDir dir;
        const QString path = newDatabase(dir);
        std::unique_ptr<QtSqlEngine> engine = openEngine(path);
        QCOMPARE(engine->dialect(), onServer() ? SqlDialect::PostgreSQL : SqlDialect::SQLite);
        const int connections = int(QSqlDatabase::connectionNames().size());
        std::unique_ptr<RegistryQueries> q = registryQueriesFor(*engine);
        QCOMPARE(int(QSqlDatabase::connectionNames().size()), connections + 1);
        q->prepare();
        const QDate today(2025, 6, 15);
        QCOMPARE(q->summary(today).familiesHosted, 0);

        engine->beginWrite(QStringLiteral("TBL_NUCLEO"));
        engine->insert(QStringLiteral("TBL_NUCLEO"),
                       {QStringLiteral("CODICE_NUCLEO"), QStringLiteral("NOME_OSPITANTE")},
                       {QStringLiteral("QX5"), QStringLiteral("VERDI PIA")});
        QCOMPARE(q->summary(today).familiesHosted, 0);
        QVERIFY(found(*q, QStringLiteral("verdi")).isEmpty());
        engine->commit();
        QCOMPARE(q->summary(today).familiesHosted, 1);
        QCOMPARE(found(*q, QStringLiteral("verdi")), QStringList{QStringLiteral("nucleo QX5")});

        const QString closed =
            QStringLiteral("La connessione al database \"%1\" è chiusa").arg(engine->location());
        engine->disconnect();
        QCOMPARE(int(QSqlDatabase::connectionNames().size()), connections - 1);
        QCOMPARE(errorOf([&] { q->find(QStringLiteral("verdi"), 5); }), closed);
        engine->connect();
        QCOMPARE(errorOf([&] { q->summary(today); }), closed);

        // The same when the engine goes.
        q = registryQueriesFor(*engine);
        engine.reset();
        QCOMPARE(int(QSqlDatabase::connectionNames().size()), connections - 1);
        QCOMPARE(errorOf([&] { q->find(QStringLiteral("verdi"), 5); }), closed);
    }

    void chartShowsTheFirstTenAndTheRestAsAltri() {
        OfficeSummary s;
        for (int i = 0; i < 12; ++i)
            s.byMunicipality.push_back({QStringLiteral("C%1").arg(i), 20 - i});
        const std::vector<NamedCount> chart = s.municipalityChart(10);
        QCOMPARE(chart.size(), size_t(11));
        QCOMPARE(chart[9].name, QStringLiteral("C9"));
        QCOMPARE(chart[10].name, QStringLiteral("Altri"));
        QCOMPARE(chart[10].count, 10 + 9);
        s.byMunicipality.resize(10);
        QCOMPARE(s.municipalityChart(10).size(), size_t(10));
    }
};

QTEST_GUILESS_MAIN(TstRegistry)
#include "tst_registry.moc"
