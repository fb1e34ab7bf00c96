// What one connection learns of the others' commits, and how a table shows
// them in place: the engine's watch, DataSet::reloadInPlace and the data
// module's ChangeFollower, on real database files.

#include <QtTest>

#include "data/sql/PostgresEngine.h"
#include "data/sql/SqliteEngine.h"
#include "support/DataTestSupport.h"

using namespace marvesa;
using namespace marvesa::test;
using namespace Qt::StringLiterals;

class TestOtherDesks : public QObject {
    Q_OBJECT

private slots:
    // Another connection's commit is announced (without table names) on the
    // event loop; the engine's own commits are not; an empty function stops.
    void theEngineAnnouncesOthersCommits() {
        QTemporaryDir dir;
        const QString path = newDatabase(dir);
        std::unique_ptr<Engine> made;
        if (onServer())
            made = std::make_unique<PostgresEngine>(path);
        else
            made = std::make_unique<SqliteEngine>(path);
        Engine& engine = *made;
        engine.connect();
        int calls = 0;
        QStringList tables{u"not called"_s};
        engine.watchChanges([&](const QStringList& t) {
            ++calls;
            tables = t;
        });
        Sql other(path);
        other.addNucleo(u"QX1"_s);
        QTRY_COMPARE_WITH_TIMEOUT(calls, 1, 3000);
        // A server names the table; a file cannot tell.
        QCOMPARE(tables, onServer() ? QStringList{u"TBL_NUCLEO"_s} : QStringList());

        engine.insert(u"TBL_NUCLEO"_s, {u"CODICE_NUCLEO"_s}, {u"QX2"_s});
        QTest::qWait(4 * SqliteEngine::kChangePollMs);
        QCOMPARE(calls, 1);

        // Still watching after a reconnection of the same engine.
        engine.disconnect();
        engine.connect();
        other.addNucleo(u"QX3"_s);
        QTRY_COMPARE_WITH_TIMEOUT(calls, 2, 3000);

        engine.watchChanges(nullptr);
        other.addNucleo(u"QX4"_s);
        QTest::qWait(4 * SqliteEngine::kChangePollMs);
        QCOMPARE(calls, 2);
    }

    // In place: one deDataSetChange and nothing else (no pending edit is
    // ended, not even the member table's); nothing at all when nothing
    // changed; nothing while the table edits. The current row stays, or the
    // next one takes its place.
    void reloadingInPlace() {
        QTemporaryDir dir;
        const QString path = newDatabase(dir);
        Sql other(path);
        for (const char* code : {"QX1", "QX2", "QX3"})
            other.addNucleo(QString::fromLatin1(code));
        other.addMember(u"QX2"_s, u"ROSSI"_s);
        TdmMarvesa dm;
        dm.DataModuleCreate(path);
        dm.otherDesks.stop();
        DataSet& n = dm.TBL_NUCLEO;
        DataSet& m = dm.TBL_ANAGRAFICA;
        Recorder rec;
        listenToModule(rec, dm);
        n.moveTo(1);
        rec.clear();

        QVERIFY(!n.reloadInPlace());
        QVERIFY(rec.log.isEmpty());

        other.exec(u"UPDATE TBL_NUCLEO SET DENOMINAZIONE = 'NUOVA' WHERE CODICE_NUCLEO = 'QX2'"_s);
        other.addNucleo(u"QX4"_s);
        QVERIFY(n.reloadInPlace());
        QCOMPARE(rec.of(u"dsNUCLEO"_s), QStringList{u"dsNUCLEO:deDataSetChange"_s});
        QCOMPARE(text(n, "DENOMINAZIONE"), u"NUOVA"_s);
        QCOMPARE(n.recordCount(), 4);
        QCOMPARE(n.currentRow(), 1);

        // The member table edits: reloading it does nothing.
        m.edit();
        set(m, "NOME", "EVA");
        other.addMember(u"QX2"_s, u"BIANCHI"_s);
        rec.clear();
        QVERIFY(!m.reloadInPlace());
        QCOMPARE(text(m, "NOME"), u"EVA"_s);
        QCOMPARE(m.recordCount(), 1);
        m.cancel();
        QVERIFY(m.reloadInPlace());
        QCOMPARE(m.recordCount(), 2);
        QCOMPARE(text(m, "COGNOME"), u"ROSSI"_s);

        // The current family unit gone: the next one, with its members.
        other.exec(u"DELETE FROM TBL_NUCLEO WHERE CODICE_NUCLEO IN ('QX2', 'QX3')"_s);
        rec.clear();
        QVERIFY(n.reloadInPlace());
        QCOMPARE(text(n, "CODICE_NUCLEO"), u"QX4"_s);
        QVERIFY(!n.bof() && !n.eof());
        QCOMPARE(rec.of(u"dsNUCLEO"_s), QStringList{u"dsNUCLEO:deDataSetChange"_s});
        QCOMPARE(m.recordCount(), 0);
        // The last one gone: the new last one. All gone: none, both flags.
        other.exec(u"DELETE FROM TBL_NUCLEO WHERE CODICE_NUCLEO = 'QX4'"_s);
        QVERIFY(n.reloadInPlace());
        QCOMPARE(text(n, "CODICE_NUCLEO"), u"QX1"_s);
        other.exec(u"DELETE FROM TBL_NUCLEO"_s);
        QVERIFY(n.reloadInPlace());
        QCOMPARE(n.currentRow(), -1);
        QVERIFY(n.bof() && n.eof());
        // Rows again: on the first.
        other.addNucleo(u"QX5"_s);
        QVERIFY(n.reloadInPlace());
        QCOMPARE(text(n, "CODICE_NUCLEO"), u"QX5"_s);
        QVERIFY(n.bof() && !n.eof());
    }

