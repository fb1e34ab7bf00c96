// The duplicate check: the name key (case, accents, apostrophes, blanks,
// Cyrillic in Latin letters), the rule on pairs of people, and the check on
// a real database, on files and on the server: found by index, kept right
// when another tool changes a name, the pairs declared different left out.

#include <QtTest>

#include "data/registry/DuplicateCheck.h"
#include "data/schema/SchemaUpgrade.h"
#include "data/schema/ServerDatabase.h"
#include "data/sql/EngineFactory.h"
#include "support/DataTestSupport.h"

using namespace marvesa;
using namespace marvesa::test;

namespace {

QString stored(const QDate& d) {
    return dateTimeToStorage(naiveDateTime(d));
}

QDate day(const char* ddmmyyyy) {
    return QDate::fromString(QString::fromLatin1(ddmmyyyy), QStringLiteral("dd/MM/yyyy"));
}

void addFamily(Sql& sql, const QString& code, const QString& description) {
    sql.exec(QStringLiteral("INSERT INTO TBL_NUCLEO (CODICE_NUCLEO, DENOMINAZIONE, "
                            "NOME_OSPITANTE, COMUNE) VALUES (?, ?, ?, ?)"),
             {code, description, QStringLiteral("LIA BIANCHI"), QStringLiteral("Udine")});
}

qint64 addPerson(Sql& sql, const QString& code, const QString& surname, const QString& name,
                 const QVariant& born) {
    sql.exec(QStringLiteral("INSERT INTO TBL_ANAGRAFICA (CODICE_NUCLEO, COGNOME, NOME, "
                            "DATA_NASCITA) VALUES (?, ?, ?, ?)"),
             {code, surname, name, born});
    return sql.one(QStringLiteral("SELECT max(ID_ANAGRAFICA) FROM TBL_ANAGRAFICA")).toLongLong();
}

// What the check finds, "SURNAME NAME dd/mm/yyyy: likeness", likely first.
QStringList found(Engine& engine, const QString& surname, const QString& name, const QDate& birth,
                  qint64 self = 0) {
    QStringList lines;
    for (const DuplicateMatch& m : duplicates::find(engine, surname, name, birth, self)) {
        lines << QStringLiteral("%1 %2 %3: %4")
                     .arg(m.other.surname, m.other.name,
                          m.other.birth.isValid()
                              ? m.other.birth.toString(QStringLiteral("dd/MM/yyyy"))
                              : QStringLiteral("-"),
                          likenessText(m.resemblance.likeness));
    }
    return lines;
}

}  // namespace

class TstDuplicates : public QObject {
    Q_OBJECT

private slots:
    void nameKeyIgnoresWhatTypingChanges() {
        const NameKey key = NameKey::of(QStringLiteral("D'Angelo"), QStringLiteral("Nicolò"));
        QCOMPARE(key.stored(), QStringLiteral("DANGELO NICOLO"));
        QCOMPARE(NameKey::of(QStringLiteral(" DANGELO "), QStringLiteral("NICOLO'")), key);
        QCOMPARE(NameKey::of(QStringLiteral("D’ ANGELO"), QStringLiteral("nicolo")), key);
        QCOMPARE(NameKey::of(QStringLiteral("De Luca-Rossi"), QStringLiteral("Ana María")).stored(),
                 QStringLiteral("DELUCAROSSI ANAMARIA"));
        QCOMPARE(NameKey::of(QStringLiteral("Weiß"), QStringLiteral("Łukasz")).stored(),
                 QStringLiteral("WEISS LUKASZ"));
        // Cyrillic, by the Ukrainian passports' table: the same key as the
        // name written in Latin letters from the passport.
        QCOMPARE(NameKey::of(QStringLiteral("Шевченко"), QStringLiteral("Олександр")).stored(),
                 QStringLiteral("SHEVCHENKO OLEKSANDR"));
        QCOMPARE(NameKey::of(QStringLiteral("ЯРЕМЧУК"), QStringLiteral("Юлія")).stored(),
                 QStringLiteral("YAREMCHUK YULIIA"));
        QCOMPARE(nameKeyPart(QStringLiteral("Згурський")), QStringLiteral("ZGHURSKYI"));
        QCOMPARE(nameKeyPart(QStringLiteral("Мар'яна")), QStringLiteral("MARIANA"));
        QCOMPARE(nameKeyPart(QStringLiteral("Євген")), QStringLiteral("YEVHEN"));
        QCOMPARE(nameKeyPart(QStringLiteral("Щербина")), QStringLiteral("SHCHERBYNA"));
        // Russian's own letters (Ё, Э, Ы) as Russian passports write them;
        // И is the Ukrainian Y.
        QCOMPARE(nameKeyPart(QStringLiteral("Лёвин Эдуард Крылов")),
                 QStringLiteral("LEVYNEDUARDKRYLOV"));
        QCOMPARE(NameKey::fromStored(key.stored()), key);
        QCOMPARE(NameKey::fromStored(QStringLiteral(" ANNA")).name, QStringLiteral("ANNA"));
    }

