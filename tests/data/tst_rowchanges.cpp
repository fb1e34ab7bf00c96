// Following other desks by the row: what the engine tells of other
// connections' commits (the file's change log, the server's notices), how a
// table shows just those rows (DataSet::applyRowChanges) and how the data
// module's follower applies them; and the staging table, which reads its
// rows only when something asks for them.

#include <QtTest>

#include "data/cursor/ChangeFollower.h"
#include "data/schema/RowChangeTriggers.h"
#include "data/sql/EngineFactory.h"
#include "support/DataTestSupport.h"

using namespace marvesa;
using namespace marvesa::test;
using namespace Qt::StringLiterals;

namespace {

// Long enough for several polls of the file.
constexpr int kSeveralPolls = 900;

QString kindOf(RowChange::Kind k) {
    return QString(QChar::fromLatin1(char(k)));
}

// What the engine told, one change a line: "TBL_NUCLEO I 5", "TBL_NUCLEO *"
// for a table to read whole, "*" for everything.
struct Heard {
    QStringList lines;
    void operator()(const CommittedChanges& c) {
        if (c.everything)
            lines << u"*"_s;
        for (const QString& t : c.wholeTables)
            lines << t + u" *"_s;
        for (const RowChange& r : c.rows)
            lines << u"%1 %2 %3"_s.arg(r.table, kindOf(r.kind)).arg(r.id);
    }
};

QString id(qint64 n) {
    return QString::number(n);
}

// Inserts `count` family units in one statement.
void addFamilies(Sql& sql, int count, const QString& prefix) {
    sql.exec(
        u"WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
        "INSERT INTO TBL_NUCLEO (CODICE_NUCLEO) SELECT '%2' || i FROM n"_s.arg(count)
            .arg(prefix));
}

// Changes a family unit's description without telling the other desks, as
// if the announcement had been lost: only a whole reading shows it.
void changeUnannounced(Sql& sql, qint64 family, const QString& description) {
    if (sql.onServer()) {
        sql.exec(u"SET session_replication_role = replica"_s);
        sql.exec(u"UPDATE TBL_NUCLEO SET DENOMINAZIONE = ? WHERE ID_NUCLEO = ?"_s,
                 {description, family});
        sql.exec(u"SET session_replication_role = DEFAULT"_s);
        return;
    }
    // The log's entry is kept, naming no row.
    sql.exec(u"BEGIN"_s);
    sql.exec(u"UPDATE TBL_NUCLEO SET DENOMINAZIONE = ? WHERE ID_NUCLEO = ?"_s,
             {description, family});
    sql.exec(
        u"UPDATE TBL_SYS_MODIFICHE SET ID_RIGA = -1 WHERE ID_MODIFICA = "
        "(SELECT max(ID_MODIFICA) FROM TBL_SYS_MODIFICHE)"_s);
    sql.exec(u"COMMIT"_s);
}

}  // namespace

