// Retention and anonymisation on real databases: the family units due after
// the retention period, their anonymisation in one transaction (the rows,
// their history, the staging table, the search tables, the file's free
// space and journal), the "Riepilogo" counts it keeps, one person erased on
// request.

#include <QFile>
#include <QProcess>

#include "data/registry/Anonymisation.h"
#include "data/registry/History.h"
#include "data/registry/PersonalData.h"
#include "data/registry/RegistryQueries.h"
#include "data/sql/EngineFactory.h"
#include "support/DataTestSupport.h"

using namespace marvesa;
using namespace marvesa::test;
using namespace Qt::StringLiterals;

namespace {

const QDate kToday(2024, 6, 1);

// Words of the people of the family unit to anonymise, as stored and as the
// search tables fold them; none may be left anywhere (none is part of the
// name of a municipality or country either).
const QStringList kSecrets = {u"ZANZIBAR"_s,    u"QUIRZIO"_s,     u"URSULA"_s,
                              u"OSPITE ALFA"_s, u"VIA SEGRETA"_s, u"0491234567"_s,
                              u"ALLERGIA"_s,    u"CASATA"_s,      u"1980-03-04"_s};

struct Registry {
    qint64 due = 0;
    qint64 later = 0;
    qint64 laterMember = 0;
};

// QX500 ended on 31/01/2020 (due on kToday after 24 months), its members
// ZANZIBARO QUIRZIO (surname first stored as ZANZIBARI) and URSULA; QX600
// ended on 31/12/2023 (not due), member VERDONE GISMONDO; QX700 hosted, member
// NERO ALDO; a family unit stored without a code ended on 01/01/2019. A past
// export left the rows of QX500 and QX600.
Registry seed(Engine& e) {
    Registry r;
    const QStringList nucleo{u"CODICE_NUCLEO"_s,   u"DENOMINAZIONE"_s, u"NOME_OSPITANTE"_s,
                             u"COMUNE"_s,          u"INDIRIZZO"_s,     u"TELEFONO"_s,
                             u"TERMINE_ALLOGGIO"_s};
    r.due = e.insert(u"TBL_NUCLEO"_s, nucleo,
                     {u"QX500"_s, u"CASATA ZANZIBARO"_s, u"OSPITE ALFA"_s, u"Abano Terme"_s,
                      u"VIA SEGRETA 9"_s, u"0491234567"_s, u"2020-01-31T00:00:00"_s});
    r.later = e.insert(u"TBL_NUCLEO"_s, nucleo,
                       {u"QX600"_s, u"VERDONE"_s, u"OSPITE BETA"_s, u"Padova"_s, u"VIA APERTA 1"_s,
                        u"0497654321"_s, u"2023-12-31T00:00:00"_s});
    e.insert(u"TBL_NUCLEO"_s, nucleo,
             {u"QX700"_s, u"NERO"_s, u"OSPITE GAMMA"_s, u"Padova"_s, u"VIA LUNGA 2"_s, u"0491"_s,
              QVariant()});
    e.insert(u"TBL_NUCLEO"_s, nucleo,
             {u""_s, u"SENZA CODICE"_s, u"OSPITE DELTA"_s, u"Padova"_s, u"VIA CORTA 3"_s, u"0492"_s,
              u"2019-01-01T00:00:00"_s});
    const QStringList anagrafica{u"CODICE_NUCLEO"_s,   u"COGNOME"_s,       u"NOME"_s,
                                 u"SESSO"_s,           u"DATA_NASCITA"_s,  u"CITTADINANZA"_s,
                                 u"GRADO_PARENTELA"_s, u"NOTE"_s,          u"INDIRIZZO"_s,
                                 u"TELEFONO"_s,        u"NOME_OSPITANTE"_s};
    const qint64 quirino =
        e.insert(u"TBL_ANAGRAFICA"_s, anagrafica,
                 {u"QX500"_s, u"ZANZIBARI"_s, u"QUIRZIO"_s, u"M"_s, u"1980-03-04T00:00:00"_s,
                  u"Albania"_s, u"Capo Nucleo"_s, u"ALLERGIA RARISSIMA"_s, u"VIA SEGRETA 9"_s,
                  u"0491234567"_s, u"OSPITE ALFA"_s});
    e.update(u"TBL_ANAGRAFICA"_s, quirino, {u"COGNOME"_s}, {u"ZANZIBARO"_s}, {}, {});
    e.insert(
        u"TBL_ANAGRAFICA"_s, anagrafica,
        {u"QX500"_s, u"ZANZIBARO"_s, u"URSULA"_s, u"F"_s, u"2015-08-20T00:00:00"_s, u"Ucraina"_s,
         u"Figlio/Figlia"_s, QVariant(), u"VIA SEGRETA 9"_s, u"0491234567"_s, u"OSPITE ALFA"_s});
    r.laterMember =
        e.insert(u"TBL_ANAGRAFICA"_s, anagrafica,
                 {u"QX600"_s, u"VERDONE"_s, u"GISMONDO"_s, u"M"_s, u"1975-11-30T00:00:00"_s,
                  u"Albania"_s, u"Capo Nucleo"_s, u"NOTA DI GISMONDO"_s, u"VIA APERTA 1"_s,
                  u"0497654321"_s, u"OSPITE BETA"_s});
    e.insert(u"TBL_ANAGRAFICA"_s, anagrafica,
             {u"QX700"_s, u"NERO"_s, u"ALDO"_s, u"M"_s, u"1950-05-05T00:00:00"_s, u"Italia"_s,
              u"Capo Nucleo"_s, QVariant(), u"VIA LUNGA 2"_s, u"0491"_s, u"OSPITE GAMMA"_s});
    // What an export left behind.
    const QStringList staged{u"CODICE_NUCLEO"_s, u"COGNOME"_s,   u"NOME"_s,
                             u"DATA_NASCITA"_s,  u"INDIRIZZO"_s, u"NOTE"_s};
    e.insert(u"TBL_EXPORT"_s, staged,
             {u"QX500"_s, u"ZANZIBARO"_s, u"QUIRZIO"_s, u"1980-03-04T00:00:00"_s,
              u"VIA SEGRETA 9"_s, u"ALLERGIA RARISSIMA"_s});
    e.insert(u"TBL_EXPORT"_s, staged,
             {u"QX500"_s, u"ZANZIBARO"_s, u"URSULA"_s, u"2015-08-20T00:00:00"_s, u"VIA SEGRETA 9"_s,
              QVariant()});
    e.insert(u"TBL_EXPORT"_s, staged,
             {u"QX600"_s, u"VERDONE"_s, u"GISMONDO"_s, u"1975-11-30T00:00:00"_s, u"VIA APERTA 1"_s,
              u"NOTA DI GISMONDO"_s});
    return r;
}

// The words of `words` found in `bytes`, ignoring case.
QStringList foundIn(const QByteArray& bytes, const QStringList& words) {
    QStringList found;
    const QByteArray lower = bytes.toLower();
    for (const QString& w : words) {
        if (lower.contains(w.toLower().toUtf8()))
            found << w;
    }
    return found;
}

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// On a server: the words found in any row of any table, as text.
QStringList foundOnServer(Sql& sql, const QStringList& words) {
    QStringList found;
    for (const TableDef* t : schema::allTables()) {
        for (const QString& w : words) {
            if (sql.one(u"SELECT count(*) FROM \"%1\" t WHERE t::text ILIKE ?"_s.arg(t->name),
                        {u"%"_s + w + u"%"_s})
                    .toInt() > 0) {
                found << t->name + u": "_s + w;
            }
        }
    }
    return found;
}

QString counts(const OfficeSummary& s) {
    QStringList parts{QString::number(s.familiesHosted), QString::number(s.peopleHosted),
                      QString::number(s.familiesEnded), QString::number(s.peopleEnded)};
    for (const auto* list : {&s.byMunicipality, &s.byCitizenship, &s.bySex, &s.byAgeBand}) {
        for (const NamedCount& c : *list)
            parts << c.name + u'=' + QString::number(c.count);
    }
    return parts.join(u' ');
}

}  // namespace

