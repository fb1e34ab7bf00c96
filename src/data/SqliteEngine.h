#pragma once

#include <QHash>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <memory>

#include "data/Engine.h"

class QTimer;

namespace marvesa {

// The database engine over one SQLite file, through Qt's QSQLITE driver.
//
// The file is opened read-write and never created here: a missing file is an
// error. Several copies of the program may work on one file at once: the
// journal is written ahead (WAL) and a statement waits for a busy database
// instead of failing at once.
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
    void remove(const QString& table, qint64 id) override;
    void setRelaxedDurability(bool relaxed) override;
    QString location() const override;
    void watchChanges(std::function<void(const QStringList& tables)> changed) override;

    // How often the database is asked whether another connection committed.
    static constexpr int kChangePollMs = 250;

    // How long a statement waits for another copy of the program that holds
    // the database.
    static constexpr int kBusyTimeoutMs = 10000;

    // Journal pages between two automatic checkpoints (SQLite's default),
    // also while durability is relaxed.
    static constexpr int kCheckpointPages = 1000;
    // Size the write-ahead journal file is cut back to after a checkpoint.
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
};

// Quotes an identifier taken from the program's own declarations (table and
// column names), never from a value.
QString quoteIdentifier(const QString& name);

}  // namespace marvesa