    // The rule on the pairs of the table in the note: each pair,
    // what the rule says and (in the comment) why.
    void ruleOnPairs_data() {
        QTest::addColumn<QString>("surnameA");
        QTest::addColumn<QString>("nameA");
        QTest::addColumn<QString>("birthA");
        QTest::addColumn<QString>("surnameB");
        QTest::addColumn<QString>("nameB");
        QTest::addColumn<QString>("birthB");
        QTest::addColumn<QString>("likeness");
        const auto row = [](const char* tag, const char* sa, const char* na, const char* ba,
                            const char* sb, const char* nb, const char* bb, const char* l) {
            QTest::newRow(tag) << QString::fromUtf8(sa) << QString::fromUtf8(na)
                               << QString::fromLatin1(ba) << QString::fromUtf8(sb)
                               << QString::fromUtf8(nb) << QString::fromLatin1(bb)
                               << QString::fromLatin1(l);
        };
        // Typed twice: the same name and date.
        row("same person", "ROSSI", "MARIO", "12/05/1980", "ROSSI", "MARIO", "12/05/1980",
            "probabile");
        // Day and month swapped, as on a form in English.
        row("day and month swapped", "ROSSI", "MARIO", "12/05/1980", "ROSSI", "MARIO", "05/12/1980",
            "probabile");
        // One letter left out of a surname of five letters.
        row("surname misspelt", "ROSSI", "MARIO", "12/05/1980", "ROSI", "MARIO", "12/05/1980",
            "probabile");
        // The same name, the birth year given approximately.
        row("date within three years", "ROSSI", "MARIO", "12/05/1980", "ROSSI", "MARIO",
            "03/02/1982", "possibile");
        // One of the two has no birth date: nothing contradicts it.
        row("birth date missing", "ROSSI", "MARIO", "12/05/1980", "ROSSI", "MARIO", "",
            "possibile");
        row("both dates missing", "ROSSI", "MARIO", "", "ROSSI", "MARIO", "", "possibile");
        // Surname and name written the other way round.
        row("names swapped", "ROSSI", "MARIO", "12/05/1980", "MARIO", "ROSSI", "12/05/1980",
            "probabile");
        // One key of the year mistyped: 4 years apart, one digit.
        row("one digit of the year", "ROSSI", "MARIO", "12/05/1980", "ROSSI", "MARIO", "12/05/1984",
            "probabile");
        // Two brothers with the same name a year apart: possible only; the
        // clerk declares them different once.
        row("brothers a year apart", "ROSSI", "MARIO", "12/05/1980", "ROSSI", "MARIO", "03/07/1981",
            "possibile");
        // Twins whose names differ by one letter: likely by the rule (one
        // edit in five letters, the same day); told apart once by the clerk.
        row("twins MARIO and MARIA", "ROSSI", "MARIO", "12/05/1980", "ROSSI", "MARIA", "12/05/1980",
            "probabile");
        // The same person in Cyrillic and in the passport's Latin letters.
        row("cyrillic and latin", "ШЕВЧЕНКО", "ОЛЕКСАНДР", "01/02/1990", "SHEVCHENKO", "OLEKSANDR",
            "01/02/1990", "probabile");
        // The Russian spelling of the name: one edit in nine letters.
        row("russian spelling", "SHEVCHENKO", "OLEKSANDR", "01/02/1990", "SHEVCHENKO", "ALEKSANDR",
            "01/02/1990", "probabile");
        // Accents and apostrophes written differently.
        row("accents and apostrophes", "D'ANGELO", "NICOLÒ", "06/05/1990", "DANGELO", "NICOLO'",
            "06/05/1990", "probabile");
        // Father and son with the same name: 30 years apart.
        row("father and son", "ROSSI", "MARIO", "12/05/1980", "ROSSI", "MARIO", "03/09/1954", "");
        // Another surname altogether, the same day.
        row("other surname", "ROSSI", "MARIO", "12/05/1980", "BIANCHI", "MARIO", "12/05/1980", "");
        // Short names must be equal: LI and LU are two people.
        row("short names", "LI", "WEI", "01/01/2000", "LU", "WEI", "01/01/2000", "");
        // Two digits of the day changed, not a swap of day and month: the
        // same name within three years, so possible only.
        row("day digits reversed", "ROSSI", "MARIO", "12/05/1980", "ROSSI", "MARIO", "21/05/1980",
            "possibile");
        // Two letters changed in a long surname, each for a letter the
        // surname did not hold: the most two edits can change in the letters
        // a part holds, still likely.
        row("two new letters in a long surname", "MARKOVYCH", "OLENA", "01/02/1990", "MIRKOVYCZ",
            "OLENA", "01/02/1990", "probabile");
        // The same, written name first.
        row("two new letters, names swapped", "MARKOVYCH", "OLENA", "01/02/1990", "OLENA",
            "MIRKOVYCZ", "01/02/1990", "probabile");
        // Day and month swapped where they are equal is the same date.
        row("day equal to month, one digit of the year", "ROSSI", "MARIO", "05/05/1980", "ROSSI",
            "MARIO", "05/05/1981", "probabile");
        // Two slips at once: a close name and a date two digits away.
        row("close name and far date", "ROSSI", "MARIO", "12/05/1980", "ROSI", "MARIO",
            "21/05/1980", "");
    }