class TestRowChanges : public QObject {
    Q_OBJECT

private slots:
    // Another connection's rows, named with what happened to each, in
    // commit order; the engine's own never; nothing once it stops.
    void theEngineNamesTheRows() {
        QTemporaryDir dir;
        const QString path = newDatabase(dir);
        const std::unique_ptr<QtSqlEngine> engine = openEngine(path);
        Heard heard;
        engine->watchRows([&](const CommittedChanges& c) { heard(c); });
        Sql other(path);
        const qint64 a = other.addNucleo(u"QX1"_s);
        other.exec(u"UPDATE TBL_NUCLEO SET DENOMINAZIONE = 'X' WHERE ID_NUCLEO = ?"_s, {a});
        const qint64 m = other.addMember(u"QX1"_s, u"ROSSI"_s);
        other.exec(u"DELETE FROM TBL_ANAGRAFICA"_s);
        other.exec(u"DELETE FROM TBL_NUCLEO WHERE ID_NUCLEO = ?"_s, {a});
        const QStringList expected{u"TBL_NUCLEO I "_s + id(a), u"TBL_NUCLEO U "_s + id(a),
                                   u"TBL_ANAGRAFICA I "_s + id(m), u"TBL_ANAGRAFICA D "_s + id(m),
                                   u"TBL_NUCLEO D "_s + id(a)};
        QTRY_COMPARE_WITH_TIMEOUT(heard.lines, expected, 3000);

        // Its own rows are passed over, also when told together with others'.
        heard.lines.clear();
        engine->insert(u"TBL_NUCLEO"_s, {u"CODICE_NUCLEO"_s}, {u"QX2"_s});
        const qint64 b = other.addNucleo(u"QX3"_s);
        QTRY_COMPARE_WITH_TIMEOUT(heard.lines, QStringList{u"TBL_NUCLEO I "_s + id(b)}, 3000);
        QTest::qWait(kSeveralPolls);
        QCOMPARE(heard.lines.size(), 1);

        engine->watchRows(nullptr);
        other.addNucleo(u"QX4"_s);
        QTest::qWait(kSeveralPolls);
        QCOMPARE(heard.lines.size(), 1);
    }

    // A statement of a few rows names them all; one of more rows than a
    // notice may carry makes a server announce the table, to be read whole;
    // a desk that missed entries of the file's log (pruned before it read
    // them) reads everything. The log stays small.
    void manyRowsAtOnce() {
        QTemporaryDir dir;
        const QString path = newDatabase(dir);
        const std::unique_ptr<QtSqlEngine> engine = openEngine(path);
        Heard heard;
        engine->watchRows([&](const CommittedChanges& c) { heard(c); });
        Sql other(path);
        addFamilies(other, 3, u"QA"_s);
        QTRY_COMPARE_WITH_TIMEOUT(heard.lines.size(), 3, 3000);
        QVERIFY(heard.lines.first().startsWith(u"TBL_NUCLEO I "_s));

        heard.lines.clear();
        addFamilies(other, schema::kMostRowsNamed + 100, u"QB"_s);
        if (other.onServer()) {
            QTRY_COMPARE_WITH_TIMEOUT(heard.lines, QStringList{u"TBL_NUCLEO *"_s}, 3000);
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(heard.lines.size(), schema::kMostRowsNamed + 100, 3000);
        }

        heard.lines.clear();
        addFamilies(other, schema::kChangeLogKept + 500, u"QC"_s);
        QTRY_COMPARE_WITH_TIMEOUT(heard.lines,
                                  QStringList{other.onServer() ? u"TBL_NUCLEO *"_s : u"*"_s}, 3000);
        if (!other.onServer())
            QCOMPARE(other.count(u"TBL_SYS_MODIFICHE"_s), schema::kChangeLogKept);

        // Emptied at once: read whole. (The record history refuses
        // TRUNCATE; the owner of the tables can still lift that guard.)
        heard.lines.clear();
        if (other.onServer()) {
            other.exec(
                u"ALTER TABLE TBL_ANAGRAFICA DISABLE TRIGGER \"TBL_ANAGRAFICA_NO_TRUNCATE\""_s);
            other.exec(u"TRUNCATE TBL_ANAGRAFICA"_s);
        } else {
            other.exec(u"DELETE FROM TBL_ANAGRAFICA WHERE 1 = 0"_s);
        }
        if (other.onServer()) {
            QTRY_COMPARE_WITH_TIMEOUT(heard.lines, QStringList{u"TBL_ANAGRAFICA *"_s}, 3000);
        } else {
            // Nothing deleted, nothing told.
            QTest::qWait(kSeveralPolls);
            QCOMPARE(heard.lines, QStringList());
        }
    }

