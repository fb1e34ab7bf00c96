#include "data/sql/PostgresEngine.h"

#include <libpq-fe.h>

#include <QAtomicInt>
#include <QRegularExpression>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlRecord>

#include "data/base/Error.h"
#include "data/sql/SqlRows.h"
#include "data/sql/SqlText.h"

namespace marvesa {

namespace {

QAtomicInt g_connectionCounter;

// The server's code for a statement that waited for a lock longer than
// lock_timeout.
const char* const kLockTimeout = "55P03";

// The kind the program gives a column, in the file database's vocabulary, so
// that tables read without declared columns get the same fields on both
// engines.
QString declaredTypeOf(const QString& serverType) {
    const QString t = serverType.toLower();
    if (t == QLatin1String("bigint") || t == QLatin1String("integer") ||
        t == QLatin1String("smallint")) {
        return QStringLiteral("INTEGER");
    }
    if (t.startsWith(QLatin1String("timestamp")) || t == QLatin1String("date")) {
        return QStringLiteral("DATETIME");
    }
    static const QRegularExpression varchar(QStringLiteral("^character varying\\((\\d+)\\)$"));
    static const QRegularExpression fixed(QStringLiteral("^character\\((\\d+)\\)$"));
    auto m = varchar.match(t);
    if (m.hasMatch()) return QStringLiteral("VARCHAR(%1)").arg(m.captured(1));
    m = fixed.match(t);
    if (m.hasMatch()) return QStringLiteral("CHAR(%1)").arg(m.captured(1));
    return QStringLiteral("TEXT");
}

bool isTextType(const QString& declaredType) {
    return declaredType.contains(QLatin1String("CHAR")) || declaredType == QLatin1String("TEXT");
}

}  // namespace

// ------------------------------------------------------------ PostgresEngine

PostgresEngine::PostgresEngine(QString connection)
    : m_address(connection),
      m_connectionName(QStringLiteral("marvesa-pg-%1").arg(g_connectionCounter.fetchAndAddRelaxed(1))) {}

PostgresEngine::~PostgresEngine() { disconnect(); }

QString PostgresEngine::location() const { return m_address.shortForm(); }

void PostgresEngine::fail(const QString& what, const QString& text) const {
    throw Error(QStringLiteral("%1: %2 (database \"%3\")").arg(what, text, location()));
}

QSqlDatabase PostgresEngine::database() const {
    return QSqlDatabase::database(m_connectionName, false);
}

void PostgresEngine::open() {
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), m_connectionName);
        if (!db.isValid()) {
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(m_connectionName);
            throw Error(QStringLiteral("Impossibile collegarsi al %1: il driver PostgreSQL di Qt "
                                       "(QPSQL) non è installato")
                            .arg(m_address.describe()));
        }
        try {
            m_address.configure(db);
        } catch (...) {
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(m_connectionName);
            throw;
        }
        if (!db.open()) {
            const QString text = engineText(db.lastError());
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(m_connectionName);
            throw Error(QStringLiteral("Impossibile collegarsi al %1: %2")
                            .arg(m_address.describe(), text));
        }
    }
    try {
        // Date-times are read as text in this one form.
        run(QStringLiteral("SET DateStyle TO ISO, YMD"),
            QStringLiteral("Impossibile preparare la connessione"));
        run(QStringLiteral("SET lock_timeout = %1").arg(kFirstLockWaitMs),
            QStringLiteral("Impossibile preparare la connessione"));
        // Every commit waits until the server has it on disk, whatever the
        // server's default.
        run(QStringLiteral("SET synchronous_commit TO on"),
            QStringLiteral("Impossibile preparare la connessione"));
        if (m_watch) subscribe();
    } catch (...) {
        close();
        throw;
    }
}

void PostgresEngine::close() {
    rollback();
    m_statements.clear();
    m_tables.clear();
    m_listener.reset();
    {
        QSqlDatabase db = database();
        if (db.isOpen()) db.close();
    }
    QSqlDatabase::removeDatabase(m_connectionName);
}

