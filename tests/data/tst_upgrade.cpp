// A database made by an earlier version takes the shape of this one when it
// is opened: once, in one transaction, never half, never by an older program.

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <atomic>
#include <mutex>
#include <thread>

#include "data/base/Error.h"
#include "data/registry/DataModule.h"
#include "data/schema/FileDatabase.h"
#include "data/schema/SchemaUpgrade.h"
#include "data/schema/ServerDatabase.h"
#include "data/sql/EngineFactory.h"
#include "support/TestEngine.h"
#include "support/TestServer.h"

using namespace marvesa;
using namespace marvesa::schema;

namespace {

QString errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const Error& e) {
        return e.message();
    }
    return QString();
}

// The shape of a database as rows of text: every column of every table in
// order with its type and default, every index and every trigger.
QStringList shapeOf(QtSqlEngine& engine) {
    QStringList shape;
    const auto collect = [&](const QString& sql) {
        engine.select(sql, {}, [&](const QVector<QVariant>& row) {
            QStringList cells;
            for (const QVariant& v : row)
                cells << v.toString().simplified();
            shape << cells.join(QLatin1Char('|'));
            return true;
        });
    };
    if (engine.dialect() == SqlDialect::SQLite) {
        collect(QStringLiteral(
            "SELECT m.name, c.cid, c.name, c.type, c.\"notnull\", c.dflt_value, c.pk "
            "FROM sqlite_master m, pragma_table_info(m.name) c WHERE m.type = 'table' "
            "AND m.name NOT LIKE 'sqlite_%' ORDER BY m.name, c.cid"));
        collect(
            QStringLiteral("SELECT type, name, tbl_name, sql FROM sqlite_master WHERE type "
                           "IN ('index', 'trigger') AND name NOT LIKE 'sqlite_%' "
                           "ORDER BY type, name"));
    } else {
        collect(
            QStringLiteral("SELECT table_name, ordinal_position, column_name, data_type, "
                           "character_maximum_length, column_default, is_identity FROM "
                           "information_schema.columns WHERE table_schema = current_schema() "
                           "ORDER BY table_name, ordinal_position"));
        collect(
            QStringLiteral("SELECT tablename, indexname, indexdef FROM pg_indexes WHERE "
                           "schemaname = current_schema() ORDER BY indexname"));
        collect(
            QStringLiteral("SELECT event_object_table, trigger_name, event_manipulation, "
                           "action_timing, action_statement FROM information_schema.triggers "
                           "ORDER BY trigger_name, event_manipulation"));
    }
    return shape;
}

class Databases {
public:
    // A new database of `version` (-1: this program's).
    QString make(int version = -1) {
        if (test::onServer()) {
            const QString connection = test::TestServer::instance().emptyDatabase();
            createServerDatabase(connection, version);
            return connection;
        }
        const QString path = m_dir.filePath(QStringLiteral("db%1.mdb").arg(++m_made));
        createDatabase(path, QString(), version);
        return path;
    }

private:
    QTemporaryDir m_dir;
    int m_made = 0;
};

int columnCount(QtSqlEngine& engine, const QString& table) {
    int count = 0;
    engine.select(engine.dialect() == SqlDialect::SQLite
                      ? QStringLiteral("SELECT count(*) FROM pragma_table_info(?)")
                      : QStringLiteral("SELECT count(*) FROM information_schema.columns WHERE "
                                       "table_schema = current_schema() AND table_name = ?"),
                  {table}, [&](const QVector<QVariant>& row) {
                      count = row.value(0).toInt();
                      return false;
                  });
    return count;
}

}  // namespace

class TestUpgrade : public QObject {
    Q_OBJECT
private slots:
    // Steps of its own: a column filled by the program, then a table. An
    // older database gets both once, with the version; an up-to-date one is
    // left alone; a program that knows fewer versions refuses it.
    void anOlderDatabaseIsUpgradedOnce() {
        Databases dbs;
        const QString location = dbs.make(0);
        int migrated = 0;
        const std::vector<UpgradeStep> steps{
            {1,
             [](SqlDialect) {
                 return QStringList{
                     QStringLiteral("ALTER TABLE \"TBL_NUCLEO\" ADD COLUMN \"PROVA\" VARCHAR(10)")};
             },
             [&](QtSqlEngine& engine) {
                 ++migrated;
                 engine.exec(QStringLiteral("UPDATE \"TBL_NUCLEO\" SET \"PROVA\" = ?"),
                             {QStringLiteral("x")});
             }},
            {2,
             [](SqlDialect) {
                 return QStringList{QStringLiteral("CREATE TABLE \"TBL_PROVA\" (\"A\" INTEGER)")};
             },
             {}},
        };
        {
            auto engine = openEngine(location);
            engine->exec(
                QStringLiteral("INSERT INTO \"TBL_NUCLEO\" (\"CODICE_NUCLEO\") VALUES (?)"),
                {QStringLiteral("QX1")});
            QCOMPARE(storedVersion(*engine), 0);
            QCOMPARE(upgradeDatabase(*engine, steps), 0);
            QCOMPARE(storedVersion(*engine), 2);
            QCOMPARE(migrated, 1);
            QCOMPARE(upgradeDatabase(*engine, steps), 2);  // nothing left to do
            QCOMPARE(migrated, 1);
            int filled = 0;
            engine->select(
                QStringLiteral("SELECT count(*) FROM \"TBL_NUCLEO\" WHERE \"PROVA\" = 'x'"), {},
                [&](const QVector<QVariant>& row) {
                    filled = row.value(0).toInt();
                    return false;
                });
            QCOMPARE(filled, 1);
            QCOMPARE(columnCount(*engine, QStringLiteral("TBL_PROVA")), 1);
        }
        // A program that knows only version 1 leaves the database alone.
        auto older = openEngine(location);
        const std::vector<UpgradeStep> oneStep{steps.front()};
        const QString refusal = errorOf([&] { upgradeDatabase(*older, oneStep); });
        QVERIFY2(refusal.contains(QStringLiteral("versione più recente di Marvesa")),
                 qPrintable(refusal));
        QCOMPARE(storedVersion(*older), 2);
    }

