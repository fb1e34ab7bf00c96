#include "data/sql/PostgresEngine.h"

#include <libpq-fe.h>

#include <QRegularExpression>
#include <QSqlDriver>
#include <QSqlError>
#include <QTimer>

#include "data/base/Error.h"
#include "data/schema/RecordHistory.h"

namespace marvesa {

namespace {

// The server's code for a statement that waited for a lock longer than
// lock_timeout.
const char* const kLockTimeout = "55P03";

// The kind the program gives a column, in the file database's vocabulary, so
// that tables read without declared columns get the same fields on both
// engines.
QString declaredTypeOf(const QString& serverType, bool identity) {
    const QString t = serverType.toLower();
    if (t == QLatin1String("bigint") || t == QLatin1String("integer") ||
        t == QLatin1String("smallint")) {
        // The counter is INTEGER, any other whole number BIGINT.
        return identity ? QStringLiteral("INTEGER") : QStringLiteral("BIGINT");
    }
    if (t.startsWith(QLatin1String("timestamp")) || t == QLatin1String("date")) {
        return QStringLiteral("DATETIME");
    }
    static const QRegularExpression varchar(QStringLiteral("^character varying\\((\\d+)\\)$"));
    static const QRegularExpression fixed(QStringLiteral("^character\\((\\d+)\\)$"));
    auto m = varchar.match(t);
    if (m.hasMatch())
        return QStringLiteral("VARCHAR(%1)").arg(m.captured(1));
    m = fixed.match(t);
    if (m.hasMatch())
        return QStringLiteral("CHAR(%1)").arg(m.captured(1));
    return QStringLiteral("TEXT");
}

bool isTextType(const QString& declaredType) {
    return declaredType.contains(QLatin1String("CHAR")) || declaredType == QLatin1String("TEXT");
}

}  // namespace

PostgresEngine::PostgresEngine(QString connection)
    : m_connection(std::move(connection)), m_address(m_connection) {}

PostgresEngine::~PostgresEngine() {
    disconnect();
}

QString PostgresEngine::location() const {
    return m_address.shortForm();
}

std::unique_ptr<QtSqlEngine> PostgresEngine::makeTwin() const {
    return std::make_unique<PostgresEngine>(m_connection);
}

// ------------------------------------------------------------------
// Opening, and a connection the server dropped.

void PostgresEngine::configure(QSqlDatabase& db) const {
    if (!db.isValid()) {
        throw Error(QStringLiteral("Impossibile collegarsi al %1: il driver PostgreSQL di Qt "
                                   "(QPSQL) non è installato")
                        .arg(m_address.describe()));
    }
    m_address.configure(db);
}

namespace {

// What the operator reads when the server cannot be reached or refuses the
// desk, from libpq's own (English) words, which go into the detail.
QString openingCause(const QString& text) {
    const auto has = [&text](const char* words) {
        return text.contains(QLatin1String(words), Qt::CaseInsensitive);
    };
    if (has("password") || has("authentication") || has("pg_hba.conf") ||
        has("permission denied")) {
        return QStringLiteral(
            "il server non accetta l'utente o la password di questa postazione. Avvisare chi "
            "gestisce il server");
    }
    if (has("does not exist")) {
        return QStringLiteral(
            "il server non ha il database o l'utente indicato nelle impostazioni. Controllare "
            "le impostazioni o avvisare chi gestisce il server");
    }
    if (has("too many") || has("starting up") || has("shutting down") || has("recovery")) {
        return QStringLiteral(
            "il server non accetta collegamenti in questo momento. Nulla è andato perduto: "
            "riprovare tra qualche istante");
    }
    if (text.trimmed().isEmpty() || has("could not connect") || has("connection refused") ||
        has("no such file") || has("timeout") || has("could not translate") || has("unreachable") ||
        has("no route") || has("closed the connection") || has("connection to server")) {
        return QStringLiteral(
            "il server non risponde. Nulla è andato perduto: controllare che il server sia "
            "acceso e raggiungibile dalla rete e riprovare tra qualche istante");
    }
    return QStringLiteral(
        "il server ha rifiutato il collegamento. Riprovare; se l'errore si ripete, avvisare chi "
        "gestisce il server");
}

}  // namespace

void PostgresEngine::failOpening(const QSqlError& error) const {
    const QString text = m_address.withoutPassword(engineText(error));
    throw Error(QStringLiteral("Impossibile collegarsi al %1: %2")
                    .arg(m_address.describe(), openingCause(text)),
                text);
}

void PostgresEngine::runSetting(const QString& sql, const QString& what) {
    QSqlQuery q(database());
    if (!q.exec(sql))
        failWith(what, q.lastError());
}

void PostgresEngine::startSession() {
    const QString what = QStringLiteral("Impossibile preparare la connessione");
    // Date-times are read as text in this one form.
    runSetting(QStringLiteral("SET DateStyle TO ISO, YMD"), what);
    runSetting(QStringLiteral("SET lock_timeout = %1").arg(kFirstLockWaitMs), what);
    // Every commit waits until the server has it on disk, whatever the
    // server's default.
    runSetting(QStringLiteral("SET synchronous_commit TO on"), what);
    if (m_watch || m_watchRows) {
        subscribe();
        // Connected again after the connection went away: what the other
        // desks did meanwhile was announced to nobody here.
        if (m_hadSession && m_watchRows) {
            QTimer::singleShot(0, m_listener.get(), [this] {
                if (const auto watch = m_watchRows) {
                    CommittedChanges everything;
                    everything.everything = true;
                    watch(everything);
                }
            });
        }
    }
    m_hadSession = true;
}

void PostgresEngine::identify(const QString&, const QString& computer) {
    // The server knows the login (session_user) and the address; the
    // computer's name goes with the connection's application name, which
    // the history's trigger reads (ASCII, at most 63 bytes).
    QString name = QString::fromLatin1(schema::kApplicationNamePrefix) + computer;
    for (QChar& c : name) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7E)
            c = QLatin1Char('?');
    }
    QSqlQuery q(database());
    if (!q.prepare(QStringLiteral("SELECT set_config('application_name', ?, false)")))
        fail(QStringLiteral("Impossibile preparare la connessione"), engineText(q.lastError()));
    q.addBindValue(name.left(63));
    if (!q.exec()) {
        const QString text = engineText(q.lastError());
        if (connectionLost())
            markLost();
        fail(QStringLiteral("Impossibile preparare la connessione"), text);
    }
    q.finish();
}