void PostgresEngine::connect() {
    if (m_connected) return;
    open();
    m_connected = true;
    m_lost = false;
}

void PostgresEngine::disconnect() {
    if (!m_connected && !QSqlDatabase::contains(m_connectionName)) return;
    close();
    m_connected = false;
    m_lost = false;
}

bool PostgresEngine::isConnected() const { return m_connected; }

bool PostgresEngine::connectionLost() const {
    const QSqlDatabase db = database();
    if (!db.isOpen()) return true;
    const QVariant handle = db.driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "PGconn*") != 0) return false;
    PGconn* conn = *static_cast<PGconn* const*>(handle.constData());
    return !conn || PQstatus(conn) == CONNECTION_BAD;
}

void PostgresEngine::run(const QString& sql, const QString& what) {
    QSqlQuery q(database());
    if (!q.exec(sql)) {
        const QString text = engineText(q.lastError());
        if (connectionLost()) m_lost = true;
        fail(what, text);
    }
}

QSqlQuery& PostgresEngine::prepared(const QString& sql) {
    if (!m_connected) {
        throw Error(QStringLiteral("La connessione al database \"%1\" è chiusa").arg(location()));
    }
    if (m_lost) {
        // The server dropped the connection earlier: connect again. When
        // the server is still away this fails, and the next statement tries
        // once more.
        close();
        open();
        m_lost = false;
    }
    auto it = m_statements.find(sql);
    if (it == m_statements.end()) {
        QSqlQuery q(database());
        q.setForwardOnly(true);
        if (!q.prepare(sql)) {
            const QString text = engineText(q.lastError());
            if (connectionLost()) {
                m_lost = true;
                throw Error(QStringLiteral("Il collegamento con il %1 si è interrotto: "
                                           "l'operazione non è stata eseguita. Riprovare: il "
                                           "collegamento viene ristabilito al prossimo tentativo "
                                           "(%2)")
                                .arg(m_address.describe(), text));
            }
            fail(QStringLiteral("Istruzione non accettata dal database"), text);
        }
        it = m_statements.insert(sql, q);
    }
    return it.value();
}

void PostgresEngine::exec(QSqlQuery& query, const char* what, const QString& table) {
    if (query.exec()) return;
    QSqlError error = query.lastError();
    if (error.nativeErrorCode() == QLatin1String(kLockTimeout) && !m_inTransaction) {
        // Another desk holds the row: wait for it, the observer told, as
        // long as the busy timeout allows.
        BusyObserver* observer = busyObserver();
        if (observer) observer->busyWaitStarted();
        QSqlQuery setting(database());
        setting.exec(QStringLiteral("SET lock_timeout = %1").arg(qMax(1, m_busyTimeoutMs)));
        const bool done = query.exec();
        if (!done) error = query.lastError();
        setting.exec(QStringLiteral("SET lock_timeout = %1").arg(kFirstLockWaitMs));
        if (observer) observer->busyWaitEnded();
        if (done) return;
    }
    const QString text = engineText(error);
    query.finish();
    if (connectionLost()) {
        // Nothing of this statement was done: in autocommit a statement the
        // server did not answer was not committed, and an open transaction
        // ended with the connection.
        m_lost = true;
        m_inTransaction = false;
        throw Error(QStringLiteral("Il collegamento con il %1 si è interrotto: l'operazione non "
                                   "è stata eseguita e i dati non sono stati salvati. Riprovare: "
                                   "il collegamento viene ristabilito al prossimo tentativo (%2)")
                        .arg(m_address.describe(), text));
    }
    if (error.nativeErrorCode() == QLatin1String(kLockTimeout)) {
        if (m_inTransaction) rollback();
        throw Error(busyMessage());
    }
    QString message = QString::fromUtf8(what);
    if (!table.isEmpty()) message = message.arg(table);
    if (error.nativeErrorCode() == QLatin1String("23505")) {
        static const QRegularExpression name(QStringLiteral("unique constraint \"([^\"]+)\""));
        throw UniqueViolation(
            QStringLiteral("%1: %2 (database \"%3\")").arg(message, text, location()),
            name.match(text).captured(1));
    }
    fail(message, text);
}

