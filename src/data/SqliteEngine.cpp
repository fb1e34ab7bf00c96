#include "data/SqliteEngine.h"

#include <QAtomicInt>
#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlRecord>
#include <QSqlDriver>
#include <QUrl>
#include <sqlite3.h>

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
        const QVariant handle = QSqlDatabase::database(m_connectionName, false).driver()->handle();
        if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0 ||
            !(m_db = *static_cast<sqlite3* const*>(handle.constData()))) {
            fail(QStringLiteral("Impossibile aprire il database"),
                 QStringLiteral("connessione SQLite non disponibile"));
        }
        execPragma(QStringLiteral("PRAGMA journal_mode=WAL"),
                   QStringLiteral("Impossibile preparare il database alla condivisione"));
        execPragma(QStringLiteral("PRAGMA synchronous=FULL"),
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
    // The connection closes only once no statement of it is left.
    finalizeStatements();
    m_knownTables.clear();
    {
        QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
        if (db.isOpen()) db.close();
    }
    QSqlDatabase::removeDatabase(m_connectionName);
    m_db = nullptr;
    m_connected = false;
}

void SqliteEngine::finalizeStatements() {
    for (sqlite3_stmt* s : std::as_const(m_statements)) sqlite3_finalize(s);
    m_statements.clear();
    m_inserts.clear();
    m_reads.clear();
    m_removeStatement = nullptr;
    m_removeTable.clear();
}

bool SqliteEngine::isConnected() const { return m_connected; }

void SqliteEngine::requireConnected() const {
    if (!m_connected) {
        throw Error(QStringLiteral("La connessione al database \"%1\" è chiusa").arg(location()));
    }
}

sqlite3_stmt* SqliteEngine::prepared(const QString& sql) {
    requireConnected();
    auto it = m_statements.constFind(sql);
    if (it != m_statements.constEnd()) return it.value();
    sqlite3_stmt* statement = nullptr;
    const int rc = sqlite3_prepare16_v3(m_db, sql.utf16(), int(sql.size() * sizeof(QChar)),
                                        SQLITE_PREPARE_PERSISTENT, &statement, nullptr);
    if (rc != SQLITE_OK || !statement) {
        const QString text = QString::fromUtf8(sqlite3_errmsg(m_db));
        sqlite3_finalize(statement);
        fail(QStringLiteral("Istruzione non accettata dal database"), text);
    }
    m_statements.insert(sql, statement);
    return statement;
}

void SqliteEngine::bindText(sqlite3_stmt* statement, int position, const QString& text) {
    // Bound without a copy: the caller keeps the text until the statement is
    // reset.
    if (sqlite3_bind_text16(statement, position, text.utf16(), int(text.size() * sizeof(QChar)),
                            SQLITE_STATIC) != SQLITE_OK) {
        const QString message = QString::fromUtf8(sqlite3_errmsg(m_db));
        sqlite3_reset(statement);
        sqlite3_clear_bindings(statement);
        fail(QStringLiteral("Valore non accettato dal database"), message);
    }
}

void SqliteEngine::bind(sqlite3_stmt* statement, int position, const QVariant& value) {
    int rc = SQLITE_OK;
    if (value.isNull()) {
        rc = sqlite3_bind_null(statement, position);
    } else {
        switch (value.typeId()) {
            case QMetaType::QString: {
                // The text stays alive, unchanged, until the statement is
                // reset: the caller holds it.
                const QString* s = static_cast<const QString*>(value.constData());
                rc = sqlite3_bind_text16(statement, position, s->utf16(),
                                         int(s->size() * sizeof(QChar)), SQLITE_STATIC);
                break;
            }
            case QMetaType::Int:
            case QMetaType::UInt:
            case QMetaType::Long:
            case QMetaType::LongLong:
            case QMetaType::Bool:
            case QMetaType::Short:
            case QMetaType::UShort:
                rc = sqlite3_bind_int64(statement, position, value.toLongLong());
                break;
            case QMetaType::ULong:
            case QMetaType::ULongLong:
                rc = sqlite3_bind_int64(statement, position, qint64(value.toULongLong()));
                break;
            case QMetaType::Double:
            case QMetaType::Float:
                rc = sqlite3_bind_double(statement, position, value.toDouble());
                break;
            case QMetaType::QByteArray: {
                const QByteArray* b = static_cast<const QByteArray*>(value.constData());
                rc = sqlite3_bind_blob(statement, position, b->constData(), int(b->size()),
                                       SQLITE_STATIC);
                break;
            }
            default: {
                const QString s = value.toString();
                rc = sqlite3_bind_text16(statement, position, s.utf16(),
                                         int(s.size() * sizeof(QChar)), SQLITE_TRANSIENT);
                break;
            }
        }
    }
    if (rc != SQLITE_OK) {
        const QString text = QString::fromUtf8(sqlite3_errmsg(m_db));
        sqlite3_reset(statement);
        sqlite3_clear_bindings(statement);
        fail(QStringLiteral("Valore non accettato dal database"), text);
    }
}

