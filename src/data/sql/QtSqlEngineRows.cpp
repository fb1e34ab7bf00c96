#include <QSqlError>

#include "data/sql/QtSqlEngine.h"

// The statements of the table cursors, written once for every engine over
// Qt SQL: each database's own words come from the hooks.

namespace marvesa {

QString QtSqlEngine::selectColumn(const QString&, const QString& column) {
    return quoteIdentifier(column);
}

QString QtSqlEngine::orderColumn(const QString&, const QString& column) {
    return quoteIdentifier(column);
}

QString QtSqlEngine::selectedValue(const QString&, const QString&) {
    return QStringLiteral("?");
}

QString QtSqlEngine::selectList(const QString& table, const QStringList& columns) {
    QString s;
    s.reserve(8 + columns.size() * 40);
    s += counterColumn(table);
    for (const QString& c : columns) {
        s += QLatin1String(", ");
        s += selectColumn(table, c);
    }
    return s;
}

void QtSqlEngine::readInto(const QSqlQuery& query, int columnCount, StoredRow* row) const {
    row->id = query.value(0).toLongLong();
    row->values.resize(columnCount);
    for (int i = 0; i < columnCount; ++i)
        row->values[i] = storedValue(query.value(i + 1));
}

std::vector<StoredRow> QtSqlEngine::read(const ReadRequest& request) {
    checkTable(request.table);
    QString sql = QStringLiteral("SELECT ") + selectList(request.table, request.columns) +
                  QStringLiteral(" FROM ") + quoteIdentifier(request.table);
    if (!request.filterColumn.isEmpty()) {
        sql += QStringLiteral(" WHERE ") + quoteIdentifier(request.filterColumn) +
               QStringLiteral(" = ?");
    }
    sql += QStringLiteral(" ORDER BY ");
    if (!request.orderColumn.isEmpty()) {
        sql += orderColumn(request.table, request.orderColumn) + QStringLiteral(", ");
    }
    sql += counterColumn(request.table);

    QSqlQuery& q = prepared(sql);
    if (!request.filterColumn.isEmpty())
        q.addBindValue(request.filterValue);
    const QString what = QStringLiteral("Impossibile leggere la tabella %1");
    run(q, what, request.table);
    std::vector<StoredRow> rows;
    if (q.size() > 0)
        rows.reserve(size_t(q.size()));
    const int n = int(request.columns.size());
    while (q.next()) {
        rows.emplace_back();
        readInto(q, n, &rows.back());
    }
    if (q.lastError().isValid())
        failStatement(q, what, request.table);
    q.finish();
    return rows;
}

bool QtSqlEngine::readRow(const QString& table, const QStringList& columns, qint64 id,
                          StoredRow* row) {
    QSqlQuery& q =
        prepared(QStringLiteral("SELECT ") + selectList(table, columns) + QStringLiteral(" FROM ") +
                 quoteIdentifier(table) + QStringLiteral(" WHERE ") + counterColumn(table) +
                 QStringLiteral(" = ?"));
    q.addBindValue(id);
    run(q, QStringLiteral("Impossibile rileggere una riga della tabella %1"), table);
    const bool found = q.next();
    if (found)
        readInto(q, int(columns.size()), row);
    q.finish();
    return found;
}

QString QtSqlEngine::parentExists(const ParentRow& parent) const {
    return QStringLiteral("EXISTS (SELECT 1 FROM ") + quoteIdentifier(parent.table) +
           QStringLiteral(" WHERE ") + quoteIdentifier(parent.column) + QStringLiteral(" = ?") +
           parentLock() + QLatin1Char(')');
}

qint64 QtSqlEngine::insert(const QString& table, const QStringList& columns,
                           const QVector<QVariant>& values) {
    return insertRow(table, columns, values, nullptr).value_or(0);
}

std::optional<qint64> QtSqlEngine::insertWithParent(const QString& table,
                                                    const QStringList& columns,
                                                    const QVector<QVariant>& values,
                                                    const ParentRow& parent) {
    return insertRow(table, columns, values, &parent);
}

std::optional<qint64> QtSqlEngine::insertRow(const QString& table, const QStringList& columns,
                                             const QVector<QVariant>& values,
                                             const ParentRow* parent) {
    QString sql;
    sql.reserve(32 + columns.size() * 28);
    sql += QLatin1String("INSERT INTO ");
    sql += quoteIdentifier(table);
    if (columns.isEmpty()) {
        // A row of defaults; its counter given by the database.
        sql += parent ? QStringLiteral(" (") + defaultRowColumn(table) +
                            QStringLiteral(") SELECT NULL")
                      : QStringLiteral(" DEFAULT VALUES");
    } else {
        sql += QLatin1String(" (");
        for (int i = 0; i < columns.size(); ++i) {
            if (i > 0)
                sql += QLatin1String(", ");
            sql += quoteIdentifier(columns.at(i));
        }
        if (parent) {
            sql += QLatin1String(") SELECT ");
            for (int i = 0; i < columns.size(); ++i) {
                if (i > 0)
                    sql += QLatin1String(", ");
                sql += selectedValue(table, columns.at(i));
            }
        } else {
            sql += QLatin1String(") VALUES (?");
            for (int i = 1; i < columns.size(); ++i)
                sql += QLatin1String(", ?");
            sql += QLatin1Char(')');
        }
    }
    if (parent)
        sql += QStringLiteral(" WHERE ") + parentExists(*parent);
    if (returnsNewCounter())
        sql += QStringLiteral(" RETURNING ") + counterColumn(table);
    QSqlQuery& q = prepared(sql);
    for (const QVariant& v : values)
        q.addBindValue(v);
    if (parent)
        q.addBindValue(parent->value);
    run(q, QStringLiteral("Impossibile salvare la nuova riga nella tabella %1"), table);
    std::optional<qint64> id;
    if (returnsNewCounter()) {
        if (q.next())
            id = q.value(0).toLongLong();
    } else if (!parent || q.numRowsAffected() > 0) {
        // Without its parent no row was stored, and the last counter is
        // another row's.
        id = q.lastInsertId().toLongLong();
    }
    q.finish();
    return id;
}

bool QtSqlEngine::update(const QString& table, qint64 id, const QStringList& changed,
                         const QVector<QVariant>& values, const QStringList& checked,
                         const QVector<QVariant>& expected) {
    return updateRow(table, id, changed, values, checked, expected, nullptr);
}

bool QtSqlEngine::updateWithParent(const QString& table, qint64 id, const QStringList& changed,
                                   const QVector<QVariant>& values, const QStringList& checked,
                                   const QVector<QVariant>& expected, const ParentRow& parent) {
    return updateRow(table, id, changed, values, checked, expected, &parent);
}

bool QtSqlEngine::updateRow(const QString& table, qint64 id, const QStringList& changed,
                            const QVector<QVariant>& values, const QStringList& checked,
                            const QVector<QVariant>& expected, const ParentRow* parent) {
    if (changed.isEmpty())
        return !parent || exists(*parent);
    QStringList sets, conditions;
    for (const QString& c : changed)
        sets << quoteIdentifier(c) + QStringLiteral(" = ?");
    conditions << counterColumn(table) + QStringLiteral(" = ?");
    // A column read as NULL must still be NULL.
    for (const QString& c : checked)
        conditions << stillHolds(table, c);
    if (parent)
        conditions << parentExists(*parent);
    QSqlQuery& q = prepared(QStringLiteral("UPDATE ") + quoteIdentifier(table) +
                            QStringLiteral(" SET ") + sets.join(QStringLiteral(", ")) +
                            QStringLiteral(" WHERE ") + conditions.join(QStringLiteral(" AND ")));
    for (const QVariant& v : values)
        q.addBindValue(v);
    q.addBindValue(id);
    for (const QVariant& v : expected)
        q.addBindValue(v);
    if (parent)
        q.addBindValue(parent->value);
    run(q, QStringLiteral("Impossibile salvare la riga nella tabella %1"), table);
    const int affected = q.numRowsAffected();
    q.finish();
    return affected > 0;
}

bool QtSqlEngine::exists(const ParentRow& row) {
    checkTable(row.table);
    QSqlQuery& q = prepared(QStringLiteral("SELECT 1 FROM ") + quoteIdentifier(row.table) +
                            QStringLiteral(" WHERE ") + quoteIdentifier(row.column) +
                            QStringLiteral(" = ? LIMIT 1"));
    q.addBindValue(row.value);
    run(q, QStringLiteral("Impossibile leggere la tabella %1"), row.table);
    const bool found = q.next();
    q.finish();
    return found;
}

void QtSqlEngine::remove(const QString& table, qint64 id) {
    QSqlQuery& q =
        prepared(QStringLiteral("DELETE FROM ") + quoteIdentifier(table) +
                 QStringLiteral(" WHERE ") + counterColumn(table) + QStringLiteral(" = ?"));
    q.addBindValue(id);
    run(q, QStringLiteral("Impossibile cancellare la riga dalla tabella %1"), table);
    q.finish();
}

// ------------------------------------------------------------------
// Many rows at once.

namespace {

// Rows gathered into INSERT statements of kRowsPerInsert rows each: one
// statement (prepared once and kept) for many rows, the last one shorter.
class BatchRowWriter final : public RowWriter {
public:
    BatchRowWriter(QtSqlEngine& engine, const QString& table, const QStringList& columns)
        : m_engine(engine), m_what(rowsNotStoredMessage(table)) {
        QStringList quoted;
        for (const QString& c : columns)
            quoted << quoteIdentifier(c);
        m_head = QStringLiteral("INSERT INTO ") + quoteIdentifier(table) + QStringLiteral(" (") +
                 quoted.join(QStringLiteral(", ")) + QStringLiteral(") VALUES ");
        m_tuple = QLatin1Char('(') + QStringList(columns.size(), QStringLiteral("?")).join(u", ") +
                  QLatin1Char(')');
        m_full = statement(QtSqlEngine::kRowsPerInsert);
        m_values.reserve(columns.size() * QtSqlEngine::kRowsPerInsert);
    }

