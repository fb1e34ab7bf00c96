#pragma once

// Where the tests keep their databases. A test registered for the server
// (CTest name ending in "_pg") runs with MARVESA_TEST_ENGINE=postgresql and
// works on the PostgreSQL server that scripts/test.sh starts and names in
// MARVESA_TEST_PG ("host=<socket folder> port=<port> user=marvesa"); every
// other test works on database files. A server test without a server fails at
// once: it never passes without having run.
//
// On the server every new database is a copy (CREATE DATABASE ... TEMPLATE)
// of a template made once with the program's own schema and reference lists,
// so each test starts from a fresh database as it does with files. The
// databases a test program made are dropped when it ends.

#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>
#include <QtTest>
#include <functional>

#include "data/sql/PostgresEngine.h"
#include "data/schema/ServerDatabase.h"

namespace marvesa::test {

// Whether this test program runs on the server.
inline bool onServer() {
    static const bool server =
        qEnvironmentVariable("MARVESA_TEST_ENGINE") == QLatin1String("postgresql");
    return server;
}

class TestServer {
public:
    static TestServer& instance() {
        static TestServer* server = new TestServer;  // dropped by a post routine
        return *server;
    }

    // The connection string of the database `name` on the test server.
    QString connection(const QString& name) const { return m_address.connectionString(name); }

    // A new database, a copy of `templateName`.
    QString newDatabase(const QString& templateName = QStringLiteral("marvesa_template")) {
        const QString name = QStringLiteral("t_%1_%2")
                                 .arg(QCoreApplication::applicationPid())
                                 .arg(QUuid::createUuid().toString(QUuid::Id128).left(12));
        admin(QStringLiteral("CREATE DATABASE \"%1\" TEMPLATE \"%2\" STRATEGY FILE_COPY")
                  .arg(name, templateName));
        m_names.insert(connection(name), name);
        m_made << name;
        return connection(name);
    }

    // A new database with nothing in it.
    QString emptyDatabase() { return newDatabase(QStringLiteral("template0")); }

    // A template of this test program's own: a new database that `fill`
    // prepares once, copied by newDatabase(name).
    QString makeTemplate(const std::function<void(const QString& connection)>& fill) {
        const QString made = newDatabase();
        fill(made);
        return m_made.last();
    }

    // The name of a database newDatabase() made.
    QString nameOf(const QString& connection) const { return m_names.value(connection); }

    // Runs a statement on the server's maintenance database.
    void admin(const QString& sql) {
        QSqlQuery q(QSqlDatabase::database(kAdmin, false));
        if (!q.exec(sql))
            qFatal("test server: %s: %s", qPrintable(sql), qPrintable(q.lastError().text()));
    }

private:
    static constexpr const char* kAdmin = "marvesa-test-admin";

    static QString serverAddress() {
        const QString address = qEnvironmentVariable("MARVESA_TEST_PG");
        if (address.isEmpty()) {
            qFatal("This test runs on the PostgreSQL server, but MARVESA_TEST_PG names none. "
                   "Run the suite with scripts/test.sh, which starts a server of its own.");
        }
        return address;
    }

    TestServer() : m_address(serverAddress()) {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QLatin1String(kAdmin));
        if (!db.isValid()) qFatal("test server: Qt's QPSQL driver is not installed (libqt6sql6-psql)");
        ServerAddress(m_address.connectionString(QStringLiteral("postgres"))).configure(db);
        if (!db.open()) {
            qFatal("test server: cannot connect to %s: %s", qPrintable(m_address.describe()),
                   qPrintable(db.lastError().text()));
        }
        // The first test program to get here makes the template; the others
        // wait for it.
        admin(QStringLiteral("SELECT pg_advisory_lock(4712)"));
        QSqlQuery q(db);
        q.exec(QStringLiteral("SELECT 1 FROM pg_database WHERE datname = 'marvesa_template'"));
        if (!q.next()) {
            admin(QStringLiteral("CREATE DATABASE marvesa_building"));
            schema::createServerDatabase(connection(QStringLiteral("marvesa_building")));
            admin(QStringLiteral("ALTER DATABASE marvesa_building RENAME TO marvesa_template"));
        }
        admin(QStringLiteral("SELECT pg_advisory_unlock(4712)"));
        qAddPostRoutine(&TestServer::dropAll);
    }

    static void dropAll() {
        TestServer& s = instance();
        // The server may have been restarted since the connection was made.
        QSqlDatabase admin = QSqlDatabase::database(kAdmin, false);
        admin.close();
        admin.open();
        for (auto it = s.m_made.crbegin(); it != s.m_made.crend(); ++it) {
            QSqlQuery(QSqlDatabase::database(kAdmin, false))
                .exec(QStringLiteral("DROP DATABASE IF EXISTS \"%1\" WITH (FORCE)").arg(*it));
        }
        s.m_made.clear();
        QSqlDatabase::database(kAdmin, false).close();
    }

    ServerAddress m_address;
    QStringList m_made;
    QHash<QString, QString> m_names;  // connection -> database
};

}  // namespace marvesa::test
