#pragma once

#include <QHash>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "data/sql/Engine.h"
#include "data/sql/SqlText.h"

class QSqlError;

namespace marvesa {

// The SQL a QtSqlEngine's database speaks, for code that writes statements
// of its own for one database and not the other (the registry queries).
enum class SqlDialect { SQLite, PostgreSQL };

// What every engine over Qt's SQL drivers does the same way: one named
// QSqlDatabase connection, the statements prepared on it (each prepared once
// and kept while the connection lasts), the statements the table cursors
// need (SELECT, INSERT, UPDATE with the optimistic check, DELETE, the check
// of a parent row), waiting for another desk that holds the database, the
// bookkeeping of write transactions, and the texts of its errors.
//
// A database differs in a few words of those statements and in how it
// behaves around them; a derived engine says so through the protected hooks
// below, as Qt's own QSqlDriver lets each driver word its statements
// (sqlStatement(), escapeIdentifier()) and QSqlTableModel lets a model build
// its own (selectStatement(), updateRowInTable()).
class QtSqlEngine : public Engine {
public:
    ~QtSqlEngine() override;
    QtSqlEngine(const QtSqlEngine&) = delete;
    QtSqlEngine& operator=(const QtSqlEngine&) = delete;

    void connect() override;
    // Also closes the second connections opened from this one.
    void disconnect() override;
    bool isConnected() const override { return m_connected; }

    std::vector<StoredRow> read(const ReadRequest& request) override;
    bool readRow(const QString& table, const QStringList& columns, qint64 id,
                 StoredRow* row) override;
    qint64 insert(const QString& table, const QStringList& columns,
                  const QVector<QVariant>& values) override;
    bool update(const QString& table, qint64 id, const QStringList& changed,
                const QVector<QVariant>& values, const QStringList& checked,
                const QVector<QVariant>& expected) override;
    std::optional<qint64> insertWithParent(const QString& table, const QStringList& columns,
                                           const QVector<QVariant>& values,
                                           const ParentRow& parent) override;
    // Nothing to store (`changed` empty): true while the parent exists, so
    // that a row kept unchanged is still refused once its parent is gone.
    bool updateWithParent(const QString& table, qint64 id, const QStringList& changed,
                          const QVector<QVariant>& values, const QStringList& checked,
                          const QVector<QVariant>& expected, const ParentRow& parent) override;
    bool exists(const ParentRow& row) override;
    void remove(const QString& table, qint64 id) override;

    void beginWrite(const QString& lockTable) override;
    void commit() override;
    void rollback() override;
    bool inTransaction() const override { return m_inTransaction; }
    qint64 exec(const QString& sql, const QVector<QVariant>& values = {}) override;
    // Multi-row INSERT statements, kRowsPerInsert rows each.
    std::unique_ptr<RowWriter> insertRows(const QString& table,
                                          const QStringList& columns) override;
    static constexpr int kRowsPerInsert = 200;
    void refreshStatistics(const QString& table) override;
    void select(const QString& sql, const QVector<QVariant>& values,
                const RowHandler& onRow) override;

    // As exec() and select(), with `what` (what the operator asked for, "Impossibile
    // cercare") heading the message of a failure.
    qint64 exec(const QString& sql, const QVector<QVariant>& values, const QString& what);
    void select(const QString& sql, const QVector<QVariant>& values, const RowHandler& onRow,
                const QString& what);
    // Runs one statement that takes no values without preparing it: a server
    // prepares queries and changes of rows, not SET, BEGIN or CREATE INDEX.
    void execDirect(const QString& sql, const QString& what);

    virtual SqlDialect dialect() const = 0;

    // How long a statement waits, by default, for another copy of the
    // program that holds the database; setBusyTimeout() before connect()
    // changes it.
    static constexpr int kBusyTimeoutMs = 10000;
    void setBusyTimeout(int milliseconds) { m_busyTimeoutMs = milliseconds; }
    int busyTimeout() const { return m_busyTimeoutMs; }
    // How long beginWrite() waits in all for another copy of the program
    // that is writing (an export of 300,000 members takes a few seconds);
    // the operator sees the wait cursor meanwhile.
    static constexpr int kWriteWaitMs = 60000;
    // The text the operator reads when a wait runs out.
    static QString busyMessage() { return marvesa::busyMessage(); }

    // Statements of the session run each time the connection opens, after
    // the engine's own (settings such as a larger page cache). Set before
    // connect().
    void setSessionStatements(QStringList statements) { m_session = std::move(statements); }

