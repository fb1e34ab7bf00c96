#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>
#include <functional>
#include <vector>

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

    virtual void remove(const QString& table, qint64 id) = 0;

    // While relaxed, a commit does not wait for the disk: for rebuildable
    // data only (the export staging table). Never corrupts the database.
    virtual void setRelaxedDurability(bool relaxed) = 0;

    // The database file's full path, in the platform's notation, for messages.
    virtual QString location() const = 0;

    // Watches for changes that other connections (other desks, other copies of the
    // program) commit to the database. `changed` is called on this thread's event
    // loop with the names of the tables concerned, or an empty list when the engine
    // cannot tell which. Changes made through this engine are not announced. An
    // empty function stops watching.
    virtual void watchChanges(std::function<void(const QStringList& tables)> changed) = 0;
};

}  // namespace marvesa