void PostgresEngine::forgetSession() {
    m_tables.clear();
    m_listener.reset();
}

bool PostgresEngine::connectionLost() const {
    if (!database().isOpen())
        return true;
    PGconn* conn = connectionHandle();
    return conn && PQstatus(conn) == CONNECTION_BAD;
}

PGconn* PostgresEngine::connectionHandle() const {
    const QSqlDatabase db = database();
    if (!db.isValid() || !db.driver())
        return nullptr;
    // Qt names the handle's type as the compiler does: "pg_conn*", the
    // structure PGconn stands for ("PGconn*" in older versions).
    const QVariant handle = db.driver()->handle();
    if (!handle.isValid() ||
        (qstrcmp(handle.typeName(), "pg_conn*") != 0 && qstrcmp(handle.typeName(), "PGconn*") != 0))
        return nullptr;
    return *static_cast<PGconn* const*>(handle.constData());
}

void PostgresEngine::drainResults(PGconn* conn) {
    // The driver leaves the end of a statement's results unread until the
    // next statement.
    if (PQtransactionStatus(conn) != PQTRANS_ACTIVE)
        return;
    while (PGresult* rest = PQgetResult(conn))
        PQclear(rest);
}

QString PostgresEngine::lostConnectionMessage(bool ran) const {
    if (!ran) {
        return QStringLiteral(
                   "Il collegamento con il %1 si è interrotto: l'operazione non è "
                   "stata eseguita. Riprovare: il collegamento viene ristabilito al "
                   "prossimo tentativo")
            .arg(m_address.describe());
    }
    // Whether the server did the statement before the connection went is
    // not known; a row stored by it is found again by its key, never stored
    // twice, at the next "Salva".
    return QStringLiteral(
               "Il collegamento con il %1 si è interrotto prima della risposta del server. Nulla "
               "è andato perduto: quanto scritto resta nella finestra. Riprovare: il collegamento "
               "viene ristabilito al prossimo tentativo e una riga già salvata non viene salvata "
               "una seconda volta")
        .arg(m_address.describe());
}

bool PostgresEngine::isDiskFull(const QSqlError& error) const {
    // disk_full
    return error.nativeErrorCode() == QLatin1String("53100");
}

// ------------------------------------------------------------------
// Waiting for another desk, and failures.

bool PostgresEngine::isBusy(const QSqlError& error) const {
    return error.nativeErrorCode() == QLatin1String(kLockTimeout);
}

void PostgresEngine::startLongWait(int milliseconds) {
    // Another desk holds the row: wait for it as long as the busy timeout
    // allows. (Inside a transaction the failed statement has ended it: no
    // second try there.)
    QSqlQuery(database()).exec(QStringLiteral("SET lock_timeout = %1").arg(qMax(1, milliseconds)));
}

void PostgresEngine::endLongWait() {
    QSqlQuery(database()).exec(QStringLiteral("SET lock_timeout = %1").arg(kFirstLockWaitMs));
}

void PostgresEngine::busyWaitRanOut() {
    // The server has ended the transaction with the failed statement.
    if (inTransaction())
        rollback();
}