const PostgresEngine::TableInfo& PostgresEngine::table(const QString& name) {
    auto it = m_tables.find(name);
    if (it != m_tables.end()) return it.value();
    QSqlQuery& q = prepared(QStringLiteral(
        "SELECT a.attname, format_type(a.atttypid, a.atttypmod), a.attidentity <> '' "
        "FROM pg_attribute a WHERE a.attrelid = to_regclass(?) AND a.attnum > 0 "
        "AND NOT a.attisdropped ORDER BY a.attnum"));
    q.addBindValue(quoteIdentifier(name));
    exec(q, "Impossibile leggere le colonne della tabella %1", name);
    TableInfo info;
    while (q.next()) {
        const QString column = q.value(0).toString();
        const QString type = declaredTypeOf(q.value(1).toString());
        info.columns.push_back({column, type});
        info.serverTypes.insert(column, q.value(1).toString());
        if (type == QLatin1String("DATETIME")) info.timestamps.insert(column);
        if (q.value(2).toBool() && info.counter.isEmpty()) info.counter = column;
    }
    q.finish();
    if (info.columns.isEmpty()) {
        throw Error(QStringLiteral("La tabella \"%1\" non esiste nel database \"%2\"")
                        .arg(name, location()));
    }
    if (info.counter.isEmpty()) {
        throw Error(QStringLiteral("La tabella \"%1\" del database \"%2\" non ha una colonna "
                                   "contatore (identity)")
                        .arg(name, location()));
    }
    return m_tables.insert(name, info).value();
}

QVector<EngineColumn> PostgresEngine::columns(const QString& name) { return table(name).columns; }

QString PostgresEngine::selectList(const TableInfo& info, const QStringList& columns) const {
    QString s = quoteIdentifier(info.counter);
    for (const QString& c : columns) {
        s += QLatin1String(", ");
        s += quoteIdentifier(c);
        // Date-times come as text in the stored form ("yyyy-MM-dd HH:mm:ss"),
        // with no time zone put on them by the driver.
        if (info.timestamps.contains(c)) s += QLatin1String("::text");
    }
    return s;
}

namespace {

void fetchRow(const QSqlQuery& q, int columnCount, StoredRow* row) {
    row->id = q.value(0).toLongLong();
    row->values.resize(columnCount);
    for (int i = 0; i < columnCount; ++i) row->values[i] = q.value(i + 1);
}

}  // namespace

std::vector<StoredRow> PostgresEngine::read(const ReadRequest& request) {
    const TableInfo& info = table(request.table);
    QString sql = QStringLiteral("SELECT ") + selectList(info, request.columns) +
                  QStringLiteral(" FROM ") + quoteIdentifier(request.table);
    if (!request.filterColumn.isEmpty()) {
        sql += QStringLiteral(" WHERE ") + quoteIdentifier(request.filterColumn) +
               QStringLiteral(" = ?");
    }
    sql += QStringLiteral(" ORDER BY ");
    if (!request.orderColumn.isEmpty()) {
        // Texts in the order of their characters' codes, NULL first, as the
        // file database orders them, whatever the server's language.
        sql += quoteIdentifier(request.orderColumn);
        for (const EngineColumn& c : info.columns) {
            if (c.name == request.orderColumn && isTextType(c.declaredType)) {
                sql += QStringLiteral(" COLLATE \"C\"");
            }
        }
        sql += QStringLiteral(" NULLS FIRST, ");
    }
    sql += quoteIdentifier(info.counter);

    QSqlQuery& q = prepared(sql);
    if (!request.filterColumn.isEmpty()) q.addBindValue(request.filterValue);
    exec(q, "Impossibile leggere la tabella %1", request.table);
    std::vector<StoredRow> rows;
    if (q.size() > 0) rows.reserve(size_t(q.size()));
    const int n = request.columns.size();
    while (q.next()) {
        rows.emplace_back();
        fetchRow(q, n, &rows.back());
    }
    q.finish();
    return rows;
}