    // The follower waits with the family units while a member is edited and
    // with the members while they are edited, applies the rest, and catches
    // up once the edits end; a closed table is left alone.
    void theFollowerWaitsForEdits() {
        QTemporaryDir dir;
        const QString path = newDatabase(dir);
        Sql other(path);
        other.addNucleo(u"QX1"_s);
        other.addMember(u"QX1"_s, u"ROSSI"_s);
        TdmMarvesa dm;
        dm.DataModuleCreate(path);
        DataSet& n = dm.TBL_NUCLEO;
        DataSet& m = dm.TBL_ANAGRAFICA;
        ChangeFollower& follower = dm.otherDesks;
        QVERIFY(follower.isWatching());

        m.edit();
        set(m, "NOME", "EVA");
        other.addNucleo(u"QX2"_s);
        other.addMember(u"QX1"_s, u"BIANCHI"_s);
        follower.changed({});
        QVERIFY(follower.isWaiting());
        QCOMPARE(n.recordCount(), 1);
        QCOMPARE(m.recordCount(), 1);
        QCOMPARE(text(m, "NOME"), u"EVA"_s);

        // Only the family units edit: the members are shown.
        m.cancel();
        n.edit();
        follower.applyWaiting();
        QCOMPARE(m.recordCount(), 2);
        QCOMPARE(n.recordCount(), 1);
        QVERIFY(follower.isWaiting());
        n.cancel();
        // Applied by the follower's own retry, on the event loop.
        QTRY_COMPARE_WITH_TIMEOUT(n.recordCount(), 2, 3000);
        QVERIFY(!follower.isWaiting());

        // Told the names: only those tables read again.
        other.addNucleo(u"QX3"_s);
        other.addMember(u"QX1"_s, u"VERDI"_s);
        follower.changed({u"tbl_anagrafica"_s});
        QCOMPARE(m.recordCount(), 3);
        QCOMPARE(n.recordCount(), 2);

        // Not while it says it is unsafe.
        bool safe = false;
        follower.setSafeToApply([&] { return safe; });
        follower.changed({});
        QCOMPARE(n.recordCount(), 2);
        safe = true;
        QTRY_COMPARE_WITH_TIMEOUT(n.recordCount(), 3, 3000);

        dm.closeDataStore();
        QVERIFY(!follower.isWatching());
        follower.changed({});
        QVERIFY(!follower.isWaiting());
    }