bool PostgresEngine::isUniqueViolation(const QSqlError& error, const QString& text,
                                       QString* index) const {
    if (error.nativeErrorCode() != QLatin1String("23505"))
        return false;
    static const QRegularExpression name(QStringLiteral("unique constraint \"([^\"]+)\""));
    *index = name.match(text).captured(1);
    return true;
}

bool PostgresEngine::isPermissionDenied(const QSqlError& error) const {
    // insufficient_privilege: a table the role may not change, a history
    // event only the administrator may record.
    return error.nativeErrorCode() == QLatin1String("42501");
}

// ------------------------------------------------------------------
// Tables and the words of the statements.

const PostgresEngine::TableInfo& PostgresEngine::table(const QString& name) {
    auto it = m_tables.find(name);
    if (it != m_tables.end())
        return it.value();
    QSqlQuery& q = prepared(QStringLiteral(
        "SELECT a.attname, format_type(a.atttypid, a.atttypmod), a.attidentity <> '' "
        "FROM pg_attribute a WHERE a.attrelid = to_regclass(?) AND a.attnum > 0 "
        "AND NOT a.attisdropped ORDER BY a.attnum"));
    q.addBindValue(quoteIdentifier(name));
    run(q, QStringLiteral("Impossibile leggere le colonne della tabella %1"), name);
    TableInfo info;
    while (q.next()) {
        const QString column = q.value(0).toString();
        const QString type = declaredTypeOf(q.value(1).toString(), q.value(2).toBool());
        info.columns.push_back({column, type});
        info.serverTypes.insert(column, q.value(1).toString());
        if (type == QLatin1String("DATETIME"))
            info.timestamps.insert(column);
        if (isTextType(type))
            info.texts.insert(column);
        if (q.value(2).toBool() && info.counter.isEmpty())
            info.counter = column;
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

QVector<EngineColumn> PostgresEngine::columns(const QString& name) {
    return table(name).columns;
}

QString PostgresEngine::counterColumn(const QString& name) {
    return quoteIdentifier(table(name).counter);
}

QString PostgresEngine::selectColumn(const QString& name, const QString& column) {
    // Date-times come as text in the stored form ("yyyy-MM-dd HH:mm:ss"),
    // with no time zone put on them by the driver.
    if (table(name).timestamps.contains(column)) {
        return quoteIdentifier(column) + QLatin1String("::text");
    }
    return quoteIdentifier(column);
}

QString PostgresEngine::orderColumn(const QString& name, const QString& column) {
    // Texts in the order of their characters' codes, NULL first, as the
    // file database orders them, whatever the server's language.
    QString order = quoteIdentifier(column);
    if (table(name).texts.contains(column))
        order += QStringLiteral(" COLLATE \"C\"");
    return order + QStringLiteral(" NULLS FIRST");
}

QString PostgresEngine::stillHolds(const QString&, const QString& column) {
    // NOT DISTINCT takes two NULLs as equal.
    return quoteIdentifier(column) + QStringLiteral(" IS NOT DISTINCT FROM ?");
}

QString PostgresEngine::selectedValue(const QString& name, const QString& column) {
    return QStringLiteral("CAST(? AS %1)")
        .arg(table(name).serverTypes.value(column, QStringLiteral("text")));
}

QString PostgresEngine::defaultRowColumn(const QString& name) {
    // A column that is not the counter, to hold its default.
    const TableInfo& info = table(name);
    for (const EngineColumn& c : info.columns) {
        if (c.name != info.counter)
            return quoteIdentifier(c.name);
    }
    return quoteIdentifier(info.counter);
}

// ------------------------------------------------------------------
// Write transactions.

void PostgresEngine::startTransaction(const QString& lockTable) {
    runSetting(QStringLiteral("BEGIN"), QStringLiteral("Impossibile iniziare la transazione"));
    setInTransaction(true);
    // Another desk writing the table holds this lock until it commits: this
    // one waits here, before it has changed anything. Readers never wait.
    QSqlQuery q(database());
    if (!q.exec(QStringLiteral("SET LOCAL lock_timeout = %1").arg(kWriteWaitMs)) ||
        !q.exec(QStringLiteral("LOCK TABLE ") + quoteIdentifier(lockTable) +
                QStringLiteral(" IN SHARE ROW EXCLUSIVE MODE"))) {
        const QSqlError error = q.lastError();
        rollback();
        if (isBusy(error)) {
            fail(QStringLiteral("Il database è occupato da un altro utente da più di %1 secondi: "
                                "riprovare più tardi")
                     .arg(kWriteWaitMs / 1000),
                 engineText(error));
        }
        // A role that may not change the table may not lock it either.
        if (isPermissionDenied(error)) {
            throw Error(permissionDeniedMessage(
                QStringLiteral("Impossibile iniziare la transazione"), engineText(error)));
        }
        failWith(QStringLiteral("Impossibile iniziare la transazione"), error);
    }
}

// ------------------------------------------------------------------
// Changes by other desks.

CommittedChanges PostgresEngine::readNotice(const QString& payload) {
    CommittedChanges changes;
    const QStringList parts = payload.split(QLatin1Char(':'));
    const QString& table = parts.first();
    if (table.isEmpty()) {
        changes.everything = true;
        return changes;
    }
    if (parts.size() != 3 || parts[1].size() != 1) {
        changes.wholeTables << table;
        return changes;
    }
    const QChar op = parts[1].front();
    const RowChange::Kind kind = op == QLatin1Char('I')   ? RowChange::Kind::Inserted
                                 : op == QLatin1Char('D') ? RowChange::Kind::Deleted
                                                          : RowChange::Kind::Updated;
    for (const QStringView id : QStringView(parts[2]).split(QLatin1Char(','))) {
        bool ok = false;
        const qint64 n = id.toLongLong(&ok);
        if (!ok) {
            changes.rows.clear();
            changes.wholeTables << table;
            return changes;
        }
        changes.rows.push_back({table, n, kind});
    }
    return changes;
}

void PostgresEngine::heard(const QString& channel, bool own, const QString& payload) {
    if (own || channel != QLatin1String(kChangeChannel))
        return;
    const CommittedChanges changes = readNotice(payload);
    // Copies: a watcher may stop watching from inside.
    if (const auto watch = m_watch) {
        watch(changes.everything ? QStringList()
                                 : QStringList{payload.section(QLatin1Char(':'), 0, 0)});
    }
    if (const auto watchRows = m_watchRows)
        watchRows(changes);
}

void PostgresEngine::takeWaitingNotices() {
    if (!isConnected() || reconnectPending() || m_copying)
        return;
    PGconn* conn = connectionHandle();
    if (!conn || PQstatus(conn) != CONNECTION_OK)
        return;
    PQconsumeInput(conn);
    // The driver leaves the end of a statement's results unread until the
    // next statement; the library reads no notice past it. Read here, as
    // far as it has arrived: never waiting, and never while a statement of
    // this connection is still running (its results are all in by then).
    if (PQtransactionStatus(conn) == PQTRANS_ACTIVE) {
        while (!PQisBusy(conn)) {
            PGresult* rest = PQgetResult(conn);
            if (!rest)
                break;
            PQclear(rest);
        }
    }
    while (PGnotify* notice = PQnotifies(conn)) {
        const QString channel = QString::fromUtf8(notice->relname);
        const bool own = notice->be_pid == PQbackendPID(conn);
        const QString payload = QString::fromUtf8(notice->extra);
        PQfreemem(notice);
        heard(channel, own, payload);
    }
}

void PostgresEngine::subscribe() {
    QSqlDriver* driver = database().driver();
    m_listener = std::make_unique<QObject>();
    QObject::connect(
        driver, &QSqlDriver::notification, m_listener.get(),
        [this](const QString& channel, QSqlDriver::NotificationSource source,
               const QVariant& payload) {
            heard(channel, source == QSqlDriver::SelfSource, payload.toString());
        },
        // Heard once the driver has done with the notification:
        // what the watcher does may connect again, which
        // replaces the driver that is still reading it.
        Qt::QueuedConnection);
    // The driver takes notices in when its socket turns readable, but one
    // that arrives after a statement whose results it has not read to their
    // end waits in the client library until the connection's next
    // statement. Taken from the library on a timer, it waits no longer.
    auto* poll = new QTimer(m_listener.get());
    poll->setInterval(kNoticePollMs);
    QObject::connect(poll, &QTimer::timeout, m_listener.get(), [this] { takeWaitingNotices(); });
    poll->start();
    if (!driver->subscribedToNotifications().contains(QLatin1String(kChangeChannel)) &&
        !driver->subscribeToNotification(QLatin1String(kChangeChannel))) {
        fail(QStringLiteral("Impossibile seguire le modifiche delle altre postazioni"),
             engineText(driver->lastError()));
    }
}

void PostgresEngine::watchChanges(std::function<void(const QStringList& tables)> changed) {
    m_watch = std::move(changed);
    listen();
}

void PostgresEngine::watchRows(std::function<void(const CommittedChanges& changes)> changed) {
    m_watchRows = std::move(changed);
    listen();
}

void PostgresEngine::listen() {
    // Otherwise subscribed when the connection opens.
    if (!isConnected() || reconnectPending())
        return;
    if (m_watch || m_watchRows) {
        if (!m_listener)
            subscribe();
    } else if (m_listener) {
        m_listener.reset();
        database().driver()->unsubscribeFromNotification(QLatin1String(kChangeChannel));
    }
}

}  // namespace marvesa