    // A table shows the rows named, as they now are, and nothing else: the
    // current row stays current while it exists, otherwise the row after it
    // (or the new last one) becomes current; one deDataSetChange, none when
    // nothing differs, nothing at all while the table edits. A member table
    // shows only its family unit's members.
    void rowsInPlace() {
        QTemporaryDir dir;
        const QString path = newDatabase(dir);
        Sql other(path);
        std::vector<qint64> f;
        for (const char* code : {"QX1", "QX2", "QX3", "QX4"})
            f.push_back(other.addNucleo(QString::fromLatin1(code), u"PRIMA"_s));
        const qint64 rossi = other.addMember(u"QX2"_s, u"ROSSI"_s);
        TdmMarvesa dm;
        dm.DataModuleCreate(path);
        dm.otherDesks.stop();
        DataSet& n = dm.TBL_NUCLEO;
        DataSet& m = dm.TBL_ANAGRAFICA;
        Recorder rec;
        listenToModule(rec, dm);
        n.moveTo(1);
        QCOMPARE(m.recordCount(), 1);
        rec.clear();
        const auto changes = [](std::initializer_list<std::pair<qint64, char>> rows,
                                const QString& table = u"TBL_NUCLEO"_s) {
            std::vector<RowChange> v;
            for (const auto& [row, kind] : rows)
                v.push_back({table, row, RowChange::Kind(kind)});
            return v;
        };

        // Nothing differs: nothing announced.
        QVERIFY(!n.applyRowChanges(changes({{f[1], 'U'}})));
        QVERIFY(rec.log.isEmpty());

        // Changed and new rows shown; a row changed without being named is
        // not read again.
        other.exec(u"UPDATE TBL_NUCLEO SET DENOMINAZIONE = 'DOPO'"_s);
        const qint64 f5 = other.addNucleo(u"QX5"_s);
        QVERIFY(n.applyRowChanges(changes({{f[1], 'U'}, {f5, 'I'}, {f[1], 'U'}})));
        QCOMPARE(rec.of(u"dsNUCLEO"_s), QStringList{u"dsNUCLEO:deDataSetChange"_s});
        QCOMPARE(text(n, "DENOMINAZIONE"), u"DOPO"_s);
        QCOMPARE(n.currentRow(), 1);
        QCOMPARE(n.recordCount(), 5);
        QCOMPARE(n.valueAt(4, 1).toText(), u"QX5"_s);
        QCOMPARE(n.valueAt(2, 2).toText(), u"PRIMA"_s);
        QVERIFY(!n.bof() && !n.eof());

        // The current family unit gone: the next one, with its members.
        other.exec(u"DELETE FROM TBL_NUCLEO WHERE ID_NUCLEO IN (?, ?)"_s, {f[1], f[2]});
        rec.clear();
        QVERIFY(n.applyRowChanges(changes({{f[2], 'D'}, {f[1], 'D'}})));
        QCOMPARE(text(n, "CODICE_NUCLEO"), u"QX4"_s);
        QCOMPARE(n.currentRow(), 1);
        QVERIFY(!n.bof() && !n.eof());
        QCOMPARE(rec.of(u"dsNUCLEO"_s), QStringList{u"dsNUCLEO:deDataSetChange"_s});
        QCOMPARE(m.recordCount(), 0);
        // The last one gone while current, with the end flag set: the new
        // last one, flag clear.
        n.last();
        n.next();
        QVERIFY(n.eof());
        other.exec(u"DELETE FROM TBL_NUCLEO WHERE ID_NUCLEO = ?"_s, {f5});
        QVERIFY(n.applyRowChanges(changes({{f5, 'D'}})));
        QCOMPARE(text(n, "CODICE_NUCLEO"), u"QX4"_s);
        QVERIFY(!n.eof());
        // A row after the last one: the end flag clears.
        n.next();
        QVERIFY(n.eof());
        const qint64 f6 = other.addNucleo(u"QX6"_s);
        QVERIFY(n.applyRowChanges(changes({{f6, 'I'}})));
        QCOMPARE(text(n, "CODICE_NUCLEO"), u"QX4"_s);
        QVERIFY(!n.eof());
        // Named twice, inserted then deleted: nothing to show.
        rec.clear();
        QVERIFY(!n.applyRowChanges(changes({{f6 + 100, 'I'}, {f6 + 100, 'D'}})));
        QVERIFY(rec.log.isEmpty());

        // Members: only those of the family unit shown.
        n.first();
        QCOMPARE(text(n, "CODICE_NUCLEO"), u"QX1"_s);
        const qint64 mine = other.addMember(u"QX1"_s, u"BIANCHI"_s);
        const qint64 elsewhere = other.addMember(u"QX4"_s, u"VERDI"_s);
        other.exec(u"UPDATE TBL_ANAGRAFICA SET CODICE_NUCLEO = 'QX1' WHERE ID_ANAGRAFICA = ?"_s,
                   {rossi});
        QVERIFY(m.applyRowChanges(
            changes({{mine, 'I'}, {elsewhere, 'I'}, {rossi, 'U'}}, u"TBL_ANAGRAFICA"_s)));
        QCOMPARE(m.recordCount(), 2);
        QCOMPARE(text(m, "COGNOME"), u"ROSSI"_s);
        QVERIFY(!m.applyRowChanges(changes({{elsewhere, 'U'}}, u"TBL_ANAGRAFICA"_s)));
        // Moved to another family unit: no longer shown.
        other.exec(u"UPDATE TBL_ANAGRAFICA SET CODICE_NUCLEO = 'QX4' WHERE ID_ANAGRAFICA = ?"_s,
                   {rossi});
        QVERIFY(m.applyRowChanges(changes({{rossi, 'U'}}, u"TBL_ANAGRAFICA"_s)));
        QCOMPARE(m.recordCount(), 1);
        QCOMPARE(text(m, "COGNOME"), u"BIANCHI"_s);

        // Being edited: untouched.
        m.edit();
        set(m, "NOME", "EVA");
        other.exec(u"DELETE FROM TBL_ANAGRAFICA WHERE ID_ANAGRAFICA = ?"_s, {mine});
        QVERIFY(!m.applyRowChanges(changes({{mine, 'D'}}, u"TBL_ANAGRAFICA"_s)));
        QCOMPARE(text(m, "NOME"), u"EVA"_s);
        m.cancel();
        QVERIFY(m.applyRowChanges(changes({{mine, 'D'}}, u"TBL_ANAGRAFICA"_s)));
        QCOMPARE(m.recordCount(), 0);
        QVERIFY(m.bof() && m.eof());

        // All gone, then one again: on the first.
        other.exec(u"DELETE FROM TBL_NUCLEO"_s);
        QVERIFY(n.applyRowChanges(changes({{f[0], 'D'}, {f[3], 'D'}, {f6, 'D'}})));
        QCOMPARE(n.currentRow(), -1);
        QVERIFY(n.bof() && n.eof());
        const qint64 f7 = other.addNucleo(u"QX7"_s);
        QVERIFY(n.applyRowChanges(changes({{f7, 'I'}})));
        QCOMPARE(text(n, "CODICE_NUCLEO"), u"QX7"_s);
        QVERIFY(n.bof() && !n.eof());
    }