    void add(const QVector<QVariant>& values) override {
        m_values += values;
        if (++m_rows == QtSqlEngine::kRowsPerInsert)
            flush();
    }
    void finish() override { flush(); }

private:
    QString statement(int rows) const {
        return m_head + QStringList(rows, m_tuple).join(QStringLiteral(", "));
    }
    void flush() {
        if (m_rows == 0)
            return;
        m_engine.exec(m_rows == QtSqlEngine::kRowsPerInsert ? m_full : statement(m_rows), m_values,
                      m_what);
        m_values.clear();
        m_rows = 0;
    }

    QtSqlEngine& m_engine;
    QString m_what;
    QString m_head;
    QString m_tuple;
    QString m_full;  // the statement of a whole batch
    QVector<QVariant> m_values;
    int m_rows = 0;
};

}  // namespace

void QtSqlEngine::refreshStatistics(const QString& table) {
    requireConnected();
    checkTable(table);
    if (keepsStatistics()) {
        execDirect(QStringLiteral("ANALYZE ") + quoteIdentifier(table),
                   QStringLiteral("Impossibile aggiornare le statistiche del database"));
    }
}

std::unique_ptr<RowWriter> QtSqlEngine::insertRows(const QString& table,
                                                   const QStringList& columns) {
    requireConnected();
    checkTable(table);
    return std::make_unique<BatchRowWriter>(*this, table, columns);
}

}  // namespace marvesa