bool SqliteEngine::step(sqlite3_stmt* statement, const char* what, const QString& table) {
    const int rc = sqlite3_step(statement);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    const QString text = QString::fromUtf8(sqlite3_errmsg(m_db)).trimmed();
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    // The message is composed only when it is needed: statements run once
    // per row.
    QString message = QString::fromUtf8(what);
    if (!table.isEmpty()) message = message.arg(table);
    fail(message, text);
}

namespace {

// Ends a run of a statement however it is left: a statement not reset would
// keep the database open for reading.
class Done {
public:
    explicit Done(sqlite3_stmt* statement) : m_statement(statement) {}
    ~Done() {
        sqlite3_reset(m_statement);
        sqlite3_clear_bindings(m_statement);
    }
    Done(const Done&) = delete;
    Done& operator=(const Done&) = delete;

private:
    sqlite3_stmt* m_statement;
};

// The database keeps its texts in UTF-8: they are decoded here, at once,
// rather than converted by SQLite into a copy in UTF-16 first.
QString columnText(sqlite3_stmt* statement, int column) {
    const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    return QString::fromUtf8(data, sqlite3_column_bytes(statement, column));
}

// A column of the current result row, as Qt's SQLite driver gives it.
QVariant columnValue(sqlite3_stmt* statement, int column) {
    switch (sqlite3_column_type(statement, column)) {
        case SQLITE_INTEGER: return QVariant(qint64(sqlite3_column_int64(statement, column)));
        case SQLITE_FLOAT: return QVariant(sqlite3_column_double(statement, column));
        case SQLITE_NULL: return QVariant(QMetaType::fromType<QString>());
        case SQLITE_BLOB: {
            const void* data = sqlite3_column_blob(statement, column);
            return QVariant(QByteArray(static_cast<const char*>(data),
                                       sqlite3_column_bytes(statement, column)));
        }
        default: return QVariant(columnText(statement, column));
    }
}

}  // namespace

void SqliteEngine::checkTable(const QString& table) {
    if (m_knownTables.contains(table)) return;
    sqlite3_stmt* q = prepared(QStringLiteral(
        "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = ?"));
    bool exists = false;
    {
        Done done(q);
        bindText(q, 1, table);
        exists = step(q, "Impossibile leggere lo schema del database") &&
                 sqlite3_column_int64(q, 0) > 0;
    }
    if (!exists) {
        throw Error(QStringLiteral("La tabella \"%1\" non esiste nel database \"%2\"")
                        .arg(table, location()));
    }
    m_knownTables.insert(table, true);
}

QVector<EngineColumn> SqliteEngine::columns(const QString& table) {
    checkTable(table);
    sqlite3_stmt* q = prepared(QStringLiteral("SELECT name, type FROM pragma_table_info(?)"));
    Done done(q);
    bindText(q, 1, table);
    QVector<EngineColumn> result;
    while (step(q, "Impossibile leggere le colonne della tabella %1", table))
        result.push_back({columnText(q, 0), columnText(q, 1)});
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

void fetchRow(sqlite3_stmt* q, int columnCount, StoredRow* row) {
    row->id = sqlite3_column_int64(q, 0);
    row->values.resize(columnCount);
    QVariant* values = row->values.data();
    for (int i = 0; i < columnCount; ++i) values[i] = columnValue(q, i + 1);
}

}  // namespace

std::vector<StoredRow> SqliteEngine::read(const ReadRequest& request) {
    checkTable(request.table);
    // A detail table reads the same shape again for every row of its master.
    sqlite3_stmt* q = nullptr;
    for (const ReadShape& shape : m_reads) {
        if (shape.table == request.table && shape.columns == request.columns &&
            shape.orderColumn == request.orderColumn &&
            shape.filterColumn == request.filterColumn) {
            q = shape.statement;
            break;
        }
    }
    if (!q) q = prepareRead(request);
    Done done(q);
    if (!request.filterColumn.isEmpty()) bind(q, 1, request.filterValue);
    std::vector<StoredRow> rows;
    const int n = request.columns.size();
    while (step(q, "Impossibile leggere la tabella %1", request.table)) {
        rows.emplace_back();
        fetchRow(q, n, &rows.back());
    }
    return rows;
}