    // Another desk stores a change while this one inserts a new family unit
    // or a new member: it shows once the new row is stored or abandoned,
    // through the engine's own news of it, and is never dropped.
    void aChangeWhileInsertingShowsAfterwards() {
        QTemporaryDir dir;
        const QString path = newDatabase(dir);
        Sql other(path);
        other.addNucleo(u"QX1"_s, u"PRIMA"_s);
        other.addMember(u"QX1"_s, u"ROSSI"_s);
        TdmMarvesa dm;
        dm.DataModuleCreate(path);
        DataSet& n = dm.TBL_NUCLEO;
        DataSet& m = dm.TBL_ANAGRAFICA;

        // A new family unit, abandoned.
        n.insert();
        set(n, "CODICE_NUCLEO", "QX9");
        other.exec(u"UPDATE TBL_NUCLEO SET DENOMINAZIONE = 'DOPO' WHERE CODICE_NUCLEO = 'QX1'"_s);
        QTRY_VERIFY_WITH_TIMEOUT(dm.otherDesks.isWaiting(), 5000);
        QTest::qWait(600);  // the follower tries again meanwhile, and waits
        QCOMPARE(n.state(), dsInsert);
        n.cancel();
        QTRY_COMPARE_WITH_TIMEOUT(text(n, "DENOMINAZIONE"), u"DOPO"_s, 5000);

        // A new family unit, stored: the other desk's change shows as well.
        n.insert();
        set(n, "CODICE_NUCLEO", "QX8");
        other.exec(u"UPDATE TBL_NUCLEO SET DENOMINAZIONE = 'ANCORA' WHERE CODICE_NUCLEO = 'QX1'"_s);
        QTRY_VERIFY_WITH_TIMEOUT(dm.otherDesks.isWaiting(), 5000);
        QTest::qWait(600);
        n.post();
        QTRY_COMPARE_WITH_TIMEOUT(n.recordCount(), 2, 5000);
        n.first();
        while (text(n, "CODICE_NUCLEO") != u"QX1"_s && !n.eof())
            n.next();
        QTRY_COMPARE_WITH_TIMEOUT(text(n, "DENOMINAZIONE"), u"ANCORA"_s, 5000);

        // A new member, stored and abandoned, while another desk adds one.
        for (const bool store : {true, false}) {
            const int before = m.recordCount();
            m.insert();
            set(m, "COGNOME", store ? "NUOVO" : "ABBANDONATO");
            const QString added = store ? u"BIANCHI"_s : u"VERDI"_s;
            other.addMember(u"QX1"_s, added);
            QTRY_VERIFY_WITH_TIMEOUT(dm.otherDesks.isWaiting(), 5000);
            QTest::qWait(600);
            QCOMPARE(m.state(), dsInsert);
            if (store)
                m.post();
            else
                m.cancel();
            QTRY_COMPARE_WITH_TIMEOUT(m.recordCount(), before + (store ? 2 : 1), 5000);
        }
    }

    // A refresh that fails (the connection lost) keeps the change waiting
    // and is tried again; once the connection is back the tables catch up.
    void aFailedRefreshIsTriedAgain() {
        QTemporaryDir dir;
        const QString path = newDatabase(dir);
        Sql other(path);
        other.addNucleo(u"QX1"_s);
        TdmMarvesa dm;
        dm.DataModuleCreate(path);
        ChangeFollower& follower = dm.otherDesks;
        dm.cnQuaz.disconnect();
        other.addNucleo(u"QX2"_s);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u".*"_s));
        follower.changed({});
        QVERIFY(follower.isWaiting());
        QCOMPARE(dm.TBL_NUCLEO.recordCount(), 1);
        dm.cnQuaz.connect();
        QTRY_COMPARE_WITH_TIMEOUT(dm.TBL_NUCLEO.recordCount(), 2, 3000);
        QVERIFY(!follower.isWaiting());
        // The new connection is watched as the first was.
        other.addNucleo(u"QX3"_s);
        QTRY_COMPARE_WITH_TIMEOUT(dm.TBL_NUCLEO.recordCount(), 3, 3000);
    }
};

QTEST_GUILESS_MAIN(TestOtherDesks)
#include "tst_otherdesks.moc"
