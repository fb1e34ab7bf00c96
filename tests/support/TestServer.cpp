#include "support/TestServer.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

#include "data/schema/SchemaUpgrade.h"
#include "data/schema/ServerDatabase.h"
#include "data/schema/ServerSchema.h"
#include "support/TestEngine.h"

namespace marvesa::test {

namespace {

const QString kAdmin = QStringLiteral("marvesa-test-admin");

}  // namespace

TestServer& TestServer::instance() {
    static TestServer* server = new TestServer;  // dropped by a post routine
    return *server;
}

QString TestServer::newDatabase(const QString& templateName) {
    const QString name = QStringLiteral("t_%1_%2")
                             .arg(QCoreApplication::applicationPid())
                             .arg(QUuid::createUuid().toString(QUuid::Id128).left(12));
    admin(QStringLiteral("CREATE DATABASE \"%1\" TEMPLATE \"%2\" STRATEGY FILE_COPY")
              .arg(name, templateName));
    m_names.insert(connection(name), name);
    m_made << name;
    return connection(name);
}

void TestServer::admin(const QString& sql) {
    QSqlQuery q(QSqlDatabase::database(kAdmin, false));
    if (!q.exec(sql))
        qFatal("test server: %s: %s", qPrintable(sql), qPrintable(q.lastError().text()));
}

QString TestServer::blankTemplate() {
    static const QString name = [] {
        const int version = schema::currentVersion();
        const QString shape = (schema::serverCreateStatements(version) +
                               schema::newDatabaseStatements(SqlDialect::PostgreSQL, version))
                                  .join(QLatin1Char('\n'));
        return QStringLiteral("marvesa_template_") +
               QString::fromLatin1(
                   QCryptographicHash::hash(shape.toUtf8(), QCryptographicHash::Sha1)
                       .toHex()
                       .left(12));
    }();
    return name;
}

TestServer::TestServer() : m_address(serverAddress()) {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), kAdmin);
    if (!db.isValid())
        qFatal("test server: Qt's QPSQL driver is not installed (libqt6sql6-psql)");
    ServerAddress(m_address.connectionString(QStringLiteral("postgres"))).configure(db);
    if (!db.open()) {
        qFatal("test server: cannot connect to %s: %s", qPrintable(m_address.describe()),
               qPrintable(db.lastError().text()));
    }
    // The first test program to get here makes the template; the others
    // wait for it.
    admin(QStringLiteral("SELECT pg_advisory_lock(4712)"));
    QSqlQuery q(db);
    q.exec(QStringLiteral("SELECT 1 FROM pg_database WHERE datname = '%1'").arg(blankTemplate()));
    if (!q.next()) {
        admin(QStringLiteral("CREATE DATABASE marvesa_building"));
        schema::createServerDatabase(connection(QStringLiteral("marvesa_building")));
        admin(QStringLiteral("ALTER DATABASE marvesa_building RENAME TO %1").arg(blankTemplate()));
    }
    admin(QStringLiteral("SELECT pg_advisory_unlock(4712)"));
    qAddPostRoutine(&TestServer::dropAll);
}

void TestServer::dropAll() {
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

}  // namespace marvesa::test