    void ruleOnPairs() {
        QFETCH(QString, surnameA);
        QFETCH(QString, nameA);
        QFETCH(QString, birthA);
        QFETCH(QString, surnameB);
        QFETCH(QString, nameB);
        QFETCH(QString, birthB);
        QFETCH(QString, likeness);
        const auto date = [](const QString& s) {
            return QDate::fromString(s, QStringLiteral("dd/MM/yyyy"));
        };
        const PersonFacts a(NameKey::of(surnameA, nameA), date(birthA));
        const PersonFacts b(NameKey::of(surnameB, nameB), date(birthB));
        const Resemblance ab = compare(a, b), ba = compare(b, a);
        QCOMPARE(likenessText(ab.likeness), likeness);
        // The rule is the same both ways.
        QCOMPARE(ba.likeness, ab.likeness);
        QCOMPARE(ab.reasons.isEmpty(), likeness.isEmpty());
    }

    // Every date the index is asked for is one digit, or day and month,
    // away; and every such date is asked for.
    void likelyBirthDatesAreThoseTheRuleAccepts() {
        const QDate birth = day("12/05/1980");
        const QVector<QDate> dates = likelyBirthDates(birth);
        QVERIFY(dates.contains(birth));
        QVERIFY(dates.contains(day("05/12/1980")));
        QVERIFY(dates.contains(day("12/05/1984")));
        QVERIFY(dates.contains(day("12/05/2980")));
        QVERIFY(!dates.contains(day("21/05/1980")));
        const PersonFacts a(NameKey::of(QStringLiteral("A"), QStringLiteral("B")), birth);
        for (QDate d(1970, 1, 1); d < QDate(1991, 1, 1); d = d.addDays(1)) {
            const PersonFacts b(a.key, d);
            QCOMPARE(compare(a, b).likeness == Likeness::Likely, dates.contains(d));
        }
        QVERIFY(likelyBirthDates(QDate()).isEmpty());
    }

