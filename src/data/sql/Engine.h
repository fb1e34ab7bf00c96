#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "data/base/Error.h"
#include "data/sql/CommittedChanges.h"

namespace marvesa {

// One row as the database stores it: its identity (the table's counter) and
// the stored values of the requested columns, in request order.
struct StoredRow {
    qint64 id = 0;
    QVector<QVariant> values;
};

// A column of a table as the database declares it.
struct EngineColumn {
    QString name;
    QString declaredType;
};

// What a table cursor asks for when it reads its rows.
struct ReadRequest {
    QString table;
    QStringList columns;
    // Rows ordered by this column, equal values in counter order; by counter
    // alone when empty.
    QString orderColumn;
    // When set, only rows whose filterColumn equals filterValue (texts compare
    // exactly; NULL matches no row).
    QString filterColumn;
    QVariant filterValue;
};

// A row the database refused because a unique index already holds one of its
// values; `index` names the index.
class UniqueViolation : public Error {
public:
    UniqueViolation(QString message, QString index)
        : Error(std::move(message)), m_index(std::move(index)) {}
    const QString& index() const { return m_index; }

private:
    QString m_index;
};

// A row another row belongs to: a row of `table` whose `column` equals
// `value` (texts compare exactly; NULL matches no row). A member belongs to
// the family unit whose CODICE_NUCLEO it carries.
struct ParentRow {
    QString table;
    QString column;
    QVariant value;
};

// Hears when a statement has to wait because another copy of the program
// holds the database for writing, and when that wait is over (the statement
// ran, or the wait ran out). Lets the window show that it is waiting without
// the data layer knowing any widget. Called on the thread of the statement.
class BusyObserver {
public:
    virtual ~BusyObserver() = default;
    virtual void busyWaitStarted() = 0;
    virtual void busyWaitEnded() = 0;
};

// Stores many new rows of one table inside the open write transaction,
// handed over one at a time, each with the values of the writer's columns in
// order (bound as insert() binds them; the other columns take their
// defaults). The engine sends them as many at once as it can take: a file a
// statement for a few hundred, a server one COPY for them all. finish()
// stores the last and throws marvesa::Error for a row refused; a writer
// dropped unfinished stores nothing more, and its transaction must be
// rolled back. While a writer is open, the connection runs nothing else.
class RowWriter {
public:
    virtual ~RowWriter() = default;
    virtual void add(const QVector<QVariant>& values) = 0;
    virtual void finish() = 0;
};

// What the table cursors need of the database engine. Every value travels as
// a bound parameter; no SQL is ever built from a value. Failures are thrown as
// marvesa::Error with a message the operator can read.
class Engine {
public:
    virtual ~Engine() = default;

    virtual void connect() = 0;
    virtual void disconnect() = 0;
    virtual bool isConnected() const = 0;

    // The columns of a table in declaration order; fails when the table is
    // missing.
    virtual QVector<EngineColumn> columns(const QString& table) = 0;

    virtual std::vector<StoredRow> read(const ReadRequest& request) = 0;
    // Reads one row again by its identity; false when it no longer exists.
    virtual bool readRow(const QString& table, const QStringList& columns, qint64 id,
                         StoredRow* row) = 0;

    // Stores a new row with the given column values (the others take their
    // defaults) and returns its counter.
    virtual qint64 insert(const QString& table, const QStringList& columns,
                          const QVector<QVariant>& values) = 0;

    // Stores new values for `changed` columns of the row `id`, but only where
    // the row still holds `expected` for every column in `checked` (values
    // read earlier). Returns false when no such row exists: another user
    // changed or deleted it since it was read.
    virtual bool update(const QString& table, qint64 id, const QStringList& changed,
                        const QVector<QVariant>& values, const QStringList& checked,
                        const QVector<QVariant>& expected) = 0;

    // As insert(), but only while `parent` exists, checked in the same
    // statement ("INSERT INTO t (...) SELECT ?, ... WHERE EXISTS (SELECT 1
    // FROM parent WHERE column = ?)"), so that no other user can delete the
    // parent in between. Returns the new counter, or nothing when the parent
    // is gone and no row was stored.
    virtual std::optional<qint64> insertWithParent(const QString& table, const QStringList& columns,
                                                   const QVector<QVariant>& values,
                                                   const ParentRow& parent) = 0;

    // As update(), but only while `parent` exists, checked in the same
    // statement ("UPDATE t SET ... WHERE ... AND EXISTS (SELECT 1 FROM parent
    // WHERE column = ?)"). Returns false, storing nothing, when the row was
    // changed or deleted or the parent is gone; exists() tells which.
    virtual bool updateWithParent(const QString& table, qint64 id, const QStringList& changed,
                                  const QVector<QVariant>& values, const QStringList& checked,
                                  const QVector<QVariant>& expected, const ParentRow& parent) = 0;

