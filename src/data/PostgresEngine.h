#pragma once

#include <QHash>
#include <QObject>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <memory>

#include "data/Engine.h"

namespace marvesa {

// Where a PostgreSQL database is: a libpq connection string ("service=marvesa",
// "host=registry.example dbname=marvesa") or URI
// ("postgresql://registry.example/marvesa"), taken apart by libpq itself.
class ServerAddress {
public:
    // Throws marvesa::Error when libpq cannot read the text.
    explicit ServerAddress(const QString& connection);

    // Whether a database location names a server rather than a file: a
    // postgresql:// or postgres:// URI, or a keyword=value string.
    static bool isServerConnection(const QString& location);

    // "database "marvesa" sul server "registry.example" (porta 5432)", or the
    // service; never a password.
    QString describe() const;
    // Short form: "registry.example:5432/marvesa" or "servizio marvesa".
    QString shortForm() const;

    QString value(const QString& keyword) const { return m_values.value(keyword); }
    // Every keyword given, in libpq's order, with its value.
    const QList<QPair<QString, QString>>& values() const { return m_ordered; }

    // The same address as a keyword=value string for libpq, with another
    // database name when `database` is given.
    QString connectionString(const QString& database = QString()) const;

    // Opens `db` (a QPSQL connection) on this address.
    void configure(QSqlDatabase& db) const;

private:
    QHash<QString, QString> m_values;
    QList<QPair<QString, QString>> m_ordered;
};

// The database engine over a PostgreSQL server, through Qt's QPSQL driver:
// the database shared by the desks of an office.
//
// The tables are those of the file database: the same names, columns, widths
// and indexes, with identity columns for the counters and `timestamp` for
// the date-times. Rows are identified by their counter. A dropped connection
// (the server restarted) fails the statement that meets it; the next
// statement connects again.
class PostgresEngine : public Engine {
public:
    explicit PostgresEngine(QString connection);
    ~PostgresEngine() override;

    void connect() override;
    void disconnect() override;
    bool isConnected() const override;

    QVector<EngineColumn> columns(const QString& table) override;
    std::vector<StoredRow> read(const ReadRequest& request) override;
    bool readRow(const QString& table, const QStringList& columns, qint64 id,
                 StoredRow* row) override;
    qint64 insert(const QString& table, const QStringList& columns,
                  const QVector<QVariant>& values) override;
    bool update(const QString& table, qint64 id, const QStringList& changed,
                const QVector<QVariant>& values, const QStringList& checked,
                const QVector<QVariant>& expected) override;
    void remove(const QString& table, qint64 id) override;
    void setRelaxedDurability(bool relaxed) override;
    QString location() const override;
    void watchChanges(std::function<void(const QStringList& tables)> changed) override;

    // The channel the database's triggers announce changes on.
    static constexpr const char* kChangeChannel = "marvesa_changes";

    // The name of the QSqlDatabase connection, for tools that run their own
    // statements on it.
    const QString& connectionName() const { return m_connectionName; }

private:
    struct TableInfo {
        QString counter;  // the identity column
        QVector<EngineColumn> columns;
        QSet<QString> timestamps;  // columns read back as text
    };

    void open();
    void close();
    QSqlDatabase database() const;
    QSqlQuery& prepared(const QString& sql);
    void exec(QSqlQuery& query, const char* what, const QString& table = QString());
    void run(const QString& sql, const QString& what);
    const TableInfo& table(const QString& name);
    QString selectList(const TableInfo& info, const QStringList& columns) const;
    [[noreturn]] void fail(const QString& what, const QString& engineText) const;
    bool connectionLost() const;
    void subscribe();

    ServerAddress m_address;
    QString m_connectionName;
    bool m_connected = false;
    // The server dropped the connection: the next statement connects again.
    bool m_lost = false;
    QHash<QString, QSqlQuery> m_statements;
    QHash<QString, TableInfo> m_tables;
    std::function<void(const QStringList&)> m_watch;
    std::unique_ptr<QObject> m_listener;
};

}  // namespace marvesa