bool PostgresEngine::readRow(const QString& name, const QStringList& columns, qint64 id,
                             StoredRow* row) {
    const TableInfo& info = table(name);
    QSqlQuery& q = prepared(QStringLiteral("SELECT ") + selectList(info, columns) +
                            QStringLiteral(" FROM ") + quoteIdentifier(name) +
                            QStringLiteral(" WHERE ") + quoteIdentifier(info.counter) +
                            QStringLiteral(" = ?"));
    q.addBindValue(id);
    exec(q, "Impossibile rileggere una riga della tabella %1", name);
    const bool found = q.next();
    if (found) fetchRow(q, columns.size(), row);
    q.finish();
    return found;
}

qint64 PostgresEngine::insert(const QString& name, const QStringList& columns,
                              const QVector<QVariant>& values) {
    const TableInfo& info = table(name);
    QString sql = QStringLiteral("INSERT INTO ") + quoteIdentifier(name);
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
    sql += QStringLiteral(" RETURNING ") + quoteIdentifier(info.counter);
    QSqlQuery& q = prepared(sql);
    for (const QVariant& v : values) q.addBindValue(v);
    exec(q, "Impossibile salvare la nuova riga nella tabella %1", name);
    const qint64 id = q.next() ? q.value(0).toLongLong() : 0;
    q.finish();
    return id;
}

bool PostgresEngine::update(const QString& name, qint64 id, const QStringList& changed,
                            const QVector<QVariant>& values, const QStringList& checked,
                            const QVector<QVariant>& expected) {
    return updateRow(name, id, changed, values, checked, expected, nullptr);
}

void PostgresEngine::remove(const QString& name, qint64 id) {
    const TableInfo& info = table(name);
    QSqlQuery& q = prepared(QStringLiteral("DELETE FROM ") + quoteIdentifier(name) +
                            QStringLiteral(" WHERE ") + quoteIdentifier(info.counter) +
                            QStringLiteral(" = ?"));
    q.addBindValue(id);
    exec(q, "Impossibile cancellare la riga dalla tabella %1", name);
    q.finish();
}

namespace {

// The parent row exists, locked against deletion until the statement ends:
// a desk deleting it meanwhile waits, and one that deleted it first is seen.
QString parentExists(const ParentRow& parent) {
    return QStringLiteral("EXISTS (SELECT 1 FROM ") + quoteIdentifier(parent.table) +
           QStringLiteral(" WHERE ") + quoteIdentifier(parent.column) +
           QStringLiteral(" = ? FOR KEY SHARE)");
}

}  // namespace

std::optional<qint64> PostgresEngine::insertWithParent(const QString& name,
                                                       const QStringList& columns,
                                                       const QVector<QVariant>& values,
                                                       const ParentRow& parent) {
    const TableInfo& info = table(name);
    QStringList targets = columns;
    QStringList marks;
    for (const QString& c : columns) {
        // Typed, since a value in a SELECT list has no column to take its
        // type from.
        marks << QStringLiteral("CAST(? AS %1)").arg(info.serverTypes.value(c, QStringLiteral("text")));
    }
    if (targets.isEmpty()) {
        // A row of defaults: name one column that is not the counter.
        for (const EngineColumn& c : info.columns) {
            if (c.name != info.counter) {
                targets << c.name;
                marks << QStringLiteral("NULL");
                break;
            }
        }
    }
    QStringList quoted;
    for (const QString& c : targets) quoted << quoteIdentifier(c);
    QSqlQuery& q = prepared(QStringLiteral("INSERT INTO ") + quoteIdentifier(name) +
                            QStringLiteral(" (") + quoted.join(QStringLiteral(", ")) +
                            QStringLiteral(") SELECT ") + marks.join(QStringLiteral(", ")) +
                            QStringLiteral(" WHERE ") + parentExists(parent) +
                            QStringLiteral(" RETURNING ") + quoteIdentifier(info.counter));
    for (const QVariant& v : values) q.addBindValue(v);
    q.addBindValue(parent.value);
    exec(q, "Impossibile salvare la nuova riga nella tabella %1", name);
    std::optional<qint64> id;
    if (q.next()) id = q.value(0).toLongLong();
    q.finish();
    return id;
}