    // The data module follows another desk by the row: the row it changed
    // shows, one changed without a word does not (nothing else was read);
    // rows wait while an edit holds them back; too many rows, or rows the
    // connection could not name, are read whole.
    void theFollowerByTheRow() {
        QTemporaryDir dir;
        const QString path = newDatabase(dir);
        Sql other(path);
        const qint64 f1 = other.addNucleo(u"QX1"_s, u"PRIMA"_s);
        const qint64 f2 = other.addNucleo(u"QX2"_s, u"PRIMA"_s);
        other.addMember(u"QX1"_s, u"ROSSI"_s);
        TdmMarvesa a, b;
        a.DataModuleCreate(path);
        b.DataModuleCreate(path);
        DataSet& n = b.TBL_NUCLEO;
        DataSet& m = b.TBL_ANAGRAFICA;

        changeUnannounced(other, f2, u"SENZA AVVISO"_s);
        change(a.TBL_NUCLEO, "DENOMINAZIONE", "DA A");
        QTRY_COMPARE_WITH_TIMEOUT(text(n, "DENOMINAZIONE"), u"DA A"_s, 3000);
        QCOMPARE(n.valueAt(1, 2).toText(), u"PRIMA"_s);

        // A member being edited holds both tables back.
        m.edit();
        set(m, "NOME", "EVA");
        add(a.TBL_ANAGRAFICA, "COGNOME", "BIANCHI");
        add(a.TBL_NUCLEO, "CODICE_NUCLEO", "QX3");
        QTest::qWait(kSeveralPolls);
        QVERIFY(b.otherDesks.isWaiting());
        QCOMPARE(m.recordCount(), 1);
        QCOMPARE(n.recordCount(), 2);
        m.cancel();
        QTRY_COMPARE_WITH_TIMEOUT(n.recordCount(), 3, 3000);
        QCOMPARE(m.recordCount(), 2);
        QCOMPARE(n.valueAt(1, 2).toText(), u"PRIMA"_s);

        // More rows than are worth reading one by one: the table whole,
        // the row changed without a word with it.
        b.otherDesks.stop();
        std::vector<RowChange> many;
        for (int i = 0; i <= ChangeFollower::kMostRows; ++i)
            many.push_back({u"TBL_NUCLEO"_s, f1, RowChange::Kind::Updated});
        b.otherDesks.rowsChanged({many, {}, false});
        QCOMPARE(n.valueAt(1, 2).toText(), u"SENZA AVVISO"_s);
        changeUnannounced(other, f2, u"ANCORA"_s);
        b.otherDesks.rowsChanged({{}, {}, true});
        QCOMPARE(n.valueAt(1, 2).toText(), u"ANCORA"_s);
        changeUnannounced(other, f2, u"DI NUOVO"_s);
        b.otherDesks.rowsChanged({{}, {u"tbl_nucleo"_s}, false});
        QCOMPARE(n.valueAt(1, 2).toText(), u"DI NUOVO"_s);
    }

