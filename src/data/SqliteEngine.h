#pragma once

#include <QHash>
#include <QSqlDatabase>
#include <QSqlQuery>

#include "data/Engine.h"

namespace marvesa {

// The database engine over one SQLite file, through Qt's QSQLITE driver.
//
// The file is opened read-write and never created here: a missing file is an
// error. Several copies of the program may work on one file at once: the
// journal is written ahead (WAL) and a statement waits for a busy database
// instead of failing at once.
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
    void remove(const QString& table, qint64 id) override;
    QString location() const override;

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
    // few seconds), in attempts of kBusyTimeoutMs each.
    static constexpr int kWriteWaitMs = 60000;

    // How long a statement waits for another copy of the program that holds
    // the database.
    static constexpr int kBusyTimeoutMs = 10000;

    // Size the write-ahead journal file is cut back to after a checkpoint:
    // one large transaction (an export) would otherwise leave it as large
    // as itself for good.
    static constexpr qint64 kJournalSizeLimit = 8 * 1024 * 1024;

private:
    QSqlQuery& prepared(const QString& sql);
    // Runs a prepared statement; on failure throws `what` (with %1 replaced
    // by `table` when given) followed by the engine's text.
    void exec(QSqlQuery& query, const char* what, const QString& table = QString());
    void execPragma(const QString& sql, const QString& what);
    void requireConnected() const;
    void checkTable(const QString& table);
    [[noreturn]] void fail(const QString& what, const QString& engineText) const;

    QString m_path;
    QString m_connectionName;
    bool m_connected = false;
    QHash<QString, QSqlQuery> m_statements;
    QHash<QString, bool> m_knownTables;
    bool m_inTransaction = false;  // between beginWrite() and commit()/rollback()
};

// Quotes an identifier taken from the program's own declarations (table and
// column names), never from a value.
QString quoteIdentifier(const QString& name);

}  // namespace marvesa
