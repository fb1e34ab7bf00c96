#pragma once

#include <QHash>
#include <QObject>
#include <QSet>
#include <memory>

#include "data/sql/QtSqlEngine.h"
#include "data/sql/ServerAddress.h"

// libpq's connection (PGconn), for what the driver does not do.
struct pg_conn;

namespace marvesa {

// The database engine over a PostgreSQL server, through Qt's QPSQL driver:
// the database shared by the desks of an office.
//
// The tables are those of the file database: the same names, columns, widths
// and indexes, with identity columns for the counters and `timestamp` for
// the date-times. Rows are identified by their counter. A dropped connection
// (the server restarted) fails the statement that meets it; the next
// statement connects again.
//
// A statement waits kFirstLockWaitMs for a row another desk holds locked,
// then tells the busy observer and waits on for the rest of the busy timeout
// (the server's lock_timeout). A parent row checked by a statement is locked
// against deletion until the statement's end.
class PostgresEngine : public QtSqlEngine {
public:
    explicit PostgresEngine(QString connection);
    ~PostgresEngine() override;

    QVector<EngineColumn> columns(const QString& table) override;
    QString location() const override;
    void watchChanges(std::function<void(const QStringList& tables)> changed) override;
    void watchRows(std::function<void(const CommittedChanges& changes)> changed) override;
    SqlDialect dialect() const override { return SqlDialect::PostgreSQL; }
    // One COPY ... FROM STDIN for all the rows (PostgresCopy.cpp): the
    // server reads them as they arrive, with no statement to parse for each
    // batch, while the program prepares the next.
    std::unique_ptr<RowWriter> insertRows(const QString& table,
                                          const QStringList& columns) override;

    static constexpr int kFirstLockWaitMs = 100;

    // The channel the database's triggers announce changes on.
    static constexpr const char* kChangeChannel = "marvesa_changes";
    // How often notices the driver has not handed over are looked for.
    static constexpr int kNoticePollMs = 250;

    // What one notice of the channel says (schema/RowChangeTriggers):
    // "TABLE:OP:ID,ID,..." names rows, "TABLE:*" the table to read whole, a
    // table's name alone (as databases of the first version announce) the
    // same.
    static CommittedChanges readNotice(const QString& payload);

protected:
    QString driverName() const override { return QStringLiteral("QPSQL"); }
    void configure(QSqlDatabase& db) const override;
    [[noreturn]] void failOpening(const QSqlError& error) const override;
    void startSession() override;
    void forgetSession() override;
    void forgetTables() override { m_tables.clear(); }
    void identify(const QString& account, const QString& computer) override;
    std::unique_ptr<QtSqlEngine> makeTwin() const override;

    void checkTable(const QString& table) override { this->table(table); }
    QString counterColumn(const QString& table) override;
    QString selectColumn(const QString& table, const QString& column) override;
    QString orderColumn(const QString& table, const QString& column) override;
    QString stillHolds(const QString& table, const QString& column) override;
    QString parentLock() const override { return QStringLiteral(" FOR KEY SHARE"); }
    QString selectedValue(const QString& table, const QString& column) override;
    QString defaultRowColumn(const QString& table) override;
    bool returnsNewCounter() const override { return true; }

    bool isBusy(const QSqlError& error) const override;
    bool canWaitLonger() const override { return !inTransaction(); }
    void startLongWait(int milliseconds) override;
    void endLongWait() override;
    void busyWaitRanOut() override;
    bool isUniqueViolation(const QSqlError& error, const QString& text,
                           QString* index) const override;
    bool isDiskFull(const QSqlError& error) const override;
    bool isPermissionDenied(const QSqlError& error) const override;
    bool connectionLost() const override;
    QString lostConnectionMessage(bool ran) const override;
    void startTransaction(const QString& lockTable) override;

private:
    friend class PostgresCopyWriter;

    // The driver's libpq connection; null when it has none.
    pg_conn* connectionHandle() const;
    // Reads the rest of results the driver left unread, so that the
    // connection can take a statement of libpq's own.
    static void drainResults(pg_conn* conn);

    struct TableInfo {
        QString counter;                      // the identity column
        QHash<QString, QString> serverTypes;  // as the server declares them
        QVector<EngineColumn> columns;
        QSet<QString> timestamps;  // columns read back as text
        QSet<QString> texts;       // ordered by their characters' codes
    };

    // Runs a statement of the session's own (SET, BEGIN) unprepared.
    void runSetting(const QString& sql, const QString& what);
    const TableInfo& table(const QString& name);
    void subscribe();
    // A notice of `channel`, sent by this connection itself when `own`.
    void heard(const QString& channel, bool own, const QString& payload);
    // Hands over the notices the client library read but the driver did not.
    void takeWaitingNotices();
    // Subscribes, or ends the subscription, as the watchers need.
    void listen();

    QString m_connection;
    ServerAddress m_address;
    QHash<QString, TableInfo> m_tables;
    std::function<void(const QStringList&)> m_watch;
    std::function<void(const CommittedChanges&)> m_watchRows;
    std::unique_ptr<QObject> m_listener;
    // Whether a session was opened before: notices sent while the
    // connection was away are lost.
    bool m_hadSession = false;
    // A COPY of insertRows() holds the connection: nothing else may read
    // from it meanwhile.
    bool m_copying = false;
};

}  // namespace marvesa