    // A second connection to the same database, with this one's settings and
    // the given statements of the session, already connected. For work that
    // must neither share this connection's transactions nor wait behind its
    // statements, and that sees what this connection commits as another
    // desk's work. Closed when this engine disconnects or goes: used after
    // that, it fails as a closed connection does. Throws marvesa::Error when
    // it cannot connect.
    std::shared_ptr<QtSqlEngine> openSecondConnection(const QStringList& sessionStatements = {});

    // The name of the QSqlDatabase connection.
    const QString& connectionName() const { return m_connectionName; }

    // The tables changed shape (a database brought up to date): what the
    // engine learnt of them is learnt again at their next use.
    void tablesChanged() { forgetTables(); }

    // Tells the database who works on this connection (Workstation::current()),
    // for the rows of the record history its changes write. Done whenever
    // the connection opens; the data module does it again after bringing a
    // database up to the version that keeps the history.
    void identifyWorkstation();

    // Runs `work` (which runs its own write transaction) so that what it
    // overwrites or deletes leaves no copy behind in the database's files:
    // a file overwrites the space it frees with zeros while `work` runs, then
    // writes its journal back and empties it. Hooks: startErasing(),
    // finishErasing().
    void runErasing(const std::function<void()>& work);

protected:
    QtSqlEngine();

    QSqlDatabase database() const;

    // ------------------------------------------------------------------
    // Hooks: what each database does its own way.

    // Opening. The Qt driver; what `db` needs before it opens (may throw);
    // the error when it does not open; the settings and checks of a session
    // just opened (throw to refuse the database); what to forget when the
    // connection closes (table descriptions, subscriptions).
    virtual QString driverName() const = 0;
    virtual void configure(QSqlDatabase& db) const = 0;
    [[noreturn]] virtual void failOpening(const QSqlError& error) const = 0;
    virtual void startSession() {}
    virtual void forgetSession() {}
    virtual void forgetTables() {}
    // Around the work of runErasing(); finishErasing() also runs when the
    // work failed, and never throws.
    virtual void startErasing() {}
    virtual void finishErasing() {}
    // Who works on the connection, in the engine's own way (a file: a
    // temporary trigger; a server: the connection's application name).
    virtual void identify(const QString& account, const QString& computer) {
        Q_UNUSED(account);
        Q_UNUSED(computer);
    }
    // An engine of the same kind on the same database, not yet connected.
    virtual std::unique_ptr<QtSqlEngine> makeTwin() const = 0;

    // Tables. Fails unless `table` exists. Its counter column, as SQL (may
    // learn the table, and fail, on first use).
    virtual void checkTable(const QString& table) = 0;
    virtual QString counterColumn(const QString& table) = 0;

    // Reading. How a column is selected, and how the value it arrives as
    // becomes the stored value; how rows are ordered on a column.
    virtual QString selectColumn(const QString& table, const QString& column);
    virtual QVariant storedValue(QVariant value) const { return value; }
    virtual QString orderColumn(const QString& table, const QString& column);

    // Writing. The optimistic check of a column against a bound value, with
    // NULL equal to NULL; the lock taken on a parent row while a statement
    // checks it (" FOR KEY SHARE"); a bound value inside INSERT ... SELECT,
    // where it has no column to take its type from; the column a row of
    // defaults names in INSERT ... SELECT; whether INSERT returns the new
    // counter as a row (RETURNING) rather than through lastInsertId().
    virtual QString stillHolds(const QString& table, const QString& column) = 0;
    virtual QString parentLock() const { return QString(); }
    virtual QString selectedValue(const QString& table, const QString& column);
    virtual QString defaultRowColumn(const QString& table) = 0;
    virtual bool returnsNewCounter() const { return false; }

    // Waiting and failing. Whether an error means another desk holds what
    // the statement needs; whether a statement may still wait longer, and
    // the settings of that longer wait (it lasts at most `milliseconds`);
    // what follows a wait that ran out; whether a failure is a unique index
    // refusing a value (and which); whether the connection itself has gone,
    // and the message then.
    virtual bool isBusy(const QSqlError& error) const = 0;
    virtual bool canWaitLonger() const { return true; }
    virtual void startLongWait(int milliseconds) { Q_UNUSED(milliseconds); }
    virtual void endLongWait() {}
    virtual void busyWaitRanOut() {}
    virtual bool isUniqueViolation(const QSqlError& error, const QString& text,
                                   QString* index) const = 0;
    // Whether the database refused because its disk is full.
    virtual bool isDiskFull(const QSqlError& error) const = 0;
    // Whether the database refused the statement to this connection's role
    // (a desk that may only read, on a server).
    virtual bool isPermissionDenied(const QSqlError& error) const {
        Q_UNUSED(error);
        return false;
    }
    virtual bool connectionLost() const { return false; }
    // What the operator reads when the connection went away; `ran`: the
    // statement had been sent, and whether it was done is not known.
    virtual QString lostConnectionMessage(bool ran) const;