    // A step that fails leaves the database as it was: no column of the
    // steps before it, no version.
    void aFailedStepChangesNothing() {
        Databases dbs;
        const QString location = dbs.make(0);
        const std::vector<UpgradeStep> steps{
            {1,
             [](SqlDialect) {
                 return QStringList{
                     QStringLiteral("ALTER TABLE \"TBL_NUCLEO\" ADD COLUMN \"PROVA\" VARCHAR(10)")};
             },
             {}},
            {2,
             [](SqlDialect) { return QStringList{QStringLiteral("CREATE TABLE nonsense (")}; },
             {}},
        };
        auto engine = openEngine(location);
        const int before = columnCount(*engine, QStringLiteral("TBL_NUCLEO"));
        QVERIFY(errorOf([&] {
                    upgradeDatabase(*engine, steps);
                }).startsWith(QStringLiteral("Impossibile aggiornare il database")));
        QVERIFY(!engine->inTransaction());
        engine->disconnect();
        engine = openEngine(location);
        QCOMPARE(columnCount(*engine, QStringLiteral("TBL_NUCLEO")), before);
        QCOMPARE(storedVersion(*engine), 0);
    }

    // Two desks opening an older database at the same moment: one upgrades,
    // the other waits and finds the work done.
    void twoDesksUpgradeItOnce() {
        Databases dbs;
        const QString location = dbs.make(0);
        std::atomic<int> migrations{0};
        const std::vector<UpgradeStep> steps{
            {1,
             [](SqlDialect) {
                 return QStringList{QStringLiteral("CREATE TABLE \"TBL_PROVA\" (\"A\" INTEGER)")};
             },
             [&](QtSqlEngine& engine) {
                 ++migrations;
                 QThread::msleep(300);  // long enough for the other desk to arrive
                 engine.exec(QStringLiteral("INSERT INTO \"TBL_PROVA\" (\"A\") VALUES (1)"));
             }},
        };
        QStringList errors;
        std::mutex lock;
        auto desk = [&] {
            try {
                auto engine = openEngine(location);
                upgradeDatabase(*engine, steps);
            } catch (const Error& e) {
                std::lock_guard<std::mutex> guard(lock);
                errors << e.message();
            }
        };
        std::thread a(desk), b(desk);
        a.join();
        b.join();
        QVERIFY2(errors.isEmpty(), qPrintable(errors.join(QLatin1Char('\n'))));
        QCOMPARE(migrations.load(), 1);
        auto engine = openEngine(location);
        int rows = 0;
        engine->select(QStringLiteral("SELECT count(*) FROM \"TBL_PROVA\""), {},
                       [&](const QVector<QVariant>& row) {
                           rows = row.value(0).toInt();
                           return false;
                       });
        QCOMPARE(rows, 1);
    }

    // This program's own steps: a database of the first version, opened by
    // the data module, ends with the very shape a new database has.
    void anUpgradedDatabaseIsShapedAsANewOne() {
        Databases dbs;
        const QString made = dbs.make();
        const QString old = dbs.make(0);
        {
            TdmMarvesa dm;
            dm.DataModuleCreate(old);
            QVERIFY(dm.TBL_NUCLEO.active());
        }
        auto fresh = openEngine(made);
        auto upgraded = openEngine(old);
        QCOMPARE(storedVersion(*upgraded), currentVersion());
        const QStringList expected = shapeOf(*fresh);
        QVERIFY(!expected.isEmpty());
        QCOMPARE(shapeOf(*upgraded), expected);

        // The office's IT does the same with the tool.
        const QString another = dbs.make(0);
        QProcess tool;
        tool.start(QStringLiteral(MARVESA_INITDB), {QStringLiteral("--aggiorna"), another});
        QVERIFY(tool.waitForFinished(60000));
        QCOMPARE(tool.exitCode(), 0);
        QVERIFY(QString::fromUtf8(tool.readAllStandardOutput())
                    .contains(QStringLiteral("dalla versione 0 alla %1").arg(currentVersion())));
        auto byTool = openEngine(another);
        QCOMPARE(storedVersion(*byTool), currentVersion());
        QCOMPARE(shapeOf(*byTool), expected);
    }
};

QTEST_GUILESS_MAIN(TestUpgrade)
#include "tst_upgrade.moc"
