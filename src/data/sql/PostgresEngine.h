#pragma once

#include <QHash>
#include <QObject>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <memory>
#include <optional>

#include "data/sql/Engine.h"
#include "data/sql/ServerAddress.h"

namespace marvesa {

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
    // The parent row is checked in the same statement, locked against
    // deletion until the statement's end.
    std::optional<qint64> insertWithParent(const QString& table, const QStringList& columns,
                                           const QVector<QVariant>& values,
                                           const ParentRow& parent) override;
    bool updateWithParent(const QString& table, qint64 id, const QStringList& changed,
                          const QVector<QVariant>& values, const QStringList& checked,
                          const QVector<QVariant>& expected, const ParentRow& parent) override;
    bool exists(const ParentRow& row) override;
    void remove(const QString& table, qint64 id) override;
    QString location() const override;
    void watchChanges(std::function<void(const QStringList& tables)> changed) override;

    // Write transactions and statements of the program's own.
    void beginWrite(const QString& lockTable) override;
    void commit() override;
    void rollback() override;
    bool inTransaction() const override { return m_inTransaction; }
    qint64 exec(const QString& sql, const QVector<QVariant>& values = {}) override;
    void select(const QString& sql, const QVector<QVariant>& values,
                const RowHandler& onRow) override;

    // How long a statement waits for a row another desk holds locked (it
    // waits kFirstLockWaitMs before telling the busy observer), by default;
    // setBusyTimeout() before connect() changes it.
    static constexpr int kBusyTimeoutMs = 10000;
    static constexpr int kFirstLockWaitMs = 100;
    void setBusyTimeout(int milliseconds) { m_busyTimeoutMs = milliseconds; }

    // How long beginWrite() waits for another desk that writes the table.
    static constexpr int kWriteWaitMs = 60000;

    // The channel the database's triggers announce changes on.
    static constexpr const char* kChangeChannel = "marvesa_changes";

    // The name of the QSqlDatabase connection, for tools that run their own
    // statements on it.
    const QString& connectionName() const { return m_connectionName; }

private:
    // update() and updateWithParent(): the optimistic check on `checked`,
    // and the parent row's check when `parent` is given.
    bool updateRow(const QString& table, qint64 id, const QStringList& changed,
                   const QVector<QVariant>& values, const QStringList& checked,
                   const QVector<QVariant>& expected, const ParentRow* parent);
    struct TableInfo {
        QString counter;  // the identity column
        QHash<QString, QString> serverTypes;  // as the server declares them
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
    bool m_inTransaction = false;
    int m_busyTimeoutMs = kBusyTimeoutMs;
    QHash<QString, QSqlQuery> m_statements;
    QHash<QString, TableInfo> m_tables;
    std::function<void(const QStringList&)> m_watch;
    std::unique_ptr<QObject> m_listener;
};

}  // namespace marvesa