    // "Salva" of ROSSI MARIO 12/05/1980 on a real database: the likely and
    // the possible ones, by index, with their family units.
    void findsByIndexWithFamilyUnits() {
        QTemporaryDir dir;
        const QString path = newDatabase(dir);
        Sql sql(path);
        addFamily(sql, QStringLiteral("QX1"), QStringLiteral("ROSSI"));
        addFamily(sql, QStringLiteral("QX2"), QStringLiteral("VERDI"));
        addPerson(sql, QStringLiteral("QX1"), QStringLiteral("ROSSI"), QStringLiteral("MARIO"),
                  stored(day("05/12/1980")));
        addPerson(sql, QStringLiteral("QX2"), QStringLiteral("ROSI"), QStringLiteral("MARIO"),
                  stored(day("12/05/1980")));
        addPerson(sql, QStringLiteral("QX2"), QStringLiteral("ROSSI"), QStringLiteral("MARIO"),
                  stored(day("03/02/1982")));
        addPerson(sql, QStringLiteral("QX2"), QStringLiteral("ROSSI"), QStringLiteral("MARIO"),
                  stored(day("03/09/1954")));
        addPerson(sql, QStringLiteral("QX2"), QStringLiteral("BIANCHI"), QStringLiteral("ANNA"),
                  stored(day("12/05/1980")));
        const qint64 self = addPerson(sql, QStringLiteral("QX1"), QStringLiteral("ROSSI"),
                                      QStringLiteral("MARIO"), stored(day("12/05/1980")));
        auto engine = openEngine(path);
        // Rows stored by another tool have no key yet: the check fills them.
        QCOMPARE(sql.count(QStringLiteral("TBL_ANAGRAFICA"),
                           QStringLiteral("CHIAVE_NOMINATIVO IS NULL")),
                 6);
        const QStringList expected{QStringLiteral("ROSI MARIO 12/05/1980: probabile"),
                                   QStringLiteral("ROSSI MARIO 05/12/1980: probabile"),
                                   QStringLiteral("ROSSI MARIO 03/02/1982: possibile")};
        QCOMPARE(found(*engine, QStringLiteral("Rossi"), QStringLiteral("Mario"), day("12/05/1980"),
                       self),
                 expected);
        QCOMPARE(sql.count(QStringLiteral("TBL_ANAGRAFICA"),
                           QStringLiteral("CHIAVE_NOMINATIVO IS NULL")),
                 0);
        QCOMPARE(sql.one(QStringLiteral("SELECT CHIAVE_NOMINATIVO FROM TBL_ANAGRAFICA WHERE "
                                        "ID_ANAGRAFICA = ?"),
                         {self})
                     .toString(),
                 QStringLiteral("ROSSI MARIO"));
        // The family unit of each, for the warning.
        const std::vector<DuplicateMatch> matches = duplicates::find(
            *engine, QStringLiteral("ROSSI"), QStringLiteral("MARIO"), day("12/05/1980"), self);
        QCOMPARE(matches.front().other.familyCode, QStringLiteral("QX2"));
        QCOMPARE(matches.front().other.description, QStringLiteral("VERDI"));
        QCOMPARE(matches.front().other.host, QStringLiteral("LIA BIANCHI"));
        QVERIFY(matches.front().other.familyId > 0);
        // A new member (no counter yet) is found by its own twin as well.
        QCOMPARE(found(*engine, QStringLiteral("ROSSI"), QStringLiteral("MARIO"), day("12/05/1980"))
                     .first(),
                 QStringLiteral("ROSI MARIO 12/05/1980: probabile"));
        QCOMPARE(found(*engine, QStringLiteral("ROSSI"), QStringLiteral("MARIO"), day("12/05/1980"))
                     .size(),
                 qsizetype(4));

        // Declared different: never shown again, declared once.
        const qint64 rosi =
            sql.one(QStringLiteral(
                        "SELECT ID_ANAGRAFICA FROM TBL_ANAGRAFICA WHERE COGNOME = 'ROSI'"))
                .toLongLong();
        duplicates::declareDifferent(*engine, self, rosi);
        duplicates::declareDifferent(*engine, rosi, self);
        QCOMPARE(sql.count(QStringLiteral("TBL_NON_DOPPIONI")), 1);
        QCOMPARE(found(*engine, QStringLiteral("ROSSI"), QStringLiteral("MARIO"), day("12/05/1980"),
                       self),
                 expected.mid(1));

        // "Doppioni": the likely pairs of the whole registry, the declared
        // one left out.
        QStringList pairs;
        for (const DuplicatePair& p : duplicates::likelyPairs(*engine)) {
            pairs << QStringLiteral("%1 %2 / %3 %4")
                         .arg(p.first.surname, p.first.birth.toString(QStringLiteral("dd/MM")),
                              p.second.surname, p.second.birth.toString(QStringLiteral("dd/MM")));
        }
        QCOMPARE(pairs, (QStringList{QStringLiteral("ROSI 12/05 / ROSSI 05/12"),
                                     QStringLiteral("ROSSI 05/12 / ROSSI 12/05")}));
    }