    // Starts the write transaction of beginWrite(): the connection is
    // open, no transaction is, `lockTable` exists. Calls setInTransaction().
    virtual void startTransaction(const QString& lockTable) = 0;
    // The transaction is over (committed or rolled back); never throws.
    virtual void transactionEnded() {}
    // Whether the database keeps statistics to gather again (a file only
    // once somebody ran ANALYZE on it).
    virtual bool keepsStatistics() { return true; }

    // ------------------------------------------------------------------
    // For the engines' own statements.

    // The statement prepared for `sql` on this connection; a refusal fails
    // with `what` (by default "Istruzione non accettata dal database").
    QSqlQuery& prepared(const QString& sql, const QString& what = QString());
    // Runs a prepared statement, waiting for another desk as long as the busy
    // timeout allows; a failure throws `what` (%1 replaced by `table` when
    // given) followed by the engine's text.
    void run(QSqlQuery& query, const QString& what, const QString& table = QString());
    // Runs `attempt` (an execution of `query`) again while another desk holds
    // what it needs, for at most `limitMs`; the busy observer hears of the
    // wait. True when an attempt succeeded.
    bool runWaiting(QSqlQuery& query, const std::function<bool()>& attempt, int limitMs);
    // The failure of `query`, as run() reports it.
    [[noreturn]] void failStatement(QSqlQuery& query, const QString& what, const QString& table);
    // The same for a failure the engine met outside a prepared statement.
    [[noreturn]] void failError(const QSqlError& error, const QString& what,
                                const QString& table = QString());
    // `what` (the operation, in the operator's words) followed by the
    // cause; a cause the database did not give is said to be unknown.
    [[noreturn]] void fail(const QString& what, const QString& engineText) const;
    // As fail(), for a failure of the database: a connection that went away,
    // a full disk or a missing cause read in Italian, with the database's
    // own text as the error's detail. `ran`: the statement had been sent.
    [[noreturn]] void failWith(const QString& what, const QSqlError& error, bool ran = true);
    // What the operator reads when the database refused a statement to this
    // connection's role.
    QString permissionDeniedMessage(const QString& what, const QString& engineText) const;
    void requireConnected() const;
    void setInTransaction(bool open) { m_inTransaction = open; }
    // The connection went away: the next statement connects again.
    void markLost() { m_lost = true; }
    bool reconnectPending() const { return m_lost; }

private:
    std::optional<qint64> insertRow(const QString& table, const QStringList& columns,
                                    const QVector<QVariant>& values, const ParentRow* parent);
    bool updateRow(const QString& table, qint64 id, const QStringList& changed,
                   const QVector<QVariant>& values, const QStringList& checked,
                   const QVector<QVariant>& expected, const ParentRow* parent);
    qint64 execPrepared(QSqlQuery& query, const QVector<QVariant>& values, const QString& what);
    void selectPrepared(QSqlQuery& query, const QVector<QVariant>& values, const RowHandler& onRow,
                        const QString& what);
    QString selectList(const QString& table, const QStringList& columns);
    QString parentExists(const ParentRow& parent) const;
    void readInto(const QSqlQuery& query, int columnCount, StoredRow* row) const;
    // Adds the QSqlDatabase and opens it; removed again when it fails.
    void openDatabase();
    // The hooks' session, then the statements of the session.
    void openSession();
    void reconnectIfLost();
    void close();
    void closeSecondConnections();

    QString m_connectionName;
    bool m_connected = false;
    bool m_lost = false;
    bool m_inTransaction = false;  // between beginWrite() and commit()/rollback()
    int m_busyTimeoutMs = kBusyTimeoutMs;
    QStringList m_session;
    QHash<QString, QSqlQuery> m_statements;
    std::vector<std::weak_ptr<QtSqlEngine>> m_secondConnections;
};

}  // namespace marvesa
