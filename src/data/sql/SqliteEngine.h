#pragma once

#include <QHash>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <memory>

#include "data/sql/Engine.h"
#include "data/sql/SqlText.h"

class QTimer;
class QSqlError;

namespace marvesa {

// The database engine over one SQLite file, through Qt's QSQLITE driver.
//
// The file is opened read-write and never created here: a missing or empty
// file is an error. Several copies of the program may work on one file at
// once: the journal is written ahead (WAL) and a statement waits for a busy
// database (telling the busy observer) instead of failing at once.
//
// Text columns are read as the bytes they hold. Text another tool stored
// that is not valid UTF-8 is kept as those bytes (a QByteArray), so that the
// check before an update compares what is really stored and such a row can
// still be changed; it shows with the invalid bytes replaced.
//
// Changes other connections commit are noticed by polling SQLite's
// data_version of this connection on a timer: it moves whenever another
// connection, in this process or another, commits, and never for this
// connection's own commits.
class SqliteEngine : public Engine {
public:
    explicit SqliteEngine(QString path);
    ~SqliteEngine() override;

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

    // How often the database is asked whether another connection committed.
    static constexpr int kChangePollMs = 250;

    // Units of work and statements of the program's own (see Engine).
    void beginWrite(const QString& lockTable) override;
    void commit() override;
    void rollback() override;
    bool inTransaction() const override;
    qint64 exec(const QString& sql, const QVector<QVariant>& values = {}) override;
    void select(const QString& sql, const QVector<QVariant>& values,
                const RowHandler& onRow) override;

    // How long beginWrite() waits in all for another copy of the program
    // that is writing the database (an export of 300,000 members takes a
    // few seconds); the operator sees the wait cursor meanwhile.
    static constexpr int kWriteWaitMs = 60000;

    // How long a statement waits for another copy of the program that holds
    // the database, by default; setBusyTimeout() before connect() changes it.
    static constexpr int kBusyTimeoutMs = 10000;
    void setBusyTimeout(int milliseconds) { m_busyTimeoutMs = milliseconds; }
    // The text the operator reads when the wait runs out.
    static QString busyMessage() { return marvesa::busyMessage(); }

    // Size the write-ahead journal file is cut back to after a checkpoint:
    // one large transaction (an export) would otherwise leave it as large
    // as itself for good.
    static constexpr qint64 kJournalSizeLimit = 8 * 1024 * 1024;

private:
    std::optional<qint64> insertRow(const QString& table, const QStringList& columns,
                                    const QVector<QVariant>& values, const ParentRow* parent);
    bool updateRow(const QString& table, qint64 id, const QStringList& changed,
                   const QVector<QVariant>& values, const QStringList& checked,
                   const QVector<QVariant>& expected, const ParentRow* parent);
    // Runs `attempt` (one execution of `query`) again while the database is
    // busy, until the wait runs out; the busy observer hears of the wait.
    template <typename Attempt>
    bool runWaiting(QSqlQuery& query, Attempt attempt);
    // The text columns of a table (declared CHAR or TEXT): read as bytes.
    const QSet<QString>& textColumns(const QString& table);
    QString selectList(const QString& table, const QStringList& columns);
    void fetchRow(const QSqlQuery& q, int columnCount, StoredRow* row) const;
    // A failure while opening: a read-only folder or file named as such.
    [[noreturn]] void failOpening(const QString& what, const QSqlError& error) const;
    QSqlQuery& prepared(const QString& sql);
    // Runs a prepared statement; on failure throws `what` (with %1 replaced
    // by `table` when given) followed by the engine's text.
    void exec(QSqlQuery& query, const char* what, const QString& table = QString());
    void execPragma(const QString& sql, const QString& what);
    void requireConnected() const;
    void checkTable(const QString& table);
    [[noreturn]] void fail(const QString& what, const QString& engineText) const;
    qint64 dataVersion();
    void pollChanges();

    QString m_path;
    QString m_connectionName;
    bool m_connected = false;
    QHash<QString, QSqlQuery> m_statements;
    QHash<QString, bool> m_knownTables;

    std::function<void(const QStringList&)> m_changed;
    std::unique_ptr<QTimer> m_changePoll;
    // The data_version last seen; taken when the connection is made, so that
    // whatever others commit after it is announced.
    qint64 m_dataVersion = -1;
    QHash<QString, QSet<QString>> m_textColumns;
    int m_busyTimeoutMs = kBusyTimeoutMs;
    bool m_inTransaction = false;  // between beginWrite() and commit()/rollback()
};

}  // namespace marvesa