    // A common name: everyone the rule keeps is listed once, with their own
    // family unit, however many they are (they are read many at a time),
    // those written in Cyrillic letters too.
    void aCommonNameListsEveryoneOnce() {
        QTemporaryDir dir;
        const QString path = newDatabase(dir);
        Sql sql(path);
        const int people = 130;
        QSet<qint64> expected;
        for (int i = 0; i < people; ++i) {
            const QString code = QStringLiteral("QX%1").arg(100 + i % 17);
            if (i < 17)
                addFamily(sql, code, QStringLiteral("FAMIGLIA %1").arg(i));
            // Born within three years of 01/01/1990: possible at least.
            expected.insert(addPerson(
                sql, code, i % 10 == 0 ? QStringLiteral("КОВАЛЕНКО") : QStringLiteral("KOVALENKO"),
                i % 10 == 0 ? QStringLiteral("ОЛЕНА") : QStringLiteral("OLENA"),
                stored(day("01/01/1990").addDays(i * 7))));
        }
        addPerson(sql, QStringLiteral("QX100"), QStringLiteral("KOVALENKO"),
                  QStringLiteral("OLENA"), stored(day("15/06/1950")));
        auto engine = openEngine(path);
        const std::vector<DuplicateMatch> matches = duplicates::find(
            *engine, QStringLiteral("Kovalenko"), QStringLiteral("Olena"), day("01/01/1990"));
        QSet<qint64> listed;
        for (const DuplicateMatch& m : matches) {
            QVERIFY2(!listed.contains(m.other.memberId), "a member listed twice");
            listed.insert(m.other.memberId);
            QVERIFY2(expected.contains(m.other.memberId),
                     qPrintable(m.other.surname + u' ' + m.other.name + u' ' +
                                m.other.birth.toString(QStringLiteral("dd/MM/yyyy"))));
            const QString code = sql.one(QStringLiteral("SELECT CODICE_NUCLEO FROM TBL_ANAGRAFICA "
                                                        "WHERE ID_ANAGRAFICA = ?"),
                                         {m.other.memberId})
                                     .toString();
            QCOMPARE(m.other.familyCode, code);
            QCOMPARE(m.other.description,
                     QStringLiteral("FAMIGLIA %1").arg(code.mid(2).toInt() - 100));
        }
        QCOMPARE(listed, expected);
        QCOMPARE(matches.front().resemblance.likeness, Likeness::Likely);
    }

