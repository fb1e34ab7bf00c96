#include "data/sql/SqliteEngine.h"

#include <QAtomicInt>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlRecord>
#include <QTimer>
#include <QUrl>
#include <QtDebug>

#include "data/base/Error.h"
#include "data/sql/SqlRows.h"
#include "data/sql/SqlText.h"
#include "data/schema/TableDefinitions.h"

namespace marvesa {

namespace {

QAtomicInt g_connectionCounter;

// SQLite's primary result code of a failed statement.
int resultCode(const QSqlError& error) { return error.nativeErrorCode().toInt() & 0xFF; }

// SQLITE_BUSY, SQLITE_LOCKED: another connection holds the database.
bool isBusy(const QSqlError& error) {
    const int code = resultCode(error);
    return code == 5 || code == 6;
}

// SQLITE_READONLY, SQLITE_CANTOPEN: the file or its companions cannot be
// written or made.
bool isReadOnly(const QSqlError& error) {
    const int code = resultCode(error);
    return code == 8 || code == 14;
}

// How long SQLite itself waits at a time before a statement is tried again:
// short, so that the observer hears of a longer wait soon.
const int kBusySliceMs = 100;

// Tells the observer of a wait, from its beginning to its end.
class BusyWait {
public:
    explicit BusyWait(BusyObserver* observer) : m_observer(observer) {
        if (m_observer) m_observer->busyWaitStarted();
    }
    ~BusyWait() {
        if (m_observer) m_observer->busyWaitEnded();
    }
    BusyWait(const BusyWait&) = delete;
    BusyWait& operator=(const BusyWait&) = delete;

private:
    BusyObserver* m_observer;
};

}  // namespace

template <typename Attempt>
bool SqliteEngine::runWaiting(QSqlQuery& query, Attempt attempt) {
    if (attempt()) return true;
    if (!isBusy(query.lastError())) return false;
    const BusyWait wait(busyObserver());
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < m_busyTimeoutMs) {
        if (attempt()) return true;
        if (!isBusy(query.lastError())) return false;
    }
    return false;
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

void SqliteEngine::failOpening(const QString& what, const QSqlError& error) const {
    if (isBusy(error)) throw Error(busyMessage());
    if (isReadOnly(error)) {
        const QFileInfo info(m_path);
        const QFileInfo folder(info.absolutePath());
        // The shared journal lives beside the database: a folder nobody may
        // write into stops the database as surely as a read-only file.
        if (!folder.isWritable()) {
            throw Error(QStringLiteral("Impossibile aprire il database \"%1\": la cartella \"%2\" è "
                                       "in sola lettura. Il programma deve poter scrivere nella "
                                       "cartella del database")
                            .arg(location(), QDir::toNativeSeparators(folder.absoluteFilePath())));
        }
        throw Error(QStringLiteral("Impossibile aprire il database \"%1\": il file è in sola "
                                   "lettura o non è accessibile")
                        .arg(location()));
    }
    fail(what, engineText(error));
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
    // SQLite takes an empty file for a new database and would make one of
    // it; the program never creates a database.
    const QString notADatabase =
        QStringLiteral("Impossibile aprire il database \"%1\": il file è vuoto e non è un database")
            .arg(location());
    if (info.size() == 0) throw Error(notADatabase);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
        // mode=rw: open an existing file for reading and writing, never create one.
        QUrl url = QUrl::fromLocalFile(info.absoluteFilePath());
        url.setQuery(QStringLiteral("mode=rw"));
        db.setDatabaseName(url.toString(QUrl::FullyEncoded));
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=%1")
                                 .arg(qBound(0, m_busyTimeoutMs, kBusySliceMs)));
        if (!db.open()) {
            const QSqlError error = db.lastError();
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(m_connectionName);
            failOpening(QStringLiteral("Impossibile aprire il database"), error);
        }
    }
    m_connected = true;
    try {
        // The first statement reads the file's header: a file that is no
        // database fails here.
        QSqlQuery probe(QSqlDatabase::database(m_connectionName, false));
        const QString sql = QStringLiteral("SELECT count(*) FROM sqlite_master");
        if (!runWaiting(probe, [&] { return probe.exec(sql); })) {
            failOpening(QStringLiteral("Il file non è un database valido"), probe.lastError());
        }
        // A statement left open holds a read transaction, inside which a
        // database not yet in WAL mode cannot be switched to it.
        probe.finish();
        // A file emptied since it was looked at is still no database.
        if (!probe.exec(QStringLiteral("PRAGMA page_count")) || !probe.next() ||
            probe.value(0).toLongLong() == 0) {
            throw Error(notADatabase);
        }
        probe.finish();
        execPragma(QStringLiteral("PRAGMA journal_mode=WAL"),
                   QStringLiteral("Impossibile preparare il database alla condivisione"));
        execPragma(QStringLiteral("PRAGMA synchronous=FULL"),
                   QStringLiteral("Impossibile preparare il database"));
        m_dataVersion = dataVersion();
        execPragma(QStringLiteral("PRAGMA journal_size_limit=%1").arg(kJournalSizeLimit),
                   QStringLiteral("Impossibile preparare il database"));
    } catch (...) {
        disconnect();
        throw;
    }
    if (m_changed && m_changePoll) m_changePoll->start();
}

