#pragma once

#include <QHash>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

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
    void setRelaxedDurability(bool relaxed) override;
    QString location() const override;

    // How long a statement waits for another copy of the program that holds
    // the database.
    static constexpr int kBusyTimeoutMs = 10000;

    // Journal pages between two automatic checkpoints (SQLite's default),
    // also while durability is relaxed.
    static constexpr int kCheckpointPages = 1000;
    // Size the write-ahead journal file is cut back to after a checkpoint.
    static constexpr qint64 kJournalSizeLimit = 8 * 1024 * 1024;

private:
    // Statements run through SQLite's own interface on the connection Qt
    // opened: each row of an export costs a few statements, and binding and
    // reading values there spares the driver's per-value conversions and
    // copies. A statement is prepared once per SQL text and kept.
    sqlite3_stmt* prepared(const QString& sql);
    // Binds a value the caller keeps unchanged until the statement is reset.
    void bind(sqlite3_stmt* statement, int position, const QVariant& value);
    void bindText(sqlite3_stmt* statement, int position, const QString& text);
    // Steps a statement once; true when it delivered a row, false when it is
    // done. On failure resets it and throws `what` (with %1 replaced by
    // `table` when given) followed by the engine's text.
    bool step(sqlite3_stmt* statement, const char* what, const QString& table = QString());
    void finalizeStatements();
    sqlite3_stmt* prepareRead(const ReadRequest& request);
    void execPragma(const QString& sql, const QString& what);
    void requireConnected() const;
    void checkTable(const QString& table);
    [[noreturn]] void fail(const QString& what, const QString& engineText) const;

    QString m_path;
    QString m_connectionName;
    bool m_connected = false;
    sqlite3* m_db = nullptr;
    QHash<QString, sqlite3_stmt*> m_statements;
    // The inserts seen so far by table and column list: their statement is
    // found without composing the SQL again for every row.
    struct InsertShape {
        QString table;
        QStringList columns;
        sqlite3_stmt* statement;
    };
    std::vector<InsertShape> m_inserts;
    // Likewise the reads, by table, columns, order and filter column.
    struct ReadShape {
        QString table;
        QStringList columns;
        QString orderColumn;
        QString filterColumn;
        sqlite3_stmt* statement;
    };
    std::vector<ReadShape> m_reads;
    sqlite3_stmt* m_removeStatement = nullptr;
    QString m_removeTable;
    QHash<QString, bool> m_knownTables;
};

// Quotes an identifier taken from the program's own declarations (table and
// column names), never from a value.
QString quoteIdentifier(const QString& name);

}  // namespace marvesa