    // A thousand keys and more filled at once (rows another tool stored):
    // the statistics gathered while they were empty are gathered again, or
    // every look-up would read the whole table. A file nobody gathered any
    // statistics on is left without.
    void manyKeysFilledRefreshTheStatistics() {
        QTemporaryDir dir;
        const QString path = newDatabase(dir);
        Sql sql(path);
        addFamily(sql, QStringLiteral("QX1"), QStringLiteral("ROSSI"));
        sql.exec(onServer()
                     ? QStringLiteral("INSERT INTO TBL_ANAGRAFICA (CODICE_NUCLEO, COGNOME, NOME) "
                                      "SELECT 'QX1', 'COGNOME' || i, 'NOME' FROM "
                                      "generate_series(1, 1200) AS i")
                     : QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 "
                                      "FROM n WHERE i < 1200) INSERT INTO TBL_ANAGRAFICA "
                                      "(CODICE_NUCLEO, COGNOME, NOME) SELECT 'QX1', 'COGNOME' || "
                                      "i, 'NOME' FROM n"));
        const auto keysAllEmpty = [&] {
            if (onServer()) {
                return sql.one(QStringLiteral("SELECT null_frac FROM pg_stats WHERE tablename = "
                                              "'TBL_ANAGRAFICA' AND attname = "
                                              "'CHIAVE_NOMINATIVO'"))
                           .toDouble() > 0.99;
            }
            // Rows per distinct key of the index on (key, birth date).
            return sql
                .one(QStringLiteral("SELECT stat FROM sqlite_stat1 WHERE idx = "
                                    "'IDX_ANAGRAFICA_CHIAVE_NOMINATIVO'"))
                .toString()
                .startsWith(QStringLiteral("1200 1200"));
        };
        if (!onServer()) {
            // Never gathered: none made.
            auto engine = openEngine(path);
            duplicates::find(*engine, QStringLiteral("ROSSI"), QStringLiteral("MARIO"), QDate());
            QCOMPARE(
                sql.count(QStringLiteral("sqlite_master"), QStringLiteral("name = 'sqlite_stat1'")),
                0);
            sql.exec(QStringLiteral("UPDATE TBL_ANAGRAFICA SET CHIAVE_NOMINATIVO = NULL"));
        }
        sql.exec(QStringLiteral("ANALYZE"));
        QVERIFY(keysAllEmpty());
        auto engine = openEngine(path);
        duplicates::find(*engine, QStringLiteral("ROSSI"), QStringLiteral("MARIO"), QDate());
        QCOMPARE(sql.count(QStringLiteral("TBL_ANAGRAFICA"),
                           QStringLiteral("CHIAVE_NOMINATIVO IS NULL")),
                 0);
        QVERIFY(!keysAllEmpty());
    }

    // A name changed by another tool (sqlite3, psql) empties its key through
    // the trigger; the program makes it again before it looks anyone up.
    // Changing other columns, or the key along with the name, leaves it.
    void keyStaysRightWhenAnotherToolChangesAName() {
        QTemporaryDir dir;
        const QString path = newDatabase(dir);
        Sql sql(path);
        const qint64 id = addPerson(sql, QStringLiteral("QX1"), QStringLiteral("ROSSI"),
                                    QStringLiteral("MARIO"), stored(day("12/05/1980")));
        auto engine = openEngine(path);
        QCOMPARE(duplicates::fillMissingKeys(*engine), 1);
        const auto key = [&] {
            return sql.one(QStringLiteral("SELECT CHIAVE_NOMINATIVO FROM TBL_ANAGRAFICA WHERE "
                                          "ID_ANAGRAFICA = ?"),
                           {id});
        };
        QCOMPARE(key().toString(), QStringLiteral("ROSSI MARIO"));
        sql.exec(QStringLiteral("UPDATE TBL_ANAGRAFICA SET NOTE = 'x', SESSO = 'M' WHERE "
                                "ID_ANAGRAFICA = ?"),
                 {id});
        QCOMPARE(key().toString(), QStringLiteral("ROSSI MARIO"));
        sql.exec(QStringLiteral("UPDATE TBL_ANAGRAFICA SET COGNOME = 'VERDI' WHERE "
                                "ID_ANAGRAFICA = ?"),
                 {id});
        QVERIFY(key().isNull());
        QCOMPARE(found(*engine, QStringLiteral("VERDI"), QStringLiteral("MARIO"), QDate()),
                 QStringList{QStringLiteral("VERDI MARIO 12/05/1980: possibile")});
        QCOMPARE(key().toString(), QStringLiteral("VERDI MARIO"));
        // A tool that writes the key with the name keeps it.
        sql.exec(QStringLiteral("UPDATE TBL_ANAGRAFICA SET NOME = 'LUCA', CHIAVE_NOMINATIVO = "
                                "'VERDI LUCA' WHERE ID_ANAGRAFICA = ?"),
                 {id});
        QCOMPARE(key().toString(), QStringLiteral("VERDI LUCA"));
        duplicates::storeKey(*engine, id);
        QCOMPARE(key().toString(), QStringLiteral("VERDI LUCA"));
    }

    // A database of an earlier version, with members, gets every member's
    // key when it is brought up to date.
    void anUpgradedDatabaseHasEveryKey() {
        QString location;
        QTemporaryDir dir;
        if (onServer()) {
            location = TestServer::instance().emptyDatabase();
            schema::createServerDatabase(location, 0);
        } else {
            location = dir.filePath(QStringLiteral("old.mdb"));
            schema::createDatabase(location, QString(), 0);
        }
        {
            Sql sql(location);
            for (int i = 0; i < 250; ++i) {
                sql.exec(QStringLiteral("INSERT INTO TBL_ANAGRAFICA (COGNOME, NOME) VALUES (?, ?)"),
                         {QStringLiteral("Kovalenko%1").arg(i), QStringLiteral("Олена")});
            }
        }
        auto engine = openEngine(location);
        QCOMPARE(schema::upgradeDatabase(*engine), 0);
        Sql sql(location);
        QCOMPARE(sql.count(QStringLiteral("TBL_ANAGRAFICA"),
                           QStringLiteral("CHIAVE_NOMINATIVO IS NULL")),
                 0);
        QCOMPARE(sql.one(QStringLiteral("SELECT CHIAVE_NOMINATIVO FROM TBL_ANAGRAFICA WHERE "
                                        "COGNOME = 'Kovalenko7'"))
                     .toString(),
                 QStringLiteral("KOVALENKO7 OLENA"));
    }
};

QTEST_GUILESS_MAIN(TstDuplicates)
#include "tst_duplicates.moc"