void SqliteEngine::execPragma(const QString& sql, const QString& what) {
    QSqlQuery q(QSqlDatabase::database(m_connectionName, false));
    if (!runWaiting(q, [&] { return q.exec(sql); })) failOpening(what, q.lastError());
}

void SqliteEngine::disconnect() {
    if (m_changePoll) m_changePoll->stop();
    if (!m_connected && !QSqlDatabase::contains(m_connectionName)) return;
    m_statements.clear();
    m_knownTables.clear();
    m_textColumns.clear();
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
    if (!runWaiting(query, [&] { return query.exec(); })) {
        const QSqlError error = query.lastError();
        query.finish();
        // Not the engine's own words: it speaks English.
        if (isBusy(error)) throw Error(busyMessage());
        const QString text = engineText(error);
        // The message is composed only when it is needed: statements run
        // once per row.
        QString message = QString::fromUtf8(what);
        if (!table.isEmpty()) message = message.arg(table);
        static const QLatin1String kUnique("UNIQUE constraint failed: ");
        if (text.startsWith(kUnique)) {
            throw UniqueViolation(
                QStringLiteral("%1: %2 (database \"%3\")").arg(message, text, location()),
                text.mid(kUnique.size()));
        }
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

const QSet<QString>& SqliteEngine::textColumns(const QString& table) {
    auto it = m_textColumns.find(table);
    if (it != m_textColumns.end()) return it.value();
    QSqlQuery& q = prepared(QStringLiteral("SELECT name, type FROM pragma_table_info(?)"));
    q.addBindValue(table);
    exec(q, "Impossibile leggere le colonne della tabella %1", table);
    QSet<QString> text;
    while (q.next()) {
        int width = 0;
        const FieldKind kind = fieldKindFromDeclaredType(q.value(1).toString(), &width);
        if (kind == FieldKind::Text || kind == FieldKind::Memo) {
            text.insert(q.value(0).toString().toUpper());
        }
    }
    q.finish();
    return m_textColumns.insert(table, text).value();
}

QString SqliteEngine::selectList(const QString& table, const QStringList& columns) {
    const QSet<QString>& text = textColumns(table);
    QString s;
    s.reserve(8 + columns.size() * 40);
    s += QLatin1String("rowid");
    for (const QString& c : columns) {
        s += QLatin1String(", ");
        // A text column is read as the bytes it holds (fetchRow()).
        if (text.contains(c.toUpper())) {
            s += QLatin1String("CAST(") + quoteIdentifier(c) + QLatin1String(" AS BLOB)");
        } else {
            s += quoteIdentifier(c);
        }
    }
    return s;
}

void SqliteEngine::fetchRow(const QSqlQuery& q, int columnCount, StoredRow* row) const {
    row->id = q.value(0).toLongLong();
    row->values.resize(columnCount);
    for (int i = 0; i < columnCount; ++i) {
        QVariant v = q.value(i + 1);
        if (v.typeId() == QMetaType::QByteArray && !v.isNull()) {
            // Valid UTF-8 becomes text; anything else stays the bytes it is,
            // so that it can be compared with what is stored.
            const QByteArray bytes = v.toByteArray();
            if (bytes.isValidUtf8()) {
                QString text = QString::fromUtf8(bytes);
                if (text.isNull()) text = QStringLiteral("");
                v = text;
            }
        }
        row->values[i] = std::move(v);
    }
}

std::vector<StoredRow> SqliteEngine::read(const ReadRequest& request) {
    checkTable(request.table);
    QString sql = QStringLiteral("SELECT ") + selectList(request.table, request.columns) +
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
        const QSqlError error = q.lastError();
        const QString text = engineText(error);
        q.finish();
        if (isBusy(error)) throw Error(busyMessage());
        fail(QStringLiteral("Impossibile leggere la tabella %1").arg(request.table), text);
    }
    q.finish();
    return rows;
}

bool SqliteEngine::readRow(const QString& table, const QStringList& columns, qint64 id,
                           StoredRow* row) {
    QSqlQuery& q = prepared(QStringLiteral("SELECT ") + selectList(table, columns) +
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
    return *insertRow(table, columns, values, nullptr);
}

std::optional<qint64> SqliteEngine::insertWithParent(const QString& table,
                                                     const QStringList& columns,
                                                     const QVector<QVariant>& values,
                                                     const ParentRow& parent) {
    return insertRow(table, columns, values, &parent);
}

namespace {

QString existsClause(const ParentRow& parent) {
    return QStringLiteral("EXISTS (SELECT 1 FROM ") + quoteIdentifier(parent.table) +
           QStringLiteral(" WHERE ") + quoteIdentifier(parent.column) + QStringLiteral(" = ?)");
}

}  // namespace

std::optional<qint64> SqliteEngine::insertRow(const QString& table, const QStringList& columns,
                                              const QVector<QVariant>& values,
                                              const ParentRow* parent) {
    QString sql;
    sql.reserve(32 + columns.size() * 28);
    sql += QLatin1String("INSERT INTO ");
    sql += quoteIdentifier(table);
    if (columns.isEmpty()) {
        // The counter alone, given by the database.
        sql += parent ? QLatin1String(" (rowid) SELECT NULL") : QLatin1String(" DEFAULT VALUES");
    } else {
        sql += QLatin1String(" (");
        for (int i = 0; i < columns.size(); ++i) {
            if (i > 0) sql += QLatin1String(", ");
            sql += quoteIdentifier(columns.at(i));
        }
        sql += parent ? QLatin1String(") SELECT ?") : QLatin1String(") VALUES (?");
        for (int i = 1; i < columns.size(); ++i) sql += QLatin1String(", ?");
        if (!parent) sql += QLatin1Char(')');
    }
    if (parent) sql += QStringLiteral(" WHERE ") + existsClause(*parent);
    QSqlQuery& q = prepared(sql);
    for (const QVariant& v : values) q.addBindValue(v);
    if (parent) q.addBindValue(parent->value);
    exec(q, "Impossibile salvare la nuova riga nella tabella %1", table);
    // Without its parent no row was stored, and the last counter is another row's.
    const bool stored = !parent || q.numRowsAffected() > 0;
    const qint64 id = q.lastInsertId().toLongLong();
    q.finish();
    if (!stored) return std::nullopt;
    return id;
}

bool SqliteEngine::update(const QString& table, qint64 id, const QStringList& changed,
                          const QVector<QVariant>& values, const QStringList& checked,
                          const QVector<QVariant>& expected) {
    return updateRow(table, id, changed, values, checked, expected, nullptr);
}

bool SqliteEngine::updateWithParent(const QString& table, qint64 id, const QStringList& changed,
                                    const QVector<QVariant>& values, const QStringList& checked,
                                    const QVector<QVariant>& expected, const ParentRow& parent) {
    return updateRow(table, id, changed, values, checked, expected, &parent);
}

bool SqliteEngine::updateRow(const QString& table, qint64 id, const QStringList& changed,
                             const QVector<QVariant>& values, const QStringList& checked,
                             const QVector<QVariant>& expected, const ParentRow* parent) {
    if (changed.isEmpty()) return true;
    const QSet<QString>& text = textColumns(table);
    QStringList sets, conditions;
    for (const QString& c : changed) sets << quoteIdentifier(c) + QStringLiteral(" = ?");
    conditions << QStringLiteral("rowid = ?");
    // "IS" compares NULL with NULL as equal, so a column read as NULL must
    // still be NULL. Text columns compare as the bytes they hold, as they
    // were read (selectList()), whether the value read is text or bytes.
    for (const QString& c : checked) {
        if (text.contains(c.toUpper())) {
            conditions << QStringLiteral("CAST(") + quoteIdentifier(c) +
                              QStringLiteral(" AS BLOB) IS CAST(? AS BLOB)");
        } else {
            conditions << quoteIdentifier(c) + QStringLiteral(" IS ?");
        }
    }
    if (parent) conditions << existsClause(*parent);
    QSqlQuery& q = prepared(QStringLiteral("UPDATE ") + quoteIdentifier(table) +
                            QStringLiteral(" SET ") + sets.join(QStringLiteral(", ")) +
                            QStringLiteral(" WHERE ") + conditions.join(QStringLiteral(" AND ")));
    for (const QVariant& v : values) q.addBindValue(v);
    q.addBindValue(id);
    for (const QVariant& v : expected) q.addBindValue(v);
    if (parent) q.addBindValue(parent->value);
    exec(q, "Impossibile salvare la riga nella tabella %1", table);
    const int affected = q.numRowsAffected();
    q.finish();
    return affected > 0;
}

bool SqliteEngine::exists(const ParentRow& row) {
    QSqlQuery& q = prepared(QStringLiteral("SELECT ") + existsClause(row));
    q.addBindValue(row.value);
    exec(q, "Impossibile leggere la tabella %1", row.table);
    const bool found = q.next() && q.value(0).toInt() != 0;
    q.finish();
    return found;
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

void SqliteEngine::beginWrite(const QString& lockTable) {
    requireConnected();
    if (m_inTransaction) {
        throw Error(QStringLiteral("Una transazione è già aperta sul database \"%1\"")
                        .arg(location()));
    }
    checkTable(lockTable);
    // IMMEDIATE takes the write lock at once: a second writer waits here,
    // before it has done anything, instead of failing at its first change.
    // A long export of another copy is waited for up to kWriteWaitMs, with
    // the busy observer told of the wait.
    QSqlQuery q(QSqlDatabase::database(m_connectionName, false));
    const auto begin = [&q] { return q.exec(QStringLiteral("BEGIN IMMEDIATE")); };
    bool begun = begin();
    if (!begun && isBusy(q.lastError())) {
        const BusyWait wait(busyObserver());
        QElapsedTimer waited;
        waited.start();
        const int limit = qMax(m_busyTimeoutMs, kWriteWaitMs);
        while (!begun && isBusy(q.lastError()) && waited.elapsed() < limit) begun = begin();
    }
    if (!begun) {
        const QSqlError error = q.lastError();
        if (isBusy(error)) throw Error(busyMessage());
        fail(QStringLiteral("Impossibile iniziare la transazione"), engineText(error));
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
    const QSqlError error = forEachRow(q, onRow);
    if (error.isValid()) fail(QStringLiteral("Impossibile leggere i dati"), engineText(error));
}

qint64 SqliteEngine::dataVersion() {
    QSqlQuery& q = prepared(QStringLiteral("PRAGMA data_version"));
    exec(q, "Impossibile interrogare il database");
    const qint64 version = q.next() ? q.value(0).toLongLong() : -1;
    // Finished at once: a statement left open would hold a read transaction.
    q.finish();
    return version;
}

void SqliteEngine::watchChanges(std::function<void(const QStringList& tables)> changed) {
    m_changed = std::move(changed);
    if (!m_changed) {
        if (m_changePoll) m_changePoll->stop();
        return;
    }
    if (!m_changePoll) {
        m_changePoll = std::make_unique<QTimer>();
        m_changePoll->setInterval(kChangePollMs);
        QObject::connect(m_changePoll.get(), &QTimer::timeout, [this] { pollChanges(); });
    }
    if (m_connected) m_changePoll->start();
}

void SqliteEngine::pollChanges() {
    if (!m_connected || !m_changed) return;
    qint64 version = -1;
    try {
        version = dataVersion();
    } catch (const std::exception& e) {
        // Asked again at the next tick.
        qWarning("%s", e.what());
        return;
    }
    if (version == m_dataVersion) return;
    m_dataVersion = version;
    // A copy: the watcher may stop watching, or start again, from inside.
    const auto changed = m_changed;
    // SQLite does not tell which tables changed.
    changed(QStringList());
}

}  // namespace marvesa