    // Whether a row of `row.table` has `row.column` equal to `row.value`.
    virtual bool exists(const ParentRow& row) = 0;

    virtual void remove(const QString& table, qint64 id) = 0;

    // The database file's full path, in the platform's notation, or the
    // server and database (never a password), for messages.
    virtual QString location() const = 0;

    // Watches for changes that other connections (other desks, other copies of the
    // program) commit to the database. `changed` is called on this thread's event
    // loop with the names of the tables concerned, or an empty list when the engine
    // cannot tell which. Changes made through this engine are not announced. An
    // empty function stops watching.
    virtual void watchChanges(std::function<void(const QStringList& tables)> changed) = 0;

    // Watches the same commits row by row: `changed` is called on this
    // thread's event loop with the rows other connections inserted, changed
    // or deleted in the tables that announce their changes, in commit order,
    // or with the tables to read whole when the engine cannot name every row
    // (everything, when it cannot tell what changed: this connection may have
    // missed some of it). Changes made through this engine are not announced.
    // Independent of watchChanges(); an empty function stops watching.
    virtual void watchRows(std::function<void(const CommittedChanges& changes)> changed) = 0;

    // ---------------------------------------------------------------------
    // Units of work and statements of the program's own.
    //
    // The export rebuilds its staging table and reads it back inside one
    // write transaction, with a few set-based statements instead of one
    // statement per row. The SQL handed to exec() and select() is written
    // for every engine: identifiers in double quotes, the tables' counter
    // columns (never an engine's hidden row number), standard window
    // functions, and every value as a bound parameter ("?"), never spliced
    // into the text.
    // ---------------------------------------------------------------------

    // Starts a write transaction and takes, at once, the right to write
    // `lockTable`, so that a second writer of that table waits at this call
    // rather than half-way through its work, and nobody else sees what the
    // transaction does until commit(). (SQLite: BEGIN IMMEDIATE, which takes
    // the database's write lock; a server database: BEGIN, then an exclusive
    // lock on the table.) Waits for another holder as long as the engine's
    // busy wait allows, then fails with a readable message. Fails when a
    // transaction is already open on this connection.
    virtual void beginWrite(const QString& lockTable) = 0;
    // Makes the transaction's changes durable and visible to others, waiting
    // for the disk. On failure the transaction is rolled back and the error
    // thrown: nothing of it is stored.
    virtual void commit() = 0;
    // Abandons the transaction's changes. Does nothing when none is open;
    // never throws (it runs while another error is on its way out).
    virtual void rollback() = 0;
    virtual bool inTransaction() const = 0;

    // Runs one statement that returns no rows, with `values` bound to its
    // "?" in order. Returns the number of rows it changed (-1 when the engine
    // cannot tell).
    virtual qint64 exec(const QString& sql, const QVector<QVariant>& values = {}) = 0;

    // Runs one query with `values` bound to its "?" and calls `onRow` for
    // each row it returns, in the order returned, with the row's values in
    // select-list order. NULL arrives as a null QVariant; date-time columns
    // arrive as the engine keeps them (the stored text on SQLite, a
    // QDateTime on a server with timestamp columns). `onRow` returns false to
    // stop early. The vector passed may be reused for the next row: copy what
    // must outlive the call.
    using RowHandler = std::function<bool(const QVector<QVariant>& row)>;
    virtual void select(const QString& sql, const QVector<QVariant>& values,
                        const RowHandler& onRow) = 0;

    // Gathers again what the database knows of the values of `table`'s
    // columns, which its planner reads to choose an index: after many rows
    // changed at once, statistics gathered before would have it read the
    // whole table instead. Where the database keeps none (a file nobody ran
    // ANALYZE on) it does nothing; a role that may not does nothing either.
    virtual void refreshStatistics(const QString& table) = 0;

    // A writer of many new rows of `table` (see RowWriter), for a write
    // transaction already open.
    virtual std::unique_ptr<RowWriter> insertRows(const QString& table,
                                                  const QStringList& columns) = 0;

    // The observer of waits for a database held by another copy of the
    // program (null: nobody). The engine does not own it. An engine that
    // waits for locks tells it when a wait begins and ends.
    void setBusyObserver(BusyObserver* observer) { m_busyObserver = observer; }
    BusyObserver* busyObserver() const { return m_busyObserver; }

private:
    BusyObserver* m_busyObserver = nullptr;
};

}  // namespace marvesa
