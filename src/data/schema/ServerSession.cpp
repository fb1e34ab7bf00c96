#include "data/schema/ServerSession.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QUuid>

#include "data/base/Error.h"
#include "data/registry/PostgresRegistryQueries.h"
#include "data/schema/ServerRoles.h"
#include "data/schema/ServerSchema.h"
#include "data/sql/SqlText.h"

namespace marvesa::schema {

ServerSession::ServerSession(const QString& connection)
    : m_address(connection),
      m_name(QStringLiteral("marvesa-initdb-") + QUuid::createUuid().toString(QUuid::Id128)) {
    try {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), m_name);
        if (!db.isValid()) {
            fail(QStringLiteral("il driver PostgreSQL di Qt (QPSQL) non è installato"));
        }
        m_address.configure(db);
        if (!db.open()) {
            throw Error(QStringLiteral("Impossibile collegarsi al %1: %2")
                            .arg(m_address.describe(),
                                 m_address.withoutPassword(engineText(db.lastError()))));
        }
        run(QStringLiteral("SET client_min_messages TO warning"));
        run(QStringLiteral("BEGIN"));
    } catch (...) {
        release();
        throw;
    }
}

ServerSession::~ServerSession() {
    release();
}

void ServerSession::release() {
    {
        QSqlDatabase database = db();
        if (database.isOpen()) {
            if (!m_committed)
                QSqlQuery(database).exec(QStringLiteral("ROLLBACK"));
            database.close();
        }
    }
    QSqlDatabase::removeDatabase(m_name);
}

void ServerSession::fail(const QString& text) const {
    throw Error(QStringLiteral("Impossibile preparare il %1: %2").arg(m_address.describe(), text));
}

namespace {

// Runs `sql` as it is, or prepared with `values` bound.
bool execute(QSqlQuery& q, const QString& sql, const QVariantList& values, bool prepare) {
    if (!prepare)
        return q.exec(sql);
    if (!q.prepare(sql))
        return false;
    for (const QVariant& v : values)
        q.addBindValue(v);
    return q.exec();
}

}  // namespace

void ServerSession::run(const QString& sql, const QVariantList& values) {
    QSqlQuery q(db());
    if (!execute(q, sql, values, !values.isEmpty()))
        fail(q.lastError().databaseText().trimmed());
}

QVariant ServerSession::one(const QString& sql, const QVariantList& values) {
    QSqlQuery q(db());
    if (!execute(q, sql, values, true))
        fail(q.lastError().databaseText().trimmed());
    return q.next() ? q.value(0) : QVariant();
}

qint64 ServerSession::count(const TableDef& table) {
    return one(QStringLiteral("SELECT count(*) FROM ") + quoteIdentifier(table.name)).toLongLong();
}

void ServerSession::requireNoTables() {
    QStringList existing;
    for (const TableDef* t : allTables()) {
        if (!one(QStringLiteral("SELECT to_regclass(?)::text"), {quoteIdentifier(t->name)})
                 .isNull()) {
            existing << t->name;
        }
    }
    if (!existing.isEmpty()) {
        throw Error(QStringLiteral("Il %1 contiene già le tabelle %2: non viene modificato")
                        .arg(m_address.describe(), existing.join(QStringLiteral(", "))));
    }
}

void ServerSession::createTables(int version) {
    for (const QString& sql : serverCreateStatements(version))
        run(sql);
}

void ServerSession::createSearchObjects() {
    QSqlDatabase database = db();
    PostgresRegistryQueries::createSearchObjects(database);
}

void ServerSession::giveRoles() {
    applyServerRoles([this](const QString& sql) { return one(sql); },
                     [this](const QString& sql) { run(sql); }, true, describe());
}

void ServerSession::commit() {
    run(QStringLiteral("COMMIT"));
    m_committed = true;
}

}  // namespace marvesa::schema
