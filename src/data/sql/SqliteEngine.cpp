#include "data/sql/SqliteEngine.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSqlError>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QtDebug>

#include "data/base/Error.h"
#include "data/schema/RecordHistory.h"
#include "data/schema/TableDefinitions.h"

namespace marvesa {

namespace {

// SQLite's primary result code of a failed statement.
int resultCode(const QSqlError& error) {
    return error.nativeErrorCode().toInt() & 0xFF;
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

}  // namespace

SqliteEngine::SqliteEngine(QString path) : m_path(std::move(path)) {}

SqliteEngine::~SqliteEngine() {
    disconnect();
}

QString SqliteEngine::location() const {
    return QDir::toNativeSeparators(QFileInfo(m_path).absoluteFilePath());
}

std::unique_ptr<QtSqlEngine> SqliteEngine::makeTwin() const {
    return std::make_unique<SqliteEngine>(m_path);
}

// SQLITE_BUSY, SQLITE_LOCKED: another connection holds the database.
bool SqliteEngine::isBusy(const QSqlError& error) const {
    const int code = resultCode(error);
    return code == 5 || code == 6;
}

// SQLITE_FULL: the disk (or the file's own limit) has no room left.
bool SqliteEngine::isDiskFull(const QSqlError& error) const {
    return resultCode(error) == 13;
}

bool SqliteEngine::keepsStatistics() {
    bool kept = false;
    select(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name = 'sqlite_stat1'"), {},
           [&](const QVector<QVariant>& row) {
               kept = row.value(0).toInt() > 0;
               return false;
           });
    return kept;
}

bool SqliteEngine::isUniqueViolation(const QSqlError&, const QString& text, QString* index) const {
    static const QLatin1String kUnique("UNIQUE constraint failed: ");
    if (!text.startsWith(kUnique))
        return false;
    *index = text.mid(kUnique.size());
    return true;
}

// ------------------------------------------------------------------
// Opening.

namespace {

QString notADatabase(const QString& location) {
    return QStringLiteral(
               "Impossibile aprire il database \"%1\": il file è vuoto e non è un database")
        .arg(location);
}

}  // namespace

void SqliteEngine::failOpening(const QSqlError& error) const {
    failOpening(QStringLiteral("Impossibile aprire il database"), error);
}

void SqliteEngine::failOpening(const QString& what, const QSqlError& error) const {
    if (isBusy(error))
        throw Error(busyMessage());
    if (isReadOnly(error)) {
        const QFileInfo info(m_path);
        const QFileInfo folder(info.absolutePath());
        // The shared journal lives beside the database: a folder nobody may
        // write into stops the database as surely as a read-only file.
        if (!folder.isWritable()) {
            throw Error(
                QStringLiteral("Impossibile aprire il database \"%1\": la cartella \"%2\" è "
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
    if (isConnected())
        return;
    const QFileInfo info(m_path);
    if (!info.exists()) {
        throw Error(QStringLiteral("Impossibile aprire il database: il file \"%1\" non esiste")
                        .arg(location()));
    }
    if (!info.isFile()) {
        throw Error(
            QStringLiteral("Impossibile aprire il database: \"%1\" non è un file").arg(location()));
    }
    if (!info.isReadable() || !info.isWritable()) {
        throw Error(QStringLiteral("Impossibile aprire il database \"%1\": il file è in sola "
                                   "lettura o non è accessibile")
                        .arg(location()));
    }
    // SQLite takes an empty file for a new database and would make one of
    // it; the program never creates a database.
    if (info.size() == 0)
        throw Error(notADatabase(location()));
    QtSqlEngine::connect();
    if ((m_changed || m_rowsChanged) && m_changePoll)
        m_changePoll->start();
}

void SqliteEngine::configure(QSqlDatabase& db) const {
    // mode=rw: open an existing file for reading and writing, never create one.
    QUrl url = QUrl::fromLocalFile(QFileInfo(m_path).absoluteFilePath());
    url.setQuery(QStringLiteral("mode=rw"));
    db.setDatabaseName(url.toString(QUrl::FullyEncoded));
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=%1")
                             .arg(qBound(0, busyTimeout(), kBusySliceMs)));
}

void SqliteEngine::startSession() {
    // The first statement reads the file's header: a file that is no
    // database fails here.
    QSqlQuery probe(database());
    const QString sql = QStringLiteral("SELECT count(*) FROM sqlite_master");
    if (!runWaiting(
            probe, [&] { return probe.exec(sql); }, busyTimeout())) {
        failOpening(QStringLiteral("Il file non è un database valido"), probe.lastError());
    }
    // A statement left open holds a read transaction, inside which a
    // database not yet in WAL mode cannot be switched to it.
    probe.finish();
    // A file emptied since it was looked at is still no database.
    if (!probe.exec(QStringLiteral("PRAGMA page_count")) || !probe.next() ||
        probe.value(0).toLongLong() == 0) {
        throw Error(notADatabase(location()));
    }
    probe.finish();
    execPragma(QStringLiteral("PRAGMA journal_mode=WAL"),
               QStringLiteral("Impossibile preparare il database alla condivisione"));
    execPragma(QStringLiteral("PRAGMA synchronous=FULL"),
               QStringLiteral("Impossibile preparare il database"));
    m_dataVersion = dataVersion();
    m_notesOwnChanges = false;
    m_lastChange = lastLoggedChange();
    if (m_rowsChanged) {
        try {
            noteOwnChanges();
        } catch (const std::exception& e) {
            // Tried again at the next poll.
            qWarning("%s", e.what());
        }
    }
    execPragma(QStringLiteral("PRAGMA journal_size_limit=%1").arg(kJournalSizeLimit),
               QStringLiteral("Impossibile preparare il database"));
}

void SqliteEngine::identify(const QString& account, const QString& computer) {
    // Only a database that keeps the history (a file of an earlier version
    // gets it from the data module, which then asks again).
    const QString what = QStringLiteral("Impossibile preparare lo storico delle modifiche");
    QSqlQuery q(database());
    if (!q.exec(QStringLiteral("SELECT count(*) FROM main.sqlite_master WHERE type = 'table' AND "
                               "name = 'TBL_STORICO'")))
        fail(what, engineText(q.lastError()));
    const bool keepsHistory = q.next() && q.value(0).toInt() > 0;
    q.finish();
    if (!keepsHistory)
        return;
    const schema::SessionStatements s = schema::historySessionStatements();
    const auto run = [&](const QString& sql) {
        if (!q.exec(sql))
            fail(what, engineText(q.lastError()));
    };
    for (const QString& sql : s.before)
        run(sql);
    if (!q.prepare(s.insert))
        fail(what, engineText(q.lastError()));
    q.addBindValue(account.isEmpty() ? QStringLiteral("?") : account);
    q.addBindValue(computer);
    if (!q.exec())
        fail(what, engineText(q.lastError()));
    for (const QString& sql : s.after)
        run(sql);
    q.finish();
}

void SqliteEngine::startErasing() {
    // Deleted and overwritten content is overwritten with zeros, freed pages
    // included, rather than left in the file's free space.
    execPragma(QStringLiteral("PRAGMA secure_delete = ON"),
               QStringLiteral("Impossibile preparare la cancellazione sicura"));
}

void SqliteEngine::finishErasing() {
    QSqlQuery q(database());
    q.exec(QStringLiteral("PRAGMA secure_delete = OFF"));
    // The journal written ahead still holds the pages as they were before:
    // written back into the file and cut to nothing. Another copy of the
    // program reading at this moment may hold it a little: tried for a few
    // seconds, then left to the next checkpoint.
    QElapsedTimer waited;
    waited.start();
    do {
        if (q.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)")) && q.next() &&
            q.value(0).toInt() == 0) {
            break;
        }
        q.finish();
        QThread::msleep(50);
    } while (waited.elapsed() < 3000);
    q.finish();
}

void SqliteEngine::execPragma(const QString& sql, const QString& what) {
    QSqlQuery q(database());
    if (!runWaiting(
            q, [&] { return q.exec(sql); }, busyTimeout()))
        failOpening(what, q.lastError());
}

void SqliteEngine::disconnect() {
    if (m_changePoll)
        m_changePoll->stop();
    QtSqlEngine::disconnect();
}

void SqliteEngine::forgetSession() {
    m_knownTables.clear();
    m_textColumns.clear();
    m_copyMethod.reset();
    m_notesOwnChanges = false;
}

// ------------------------------------------------------------------
// Tables and the words of the statements.

void SqliteEngine::checkTable(const QString& table) {
    if (m_knownTables.contains(table))
        return;
    QSqlQuery& q = prepared(
        QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = ?"));
    q.addBindValue(table);
    run(q, QStringLiteral("Impossibile leggere lo schema del database"));
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
    run(q, QStringLiteral("Impossibile leggere le colonne della tabella %1"), table);
    QVector<EngineColumn> result;
    while (q.next())
        result.push_back({q.value(0).toString(), q.value(1).toString()});
    q.finish();
    return result;
}

const QSet<QString>& SqliteEngine::textColumns(const QString& table) {
    auto it = m_textColumns.find(table);
    if (it != m_textColumns.end())
        return it.value();
    QSet<QString> text;
    for (const EngineColumn& c : columns(table)) {
        int width = 0;
        const FieldKind kind = fieldKindFromDeclaredType(c.declaredType, &width);
        if (kind == FieldKind::Text || kind == FieldKind::Memo)
            text.insert(c.name.toUpper());
    }
    return m_textColumns.insert(table, text).value();
}

QString SqliteEngine::selectColumn(const QString& table, const QString& column) {
    // A text column is read as the bytes it holds (storedValue()).
    if (textColumns(table).contains(column.toUpper())) {
        return QLatin1String("CAST(") + quoteIdentifier(column) + QLatin1String(" AS BLOB)");
    }
    return quoteIdentifier(column);
}

QVariant SqliteEngine::storedValue(QVariant value) const {
    if (value.typeId() != QMetaType::QByteArray || value.isNull())
        return value;
    // Valid UTF-8 becomes text; anything else stays the bytes it is, so that
    // it can be compared with what is stored.
    const QByteArray bytes = value.toByteArray();
    if (!bytes.isValidUtf8())
        return value;
    QString text = QString::fromUtf8(bytes);
    if (text.isNull())
        text = QStringLiteral("");
    return text;
}

QString SqliteEngine::stillHolds(const QString& table, const QString& column) {
    // "IS" compares NULL with NULL as equal. Text columns compare as the
    // bytes they hold, as they were read (selectColumn()), whether the value
    // read is text or bytes.
    if (textColumns(table).contains(column.toUpper())) {
        return QStringLiteral("CAST(") + quoteIdentifier(column) +
               QStringLiteral(" AS BLOB) IS CAST(? AS BLOB)");
    }
    return quoteIdentifier(column) + QStringLiteral(" IS ?");
}

// ------------------------------------------------------------------
// Write transactions.

void SqliteEngine::startTransaction(const QString&) {
    // IMMEDIATE takes the write lock at once: a second writer waits here,
    // before it has done anything, instead of failing at its first change.
    // A long export of another copy is waited for up to kWriteWaitMs, with
    // the busy observer told of the wait.
    QSqlQuery q(database());
    if (!runWaiting(
            q, [&q] { return q.exec(QStringLiteral("BEGIN IMMEDIATE")); },
            qMax(busyTimeout(), kWriteWaitMs))) {
        const QSqlError error = q.lastError();
        if (isBusy(error))
            throw Error(busyMessage());
        failWith(QStringLiteral("Impossibile iniziare la transazione"), error);
    }
    setInTransaction(true);
    QSqlQuery(database()).exec(QStringLiteral("PRAGMA cache_size=-%1").arg(kWriteCacheKiB));
}

void SqliteEngine::transactionEnded() {
    QSqlDatabase db = database();
    if (db.isOpen())
        QSqlQuery(db).exec(QStringLiteral("PRAGMA cache_size=-%1").arg(kReadCacheKiB));
}

// ------------------------------------------------------------------
// Changes by others.

qint64 SqliteEngine::dataVersion() {
    QSqlQuery& q = prepared(QStringLiteral("PRAGMA data_version"));
    run(q, QStringLiteral("Impossibile interrogare il database"));
    const qint64 version = q.next() ? q.value(0).toLongLong() : -1;
    // Finished at once: a statement left open would hold a read transaction.
    q.finish();
    return version;
}

void SqliteEngine::startPolling() {
    if (!m_changed && !m_rowsChanged) {
        if (m_changePoll)
            m_changePoll->stop();
        return;
    }
    if (!m_changePoll) {
        m_changePoll = std::make_unique<QTimer>();
        m_changePoll->setInterval(kChangePollMs);
        QObject::connect(m_changePoll.get(), &QTimer::timeout, [this] { pollChanges(); });
    }
    if (isConnected())
        m_changePoll->start();
}

void SqliteEngine::watchChanges(std::function<void(const QStringList& tables)> changed) {
    m_changed = std::move(changed);
    startPolling();
}

void SqliteEngine::watchRows(std::function<void(const CommittedChanges& changes)> changed) {
    m_rowsChanged = std::move(changed);
    if (m_rowsChanged && isConnected()) {
        try {
            noteOwnChanges();
        } catch (const std::exception& e) {
            // Tried again at the next poll; until then nothing is named.
            qWarning("%s", e.what());
        }
    }
    startPolling();
}

void SqliteEngine::pollChanges() {
    if (!isConnected() || (!m_changed && !m_rowsChanged))
        return;
    qint64 version = -1;
    CommittedChanges rows;
    try {
        version = dataVersion();
        if (version != m_dataVersion && m_rowsChanged)
            rows = readChangeLog();
    } catch (const std::exception& e) {
        // Asked again at the next tick.
        qWarning("%s", e.what());
        return;
    }
    if (version == m_dataVersion)
        return;
    m_dataVersion = version;
    // Copies: the watcher may stop watching, or start again, from inside.
    if (const auto changed = m_changed) {
        // By data_version alone SQLite does not tell which tables changed.
        changed(QStringList());
    }
    if (!rows.isEmpty()) {
        if (const auto rowsChanged = m_rowsChanged)
            rowsChanged(rows);
    }
}

// ------------------------------------------------------------------
// The change log.

namespace {

QString logTable() {
    return quoteIdentifier(schema::changeLog().name);
}

// The temporary table and trigger of a connection that note its own
// entries in the change log.
const char* const kOwnChanges = "marvesa_own_changes";
const char* const kNoteOwnChange = "marvesa_note_own_change";

}  // namespace

bool SqliteEngine::hasChangeLog() {
    QSqlQuery& q = prepared(
        QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = ?"));
    q.addBindValue(schema::changeLog().name);
    run(q, QStringLiteral("Impossibile leggere lo schema del database"));
    const bool found = q.next() && q.value(0).toInt() > 0;
    q.finish();
    return found;
}

qint64 SqliteEngine::lastLoggedChange() {
    if (!hasChangeLog())
        return 0;
    QSqlQuery& q =
        prepared(QStringLiteral("SELECT coalesce(max(\"ID_MODIFICA\"), 0) FROM ") + logTable());
    run(q, QStringLiteral("Impossibile leggere le modifiche delle altre postazioni"));
    const qint64 last = q.next() ? q.value(0).toLongLong() : 0;
    q.finish();
    return last;
}

bool SqliteEngine::noteOwnChanges() {
    if (m_notesOwnChanges)
        return true;
    // A database of an earlier version gets its log when it is upgraded,
    // after the connection is made.
    if (!hasChangeLog())
        return false;
    // TEMP: this connection's alone, gone when it closes; written within
    // the transaction of the commit that writes the entry.
    for (const QString& sql :
         {QStringLiteral("CREATE TEMP TABLE IF NOT EXISTS %1 (\"ID_MODIFICA\" INTEGER PRIMARY KEY)")
              .arg(quoteIdentifier(QLatin1String(kOwnChanges))),
          QStringLiteral("CREATE TEMP TRIGGER IF NOT EXISTS %1 AFTER INSERT ON main.%2 BEGIN "
                         "INSERT OR IGNORE INTO %3 VALUES (NEW.\"ID_MODIFICA\"); END")
              .arg(quoteIdentifier(QLatin1String(kNoteOwnChange)), logTable(),
                   quoteIdentifier(QLatin1String(kOwnChanges)))}) {
        execDirect(sql, QStringLiteral("Impossibile seguire le modifiche delle altre postazioni"));
    }
    m_notesOwnChanges = true;
    return true;
}

CommittedChanges SqliteEngine::readChangeLog() {
    CommittedChanges changes;
    if (!noteOwnChanges()) {
        // No log: which rows changed cannot be told.
        changes.everything = true;
        return changes;
    }
    const QString what = QStringLiteral("Impossibile leggere le modifiche delle altre postazioni");
    const QString own = QStringLiteral("temp.") + quoteIdentifier(QLatin1String(kOwnChanges));
    QSqlQuery& q = prepared(
        QStringLiteral("SELECT l.\"ID_MODIFICA\", l.\"TABELLA\", l.\"ID_RIGA\", "
                       "l.\"OPERAZIONE\", o.\"ID_MODIFICA\" IS NOT NULL FROM %1 l LEFT JOIN %2 o "
                       "ON o.\"ID_MODIFICA\" = l.\"ID_MODIFICA\" WHERE l.\"ID_MODIFICA\" > ? "
                       "ORDER BY l.\"ID_MODIFICA\"")
            .arg(logTable(), own),
        what);
    q.addBindValue(m_lastChange);
    run(q, what);
    qint64 last = m_lastChange;
    while (q.next()) {
        const qint64 number = q.value(0).toLongLong();
        // The entries follow each other without a gap; one missing was
        // pruned before this connection read it: it fell behind.
        if (number != last + 1)
            changes.everything = true;
        last = number;
        if (q.value(4).toBool() || changes.everything)
            continue;
        RowChange c;
        c.table = q.value(1).toString();
        c.id = q.value(2).toLongLong();
        const QString kind = q.value(3).toString();
        c.kind = kind == QLatin1String("I")   ? RowChange::Kind::Inserted
                 : kind == QLatin1String("D") ? RowChange::Kind::Deleted
                                              : RowChange::Kind::Updated;
        changes.rows.push_back(std::move(c));
    }
    const QSqlError error = q.lastError();
    q.finish();
    if (error.isValid())
        fail(what, engineText(error));
    if (changes.everything)
        changes.rows.clear();
    if (last != m_lastChange) {
        // Marked as seen only once forgotten: a failure here reads the same
        // entries again at the next poll.
        exec(QStringLiteral("DELETE FROM %1 WHERE \"ID_MODIFICA\" <= ?").arg(own), {last}, what);
        m_lastChange = last;
    }
    return changes;
}

}  // namespace marvesa