bool PostgresEngine::updateWithParent(const QString& name, qint64 id,
                                      const QStringList& changed,
                                      const QVector<QVariant>& values,
                                      const QStringList& checked,
                                      const QVector<QVariant>& expected,
                                      const ParentRow& parent) {
    return updateRow(name, id, changed, values, checked, expected, &parent);
}

bool PostgresEngine::updateRow(const QString& name, qint64 id, const QStringList& changed,
                               const QVector<QVariant>& values, const QStringList& checked,
                               const QVector<QVariant>& expected, const ParentRow* parent) {
    const TableInfo& info = table(name);
    // Nothing to store: a member kept unchanged is still refused once its
    // family unit is gone.
    if (changed.isEmpty()) return !parent || exists(*parent);
    QStringList sets, conditions;
    for (const QString& c : changed) sets << quoteIdentifier(c) + QStringLiteral(" = ?");
    conditions << quoteIdentifier(info.counter) + QStringLiteral(" = ?");
    // NULL read must still be NULL: NOT DISTINCT takes two NULLs as equal.
    for (const QString& c : checked) {
        conditions << quoteIdentifier(c) + QStringLiteral(" IS NOT DISTINCT FROM ?");
    }
    if (parent) conditions << parentExists(*parent);
    QSqlQuery& q = prepared(QStringLiteral("UPDATE ") + quoteIdentifier(name) +
                            QStringLiteral(" SET ") + sets.join(QStringLiteral(", ")) +
                            QStringLiteral(" WHERE ") + conditions.join(QStringLiteral(" AND ")));
    for (const QVariant& v : values) q.addBindValue(v);
    q.addBindValue(id);
    for (const QVariant& v : expected) q.addBindValue(v);
    if (parent) q.addBindValue(parent->value);
    exec(q, "Impossibile salvare la riga nella tabella %1", name);
    const int affected = q.numRowsAffected();
    q.finish();
    return affected > 0;
}

bool PostgresEngine::exists(const ParentRow& row) {
    table(row.table);
    QSqlQuery& q = prepared(QStringLiteral("SELECT 1 FROM ") + quoteIdentifier(row.table) +
                            QStringLiteral(" WHERE ") + quoteIdentifier(row.column) +
                            QStringLiteral(" = ? LIMIT 1"));
    q.addBindValue(row.value);
    exec(q, "Impossibile leggere la tabella %1", row.table);
    const bool found = q.next();
    q.finish();
    return found;
}

// ------------------------------------------------------------------
// Units of work and statements of the program's own.