    // The staging table opens without reading its rows: they are read the
    // first time something asks, as the database holds them then.
    void theStagingTableReadsWhenAsked() {
        QTemporaryDir dir;
        const QString path = newDatabase(dir);
        Sql other(path);
        other.exec(u"INSERT INTO TBL_EXPORT (CODICE_NUCLEO, COGNOME) VALUES ('QX2', 'B')"_s);
        TdmMarvesa dm;
        dm.DataModuleCreate(path);
        DataSet& x = dm.TBL_EXPORT;
        QCOMPARE(x.state(), dsBrowse);
        other.exec(u"INSERT INTO TBL_EXPORT (CODICE_NUCLEO, COGNOME) VALUES ('QX1', 'A')"_s);
        QVERIFY(!x.eof());
        QCOMPARE(x.recordCount(), 2);
        QCOMPARE(text(x, "COGNOME"), u"A"_s);
        QVERIFY(x.bof());
        x.next();
        QCOMPARE(text(x, "COGNOME"), u"B"_s);
        // Read once: later rows show after a refresh.
        other.exec(u"INSERT INTO TBL_EXPORT (CODICE_NUCLEO, COGNOME) VALUES ('QX3', 'C')"_s);
        QCOMPARE(x.recordCount(), 2);
        x.refresh();
        QCOMPARE(x.recordCount(), 3);

        // Closed and opened again: not read until asked, here by a refresh.
        x.close();
        x.open();
        other.exec(u"DELETE FROM TBL_EXPORT"_s);
        x.refresh();
        QVERIFY(x.isEmpty() && x.bof() && x.eof());
    }
};

QTEST_GUILESS_MAIN(TestRowChanges)
#include "tst_rowchanges.moc"
