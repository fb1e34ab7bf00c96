#include "data/SqliteEngine.h"

#include <QAtomicInt>
#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlRecord>
#include <QUrl>

#include "data/Error.h"

namespace marvesa {

namespace {

QAtomicInt g_connectionCounter;

QString engineText(const QSqlError& error) {
    QString text = error.databaseText();
    if (text.isEmpty()) text = error.driverText();
    if (text.isEmpty()) text = error.text();
    return text.trimmed();
}

}  // namespace

QString quoteIdentifier(const QString& name) {
    QString quoted;
    quoted.reserve(name.size() + 2);
    quoted += QLatin1Char('"');
    if (name.contains(QLatin1Char('"'))) {
        QString inner = name;
        quoted += inner.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    } else {
        quoted += name;
    }
    quoted += QLatin1Char('"');
    return quoted;
}

SqliteEngine::SqliteEngine(QString path)
    : m_path(std::move(path)),
      m_connectionName(QStringLiteral("marvesa-%1").arg(g_connectionCounter.fetchAndAddRelaxed(1))) {}

SqliteEngine::~SqliteEngine() { disconnect(); }

QString SqliteEngine::location() const {
    return QDir::toNativeSeparators(QFileInfo(m_path).absoluteFilePath());
}

void SqliteEngine::fail(const QString& what, const QString& text) const {
    throw Error(QStringLiteral("%1: %2 (database \"%3\")").arg(what, text, location()));
}

void SqliteEngine::connect() {
    if (m_connected) return;
    const QFileInfo info(m_path);
    if (!info.exists()) {
        throw Error(QStringLiteral("Impossibile aprire il database: il file \"%1\" non esiste")
                        .arg(location()));
    }
    if (!info.isFile()) {
        throw Error(QStringLiteral("Impossibile aprire il database: \"%1\" non è un file")
                        .arg(location()));
    }
    if (!info.isReadable() || !info.isWritable()) {
        throw Error(QStringLiteral("Impossibile aprire il database \"%1\": il file è in sola "
                                   "lettura o non è accessibile")
                        .arg(location()));
    }
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
        // mode=rw: open an existing file for reading and writing, never create one.
        QUrl url = QUrl::fromLocalFile(info.absoluteFilePath());
        url.setQuery(QStringLiteral("mode=rw"));
        db.setDatabaseName(url.toString(QUrl::FullyEncoded));
        db.setConnectOptions(
            QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
        if (!db.open()) {
            const QString text = engineText(db.lastError());
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(m_connectionName);
            fail(QStringLiteral("Impossibile aprire il database"), text);
        }
    }
    m_connected = true;
    try {
        // The first statement reads the file's header: a file that is no
        // database fails here.
        QSqlQuery probe(QSqlDatabase::database(m_connectionName, false));
        if (!probe.exec(QStringLiteral("SELECT count(*) FROM sqlite_master"))) {
            fail(QStringLiteral("Il file non è un database valido"), engineText(probe.lastError()));
        }
        // A statement left open holds a read transaction, inside which a
        // database not yet in WAL mode cannot be switched to it.
        probe.finish();
        execPragma(QStringLiteral("PRAGMA journal_mode=WAL"),
                   QStringLiteral("Impossibile preparare il database alla condivisione"));
        execPragma(QStringLiteral("PRAGMA synchronous=FULL"),
                   QStringLiteral("Impossibile preparare il database"));
        execPragma(QStringLiteral("PRAGMA journal_size_limit=%1").arg(kJournalSizeLimit),
                   QStringLiteral("Impossibile preparare il database"));
    } catch (...) {
        disconnect();
        throw;
    }
}

void SqliteEngine::execPragma(const QString& sql, const QString& what) {
    QSqlQuery q(QSqlDatabase::database(m_connectionName, false));
    if (!q.exec(sql)) fail(what, engineText(q.lastError()));
}

void SqliteEngine::disconnect() {
    if (!m_connected && !QSqlDatabase::contains(m_connectionName)) return;
    m_statements.clear();
    m_knownTables.clear();
    rollback();
    {
        QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
        if (db.isOpen()) db.close();
    }
    QSqlDatabase::removeDatabase(m_connectionName);
    m_connected = false;
}

bool SqliteEngine::isConnected() const { return m_connected; }

void SqliteEngine::requireConnected() const {
    if (!m_connected) {
        throw Error(QStringLiteral("La connessione al database \"%1\" è chiusa").arg(location()));
    }
}

QSqlQuery& SqliteEngine::prepared(const QString& sql) {
    requireConnected();
    auto it = m_statements.find(sql);
    if (it == m_statements.end()) {
        QSqlQuery q(QSqlDatabase::database(m_connectionName, false));
        q.setForwardOnly(true);
        if (!q.prepare(sql)) {
            fail(QStringLiteral("Istruzione non accettata dal database"), engineText(q.lastError()));
        }
        it = m_statements.insert(sql, q);
    }
    return it.value();
}

void SqliteEngine::exec(QSqlQuery& query, const char* what, const QString& table) {
    if (!query.exec()) {
        const QString text = engineText(query.lastError());
        query.finish();
        // The message is composed only when it is needed: statements run
        // once per row.
        QString message = QString::fromUtf8(what);
        if (!table.isEmpty()) message = message.arg(table);
        fail(message, text);
    }
}

void SqliteEngine::checkTable(const QString& table) {
    if (m_knownTables.contains(table)) return;
    QSqlQuery& q = prepared(QStringLiteral(
        "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = ?"));
    q.addBindValue(table);
    exec(q, "Impossibile leggere lo schema del database");
    const bool exists = q.next() && q.value(0).toInt() > 0;
    q.finish();
    if (!exists) {
        throw Error(QStringLiteral("La tabella \"%1\" non esiste nel database \"%2\"")
                        .arg(table, location()));
    }
    m_knownTables.insert(table, true);
}

QVector<EngineColumn> SqliteEngine::columns(const QString& table) {
    checkTable(table);
    QSqlQuery& q = prepared(QStringLiteral("SELECT name, type FROM pragma_table_info(?)"));
    q.addBindValue(table);
    exec(q, "Impossibile leggere le colonne della tabella %1", table);
    QVector<EngineColumn> result;
    while (q.next()) result.push_back({q.value(0).toString(), q.value(1).toString()});
    q.finish();
    return result;
}

namespace {

QString selectList(const QStringList& columns) {
    QString s;
    s.reserve(8 + columns.size() * 24);
    s += QLatin1String("rowid");
    for (const QString& c : columns) {
        s += QLatin1String(", ");
        s += quoteIdentifier(c);
    }
    return s;
}

void fetchRow(const QSqlQuery& q, int columnCount, StoredRow* row) {
    row->id = q.value(0).toLongLong();
    row->values.resize(columnCount);
    for (int i = 0; i < columnCount; ++i) row->values[i] = q.value(i + 1);
}

}  // namespace

std::vector<StoredRow> SqliteEngine::read(const ReadRequest& request) {
    checkTable(request.table);
    QString sql = QStringLiteral("SELECT ") + selectList(request.columns) +
                  QStringLiteral(" FROM ") + quoteIdentifier(request.table);
    if (!request.filterColumn.isEmpty()) {
        sql += QStringLiteral(" WHERE ") + quoteIdentifier(request.filterColumn) +
               QStringLiteral(" = ?");
    }
    sql += QStringLiteral(" ORDER BY ");
    if (!request.orderColumn.isEmpty()) sql += quoteIdentifier(request.orderColumn) + QStringLiteral(", ");
    sql += QStringLiteral("rowid");

    QSqlQuery& q = prepared(sql);
    if (!request.filterColumn.isEmpty()) q.addBindValue(request.filterValue);
    exec(q, "Impossibile leggere la tabella %1", request.table);
    std::vector<StoredRow> rows;
    const int n = request.columns.size();
    while (q.next()) {
        rows.emplace_back();
        fetchRow(q, n, &rows.back());
    }
    if (q.lastError().isValid()) {
        const QString text = engineText(q.lastError());
        q.finish();
        fail(QStringLiteral("Impossibile leggere la tabella %1").arg(request.table), text);
    }
    q.finish();
    return rows;
}

bool SqliteEngine::readRow(const QString& table, const QStringList& columns, qint64 id,
                           StoredRow* row) {
    QSqlQuery& q = prepared(QStringLiteral("SELECT ") + selectList(columns) +
                            QStringLiteral(" FROM ") + quoteIdentifier(table) +
                            QStringLiteral(" WHERE rowid = ?"));
    q.addBindValue(id);
    exec(q, "Impossibile rileggere una riga della tabella %1", table);
    const bool found = q.next();
    if (found) fetchRow(q, columns.size(), row);
    q.finish();
    return found;
}

qint64 SqliteEngine::insert(const QString& table, const QStringList& columns,
                            const QVector<QVariant>& values) {
    QString sql;
    sql.reserve(32 + columns.size() * 28);
    sql += QLatin1String("INSERT INTO ");
    sql += quoteIdentifier(table);
    if (columns.isEmpty()) {
        sql += QLatin1String(" DEFAULT VALUES");
    } else {
        sql += QLatin1String(" (");
        for (int i = 0; i < columns.size(); ++i) {
            if (i > 0) sql += QLatin1String(", ");
            sql += quoteIdentifier(columns.at(i));
        }
        sql += QLatin1String(") VALUES (?");
        for (int i = 1; i < columns.size(); ++i) sql += QLatin1String(", ?");
        sql += QLatin1Char(')');
    }
    QSqlQuery& q = prepared(sql);
    for (const QVariant& v : values) q.addBindValue(v);
    exec(q, "Impossibile salvare la nuova riga nella tabella %1", table);
    const qint64 id = q.lastInsertId().toLongLong();
    q.finish();
    return id;
}

bool SqliteEngine::update(const QString& table, qint64 id, const QStringList& changed,
                          const QVector<QVariant>& values, const QStringList& checked,
                          const QVector<QVariant>& expected) {
    if (changed.isEmpty()) return true;
    QStringList sets, conditions;
    for (const QString& c : changed) sets << quoteIdentifier(c) + QStringLiteral(" = ?");
    conditions << QStringLiteral("rowid = ?");
    // "IS" compares NULL with NULL as equal, so a column read as NULL must
    // still be NULL.
    for (const QString& c : checked) conditions << quoteIdentifier(c) + QStringLiteral(" IS ?");
    QSqlQuery& q = prepared(QStringLiteral("UPDATE ") + quoteIdentifier(table) +
                            QStringLiteral(" SET ") + sets.join(QStringLiteral(", ")) +
                            QStringLiteral(" WHERE ") + conditions.join(QStringLiteral(" AND ")));
    for (const QVariant& v : values) q.addBindValue(v);
    q.addBindValue(id);
    for (const QVariant& v : expected) q.addBindValue(v);
    exec(q, "Impossibile salvare la riga nella tabella %1", table);
    const int affected = q.numRowsAffected();
    q.finish();
    return affected > 0;
}

void SqliteEngine::remove(const QString& table, qint64 id) {
    QSqlQuery& q = prepared(QStringLiteral("DELETE FROM ") + quoteIdentifier(table) +
                            QStringLiteral(" WHERE rowid = ?"));
    q.addBindValue(id);
    exec(q, "Impossibile cancellare la riga dalla tabella %1", table);
    q.finish();
}

// ------------------------------------------------------------------
// Units of work and statements of the program's own.

namespace {

// SQLite's result codes for a database another connection holds.
bool isBusy(const QSqlError& error) {
    const QString code = error.nativeErrorCode();
    return code == QLatin1String("5") || code == QLatin1String("6");  // BUSY, LOCKED
}

}  // namespace

void SqliteEngine::beginWrite(const QString& lockTable) {
    requireConnected();
    if (m_inTransaction) {
        throw Error(QStringLiteral("Una transazione è già aperta sul database \"%1\"")
                        .arg(location()));
    }
    checkTable(lockTable);
    // IMMEDIATE takes the write lock at once: a second writer waits here,
    // before it has done anything, instead of failing at its first change.
    // Each attempt waits kBusyTimeoutMs inside SQLite; a long export of
    // another copy is waited for over several attempts.
    QSqlQuery q(QSqlDatabase::database(m_connectionName, false));
    const int attempts = qMax(1, kWriteWaitMs / kBusyTimeoutMs);
    for (int attempt = 1;; ++attempt) {
        if (q.exec(QStringLiteral("BEGIN IMMEDIATE"))) break;
        const QSqlError error = q.lastError();
        if (!isBusy(error) || attempt >= attempts) {
            fail(isBusy(error)
                     ? QStringLiteral("Il database è occupato da un altro utente da più di %1 "
                                      "secondi: riprovare più tardi")
                           .arg(kWriteWaitMs / 1000)
                     : QStringLiteral("Impossibile iniziare la transazione"),
                 engineText(error));
        }
    }
    m_inTransaction = true;
}

void SqliteEngine::commit() {
    requireConnected();
    if (!m_inTransaction) {
        throw Error(QStringLiteral("Nessuna transazione aperta sul database \"%1\"")
                        .arg(location()));
    }
    QSqlQuery q(QSqlDatabase::database(m_connectionName, false));
    if (!q.exec(QStringLiteral("COMMIT"))) {
        const QString text = engineText(q.lastError());
        rollback();
        fail(QStringLiteral("Impossibile salvare le modifiche"), text);
    }
    m_inTransaction = false;
}

void SqliteEngine::rollback() {
    if (!m_inTransaction) return;
    m_inTransaction = false;
    if (!QSqlDatabase::contains(m_connectionName)) return;
    QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
    if (!db.isOpen()) return;
    // A statement still running would keep the transaction's read lock.
    for (QSqlQuery& statement : m_statements) statement.finish();
    // SQLite may already have rolled back by itself after certain errors
    // (a full disk): the failure of this statement then means nothing.
    QSqlQuery q(db);
    q.exec(QStringLiteral("ROLLBACK"));
}

bool SqliteEngine::inTransaction() const { return m_inTransaction; }

qint64 SqliteEngine::exec(const QString& sql, const QVector<QVariant>& values) {
    QSqlQuery& q = prepared(sql);
    for (const QVariant& v : values) q.addBindValue(v);
    exec(q, "Istruzione non eseguita dal database");
    const qint64 affected = q.numRowsAffected();
    q.finish();
    return affected;
}

void SqliteEngine::select(const QString& sql, const QVector<QVariant>& values,
                          const RowHandler& onRow) {
    QSqlQuery& q = prepared(sql);
    for (const QVariant& v : values) q.addBindValue(v);
    exec(q, "Impossibile leggere i dati");
    // Finishes the statement however the reading ends, so that it holds no
    // lock afterwards.
    struct Finish {
        QSqlQuery& q;
        ~Finish() { q.finish(); }
    } finish{q};
    QVector<QVariant> row;
    const int n = q.record().count();
    row.resize(n);
    while (q.next()) {
        for (int i = 0; i < n; ++i) row[i] = q.value(i);
        if (!onRow(row)) return;
    }
    if (q.lastError().isValid()) fail(QStringLiteral("Impossibile leggere i dati"), engineText(q.lastError()));
}

}  // namespace marvesa
