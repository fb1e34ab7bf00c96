#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QVariant>

#include "data/schema/TableDefinitions.h"
#include "data/sql/ServerAddress.h"

namespace marvesa::schema {

// A connection of its own to a server database that is being made, in one
// transaction until commit; what is not committed is rolled back when it
// goes. Every failure throws marvesa::Error naming the server.
class ServerSession {
public:
    explicit ServerSession(const QString& connection);
    ~ServerSession();
    ServerSession(const ServerSession&) = delete;
    ServerSession& operator=(const ServerSession&) = delete;

    [[noreturn]] void fail(const QString& text) const;
    QString describe() const { return m_address.describe(); }
    QSqlDatabase db() const { return QSqlDatabase::database(m_name, false); }

    void run(const QString& sql, const QVariantList& values = {});
    // The first column of the first row; invalid when there is no row.
    QVariant one(const QString& sql, const QVariantList& values = {});
    qint64 count(const TableDef& table);

    // Refuses a database that already has any of the tables.
    void requireNoTables();
    // The tables, their indexes and the announcement of changes, of a
    // database of `version` (-1: the version this program works with).
    void createTables(int version = -1);
    // What "Cerca" searches with, made once the tables are filled.
    void createSearchObjects();
    // The three roles, made where missing, and their rights on the tables
    // (schema/ServerRoles.h).
    void giveRoles();
    void commit();

private:
    // Rolls back what is not committed and closes the connection.
    void release();

    ServerAddress m_address;
    QString m_name;
    bool m_committed = false;
};

}  // namespace marvesa::schema