sqlite3_stmt* SqliteEngine::prepareRead(const ReadRequest& request) {
    QString sql = QStringLiteral("SELECT ") + selectList(request.columns) +
                  QStringLiteral(" FROM ") + quoteIdentifier(request.table);
    if (!request.filterColumn.isEmpty()) {
        sql += QStringLiteral(" WHERE ") + quoteIdentifier(request.filterColumn) +
               QStringLiteral(" = ?");
    }
    sql += QStringLiteral(" ORDER BY ");
    if (!request.orderColumn.isEmpty()) sql += quoteIdentifier(request.orderColumn) + QStringLiteral(", ");
    sql += QStringLiteral("rowid");
    sqlite3_stmt* q = prepared(sql);
    m_reads.push_back(
        {request.table, request.columns, request.orderColumn, request.filterColumn, q});
    return q;
}

bool SqliteEngine::readRow(const QString& table, const QStringList& columns, qint64 id,
                           StoredRow* row) {
    sqlite3_stmt* q = prepared(QStringLiteral("SELECT ") + selectList(columns) +
                               QStringLiteral(" FROM ") + quoteIdentifier(table) +
                               QStringLiteral(" WHERE rowid = ?"));
    Done done(q);
    sqlite3_bind_int64(q, 1, id);
    const bool found = step(q, "Impossibile rileggere una riga della tabella %1", table);
    if (found) fetchRow(q, columns.size(), row);
    return found;
}

qint64 SqliteEngine::insert(const QString& table, const QStringList& columns,
                            const QVector<QVariant>& values) {
    requireConnected();
    sqlite3_stmt* q = nullptr;
    for (const InsertShape& shape : m_inserts) {
        if (shape.table == table && shape.columns == columns) {
            q = shape.statement;
            break;
        }
    }
    if (!q) {
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
        q = prepared(sql);
        m_inserts.push_back({table, columns, q});
    }
    Done done(q);
    for (int i = 0; i < values.size(); ++i) bind(q, i + 1, values.at(i));
    step(q, "Impossibile salvare la nuova riga nella tabella %1", table);
    return sqlite3_last_insert_rowid(m_db);
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
    sqlite3_stmt* q = prepared(QStringLiteral("UPDATE ") + quoteIdentifier(table) +
                               QStringLiteral(" SET ") + sets.join(QStringLiteral(", ")) +
                               QStringLiteral(" WHERE ") + conditions.join(QStringLiteral(" AND ")));
    Done done(q);
    int position = 1;
    for (const QVariant& v : values) bind(q, position++, v);
    sqlite3_bind_int64(q, position++, id);
    for (const QVariant& v : expected) bind(q, position++, v);
    step(q, "Impossibile salvare la riga nella tabella %1", table);
    return sqlite3_changes(m_db) > 0;
}

void SqliteEngine::remove(const QString& table, qint64 id) {
    requireConnected();
    // The statement of the last table rows were deleted from is kept at
    // hand: emptying a table deletes its rows one after the other.
    if (!m_removeStatement || m_removeTable != table) {
        m_removeStatement = prepared(QStringLiteral("DELETE FROM ") + quoteIdentifier(table) +
                                     QStringLiteral(" WHERE rowid = ?"));
        m_removeTable = table;
    }
    sqlite3_stmt* q = m_removeStatement;
    Done done(q);
    sqlite3_bind_int64(q, 1, id);
    step(q, "Impossibile cancellare la riga dalla tabella %1", table);
}

void SqliteEngine::setRelaxedDurability(bool relaxed) {
    requireConnected();
    const QString what = QStringLiteral("Impossibile impostare il database");
    execPragma(relaxed ? QStringLiteral("PRAGMA synchronous=NORMAL")
                       : QStringLiteral("PRAGMA synchronous=FULL"),
               what);
    // The journal is copied back into the database every kCheckpointPages
    // pages, relaxed or not: spacing the checkpoints out (16384 pages was
    // tried) lets the journal outgrow what the system keeps in memory, and an
    // export of many small commits then takes longer, not shorter. The
    // journal file is cut back to kJournalSizeLimit bytes once it has been
    // copied back.
    execPragma(QStringLiteral("PRAGMA wal_autocheckpoint=%1").arg(kCheckpointPages), what);
    execPragma(QStringLiteral("PRAGMA journal_size_limit=%1").arg(kJournalSizeLimit), what);
    // Back to normal, what the relaxed commits left in the journal is copied
    // into the database now, with durability restored, rather than by
    // whichever commit comes next; the next write then starts the journal
    // afresh and cuts its file back. Readers in other copies of the program
    // are not waited for: what they still need stays for a later checkpoint.
    if (!relaxed) execPragma(QStringLiteral("PRAGMA wal_checkpoint(PASSIVE)"), what);
}

}  // namespace marvesa