void PostgresEngine::beginWrite(const QString& lockTable) {
    if (m_inTransaction) {
        throw Error(QStringLiteral("Una transazione è già aperta sul database \"%1\"")
                        .arg(location()));
    }
    const TableInfo& info = table(lockTable);  // connects again after a drop
    Q_UNUSED(info);
    run(QStringLiteral("BEGIN"), QStringLiteral("Impossibile iniziare la transazione"));
    m_inTransaction = true;
    // Another desk writing the table holds this lock until it commits: this
    // one waits here, before it has changed anything. Readers never wait.
    QSqlQuery q(database());
    if (!q.exec(QStringLiteral("SET LOCAL lock_timeout = %1").arg(kWriteWaitMs)) ||
        !q.exec(QStringLiteral("LOCK TABLE ") + quoteIdentifier(lockTable) +
                QStringLiteral(" IN SHARE ROW EXCLUSIVE MODE"))) {
        const QSqlError error = q.lastError();
        const QString text = engineText(error);
        const bool lost = connectionLost();
        rollback();
        if (lost) m_lost = true;
        if (error.nativeErrorCode() == QLatin1String("55P03")) {
            fail(QStringLiteral("Il database è occupato da un altro utente da più di %1 secondi: "
                                "riprovare più tardi")
                     .arg(kWriteWaitMs / 1000),
                 text);
        }
        fail(QStringLiteral("Impossibile iniziare la transazione"), text);
    }
}

void PostgresEngine::commit() {
    if (!m_inTransaction) {
        throw Error(QStringLiteral("Nessuna transazione aperta sul database \"%1\"")
                        .arg(location()));
    }
    QSqlQuery q(database());
    if (!q.exec(QStringLiteral("COMMIT"))) {
        const QString text = engineText(q.lastError());
        const bool lost = connectionLost();
        rollback();
        if (lost) m_lost = true;
        fail(QStringLiteral("Impossibile salvare le modifiche"), text);
    }
    m_inTransaction = false;
}

void PostgresEngine::rollback() {
    if (!m_inTransaction) return;
    m_inTransaction = false;
    if (!QSqlDatabase::contains(m_connectionName)) return;
    QSqlDatabase db = database();
    if (!db.isOpen() || connectionLost()) {
        // The server ended the transaction with the connection.
        m_lost = true;
        return;
    }
    QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
}

qint64 PostgresEngine::exec(const QString& sql, const QVector<QVariant>& values) {
    QSqlQuery& q = prepared(sql);
    for (const QVariant& v : values) q.addBindValue(v);
    exec(q, "Istruzione non eseguita dal database");
    const qint64 affected = q.numRowsAffected();
    q.finish();
    return affected;
}

void PostgresEngine::select(const QString& sql, const QVector<QVariant>& values,
                            const RowHandler& onRow) {
    QSqlQuery& q = prepared(sql);
    for (const QVariant& v : values) q.addBindValue(v);
    exec(q, "Impossibile leggere i dati");
    const QSqlError error = forEachRow(q, onRow);
    if (error.isValid()) fail(QStringLiteral("Impossibile leggere i dati"), engineText(error));
}

void PostgresEngine::subscribe() {
    QSqlDriver* driver = database().driver();
    m_listener = std::make_unique<QObject>();
    QObject::connect(driver, &QSqlDriver::notification, m_listener.get(),
                     [this](const QString& channel, QSqlDriver::NotificationSource source,
                            const QVariant& payload) {
                         if (source == QSqlDriver::SelfSource || !m_watch) return;
                         if (channel != QLatin1String(kChangeChannel)) return;
                         const QString table = payload.toString();
                         m_watch(table.isEmpty() ? QStringList() : QStringList{table});
                     });
    if (!driver->subscribedToNotifications().contains(QLatin1String(kChangeChannel)) &&
        !driver->subscribeToNotification(QLatin1String(kChangeChannel))) {
        fail(QStringLiteral("Impossibile seguire le modifiche delle altre postazioni"),
             engineText(driver->lastError()));
    }
}

void PostgresEngine::watchChanges(std::function<void(const QStringList& tables)> changed) {
    m_watch = std::move(changed);
    if (!m_connected || m_lost) return;  // subscribed when the connection opens
    if (m_watch) {
        if (!m_listener) subscribe();
    } else if (m_listener) {
        m_listener.reset();
        database().driver()->unsubscribeFromNotification(QLatin1String(kChangeChannel));
    }
}

}  // namespace marvesa