class TestAnonymise : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { qputenv("TZ", "UTC"); }

    // A family unit is due once its hosting ended longer ago than the
    // retention period and while its rows hold personal data; no other.
    void familyUnitsDueAfterTheRetentionPeriod() {
        QTemporaryDir dir;
        const QString location = newDatabase(dir);
        auto engine = openEngine(location);
        const Registry r = seed(*engine);
        std::vector<DueFamilyUnit> due = dueFamilyUnits(*engine, kToday, 24);
        // QX500, and the family unit stored without a code.
        QCOMPARE(due.size(), size_t(2));
        QCOMPARE(due[0].code, QString());
        QCOMPARE(due[1].id, r.due);
        QCOMPARE(due[1].code, u"QX500"_s);
        QCOMPARE(due[1].host, u"OSPITE ALFA"_s);
        QCOMPARE(due[1].endOfHosting, QDate(2020, 1, 31));
        QCOMPARE(due[1].members, 2);
        // With five years kept, only the one without a code (ended on
        // 1 January 2019); with three months, QX600 too.
        due = dueFamilyUnits(*engine, kToday, 60);
        QCOMPARE(due.size(), size_t(1));
        QCOMPARE(due[0].code, QString());
        QCOMPARE(dueFamilyUnits(*engine, kToday, 3).size(), size_t(3));
        // Hosted again (its end of hosting cleared): no longer due.
        engine->update(u"TBL_NUCLEO"_s, r.due, {u"TERMINE_ALLOGGIO"_s}, {QVariant()}, {}, {});
        due = dueFamilyUnits(*engine, kToday, 24);
        QCOMPARE(due.size(), size_t(1));
        QCOMPARE(due[0].code, QString());
    }

    // The anonymisation of a family unit due: no name, address, telephone,
    // note or exact birth date of its people left anywhere in the database
    // (on a file: in its bytes, journal included, before and after a
    // VACUUM), the "Riepilogo" counts as they were, the anonymisation
    // recorded; the other family units untouched.
    void anonymisationLeavesNoTrace() {
        QTemporaryDir dir;
        const QString location = newDatabase(dir);
        auto engine = openEngine(location);
        const Registry r = seed(*engine);
        std::unique_ptr<RegistryQueries> queries = registryQueriesFor(*engine);
        queries->prepare();  // the search tables, with the names in them
        QCOMPARE(queries->find(u"zanzibaro"_s, 10).hits.size(), size_t(3));
        const QString before = counts(queries->summary(kToday));
        if (!onServer()) {
            // The check finds what is there.
            QCOMPARE(foundIn(fileBytes(location) + fileBytes(location + u"-wal"_s), kSecrets),
                     kSecrets);
        }

        const ErasureOutcome done = anonymiseFamilyUnits(*engine, {r.due}, kToday, 24);
        QCOMPARE(done.familyUnits, 1);
        QCOMPARE(done.members, 2);
        QCOMPARE(done.exportRows, 2);
        QVERIFY(done.historyRows >= 5);

        Sql sql(location);
        QCOMPARE(sql.row(u"SELECT DENOMINAZIONE, NOME_OSPITANTE, INDIRIZZO, TELEFONO, COMUNE, "
                         "TERMINE_ALLOGGIO FROM TBL_NUCLEO WHERE CODICE_NUCLEO = 'QX500'"_s),
                 u"||||Abano Terme|2020-01-31T00:00:00"_s);
        const QString member =
            u"SELECT COGNOME, NOME, SESSO, DATA_NASCITA, CITTADINANZA, "
            "GRADO_PARENTELA, NOTE, INDIRIZZO, TELEFONO, NOME_OSPITANTE FROM "
            "TBL_ANAGRAFICA WHERE CODICE_NUCLEO = 'QX500' AND NOME_OSPITANTE "
            "= '' AND SESSO = "_s;
        QCOMPARE(sql.row(member + u"'M'"_s), u"||M|1980-01-01T00:00:00|Albania|Capo Nucleo||||"_s);
        QCOMPARE(sql.row(member + u"'F'"_s),
                 u"||F|2015-07-01T00:00:00|Ucraina|Figlio/Figlia|<NULL>|||"_s);
        QCOMPARE(sql.row(u"SELECT COGNOME, NOTE FROM TBL_ANAGRAFICA WHERE ID_ANAGRAFICA = "_s +
                         QString::number(r.laterMember)),
                 u"VERDONE|NOTA DI GISMONDO"_s);
        QCOMPARE(sql.count(u"TBL_EXPORT"_s, u"COGNOME = 'VERDONE'"_s), 1);
        // Recorded, by whom the history says.
        QCOMPARE(sql.row(u"SELECT OPERAZIONE, TABELLA, ID_RIGA, CODICE_NUCLEO FROM TBL_STORICO "
                         "ORDER BY ID_STORICO DESC"_s),
                 u"ANONIMIZZA|TBL_NUCLEO|%1|QX500"_s.arg(r.due));
        QCOMPARE(dueFamilyUnits(*engine, kToday, 24).size(), size_t(1));  // the one without code
        QCOMPARE(queries->find(u"zanzibaro"_s, 10).hits.size(), size_t(0));
        QCOMPARE(queries->find(u"verdone"_s, 10).hits.size(), size_t(2));
        QCOMPARE(counts(queries->summary(kToday)), before);

        if (onServer()) {
            QCOMPARE(foundOnServer(sql, kSecrets), QStringList());
            QCOMPARE(foundOnServer(sql, {u"VERDONE"_s}).size(), 4);
            return;
        }
        // The file as it stands, the journal written back and emptied...
        QCOMPARE(QFileInfo(location + u"-wal"_s).size(), 0);
        QCOMPARE(foundIn(fileBytes(location), kSecrets), QStringList());
        QCOMPARE(foundIn(fileBytes(location), {u"VERDONE"_s}), QStringList{u"VERDONE"_s});
        // ...and once rewritten whole.
        queries.reset();
        engine->disconnect();
        QProcess vacuum;
        vacuum.start(u"sqlite3"_s, {location, u"VACUUM"_s});
        QVERIFY(vacuum.waitForFinished(30000));
        QCOMPARE(vacuum.exitCode(), 0);
        QCOMPARE(foundIn(fileBytes(location), kSecrets), QStringList());
    }

    // One person erased on request: that member alone, in its row, its
    // history and its staging row; the family unit and the other members
    // keep theirs.
    void onePersonErasedOnRequest() {
        QTemporaryDir dir;
        const QString location = newDatabase(dir);
        auto engine = openEngine(location);
        const Registry r = seed(*engine);
        const ErasureOutcome done = erasePerson(*engine, r.laterMember);
        QCOMPARE(done.members, 1);
        QCOMPARE(done.exportRows, 1);
        Sql sql(location);
        QCOMPARE(sql.row(u"SELECT COGNOME, NOME, NOTE, DATA_NASCITA, SESSO FROM TBL_ANAGRAFICA "
                         "WHERE ID_ANAGRAFICA = "_s +
                         QString::number(r.laterMember)),
                 u"|||1975-10-01T00:00:00|M"_s);
        QCOMPARE(sql.row(u"SELECT DENOMINAZIONE, NOME_OSPITANTE FROM TBL_NUCLEO WHERE "
                         "CODICE_NUCLEO = 'QX600'"_s),
                 u"VERDONE|OSPITE BETA"_s);
        QCOMPARE(sql.row(u"SELECT COGNOME, NOME FROM TBL_EXPORT WHERE CODICE_NUCLEO = 'QX600'"_s),
                 u"|"_s);
        QCOMPARE(sql.count(u"TBL_ANAGRAFICA"_s, u"COGNOME = 'ZANZIBARO'"_s), 2);
        QCOMPARE(sql.row(u"SELECT OPERAZIONE, TABELLA, ID_RIGA, CODICE_NUCLEO FROM TBL_STORICO "
                         "ORDER BY ID_STORICO DESC"_s),
                 u"ANONIMIZZA|TBL_ANAGRAFICA|%1|QX600"_s.arg(r.laterMember));
        const QStringList gismondo{u"GISMONDO"_s, u"NOTA DI"_s, u"1975-11-30"_s};
        if (onServer()) {
            QCOMPARE(foundOnServer(sql, gismondo), QStringList());
        } else {
            QCOMPARE(foundIn(fileBytes(location), gismondo), QStringList());
            QCOMPARE(foundIn(fileBytes(location), {u"QUIRZIO"_s}), QStringList{u"QUIRZIO"_s});
        }
        // A member deleted meanwhile: nothing done, said so.
        engine->remove(u"TBL_ANAGRAFICA"_s, r.laterMember);
        QVERIFY(
            errorOf([&] { erasePerson(*engine, r.laterMember); }).contains(u"non esiste più"_s));
    }

    // What the anonymisation erases and keeps, from the one list of
    // personal columns.
    void theListOfPersonalColumns() {
        for (const PersonalColumn& c : personalColumns()) {
            const QString table = QString::fromLatin1(c.table);
            bool declared = false;
            for (const TableDef* t : schema::allTables()) {
                for (const ColumnDef& d : t->columns)
                    declared = declared || (t->name == table && d.name == QLatin1String(c.column));
            }
            QVERIFY2(declared, c.column);
        }
        QCOMPARE(quarterStart(QDate(1980, 3, 31)), QDate(1980, 1, 1));
        QCOMPARE(quarterStart(QDate(1980, 4, 1)), QDate(1980, 4, 1));
        QCOMPARE(quarterStart(QDate(1980, 12, 31)), QDate(1980, 10, 1));
        QCOMPARE(erasedValue(u"31/02/1980"_s, Erasure::QuarterStart), QVariant());
        QCOMPARE(erasedValue(QVariant(), Erasure::Blank), QVariant());
        const QString explained = erasureExplanation();
        for (const char* label : {"Cognome", "Nome", "Ospitante", "Indirizzo", "Telefono", "Note",
                                  "Descrizione Nucleo", "Data Nascita"}) {
            QVERIFY2(explained.contains(QString::fromLatin1(label)), label);
        }
    }
};

QTEST_GUILESS_MAIN(TestAnonymise)
#include "tst_anonymise.moc"
