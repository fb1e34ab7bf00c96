#include "data/sql/QtSqlEngine.h"

#include <QAtomicInt>
#include <QElapsedTimer>
#include <QSqlError>
#include <QSqlRecord>
#include <algorithm>

#include "data/base/Error.h"
#include "data/base/Workstation.h"

namespace marvesa {

namespace {

// One counter for the connections of every engine, so that no two share a
// name.
QAtomicInt g_connectionCounter;

// Tells the observer of a wait, from its beginning to its end.
class BusyWait {
public:
    explicit BusyWait(BusyObserver* observer) : m_observer(observer) {
        if (m_observer)
            m_observer->busyWaitStarted();
    }
    ~BusyWait() {
        if (m_observer)
            m_observer->busyWaitEnded();
    }
    BusyWait(const BusyWait&) = delete;
    BusyWait& operator=(const BusyWait&) = delete;

private:
    BusyObserver* m_observer;
};

// Calls `onRow` with each row's values, in select-list order, until the
// rows end or it returns false; the query is finished however the reading
// ends, so that it holds no lock afterwards. Returns the error that stopped
// the reading, or an invalid QSqlError.
QSqlError forEachRow(QSqlQuery& query, const Engine::RowHandler& onRow) {
    struct Finish {
        QSqlQuery& query;
        ~Finish() { query.finish(); }
    } finish{query};
    QVector<QVariant> row(query.record().count());
    while (query.next()) {
        for (int i = 0; i < row.size(); ++i)
            row[i] = query.value(i);
        if (!onRow(row))
            return QSqlError();
    }
    return query.lastError();
}

}  // namespace

QtSqlEngine::QtSqlEngine()
    : m_connectionName(
          QStringLiteral("marvesa-%1").arg(g_connectionCounter.fetchAndAddRelaxed(1))) {}

QtSqlEngine::~QtSqlEngine() {
    // A derived engine disconnects in its own destructor, where its hooks
    // still run; this only makes sure that no connection outlives the engine.
    closeSecondConnections();
    if (!QSqlDatabase::contains(m_connectionName))
        return;
    m_statements.clear();
    {
        QSqlDatabase db = database();
        if (db.isOpen())
            db.close();
    }
    QSqlDatabase::removeDatabase(m_connectionName);
}

QSqlDatabase QtSqlEngine::database() const {
    return QSqlDatabase::database(m_connectionName, false);
}

void QtSqlEngine::fail(const QString& what, const QString& text) const {
    if (text.trimmed().isEmpty()) {
        throw Error(QStringLiteral("%1: il database non ha indicato la causa. Riprovare; se "
                                   "l'errore si ripete, avvisare chi gestisce il database "
                                   "(database \"%2\")")
                        .arg(what, location()));
    }
    throw Error(QStringLiteral("%1: %2 (database \"%3\")").arg(what, text, location()));
}

void QtSqlEngine::failWith(const QString& what, const QSqlError& error, bool ran) {
    const QString text = engineText(error);
    if (connectionLost()) {
        // A statement the server did not answer may or may not have been
        // done; an open transaction ended with the connection.
        m_lost = true;
        m_inTransaction = false;
        throw Error(lostConnectionMessage(ran), text);
    }
    if (isDiskFull(error)) {
        throw Error(QStringLiteral("%1: il disco del database \"%2\" è pieno. L'operazione non è "
                                   "stata eseguita e nulla è andato perduto: liberare spazio sul "
                                   "disco (o avvisare chi gestisce il database) e riprovare")
                        .arg(what, location()),
                    text);
    }
    fail(what, text);
}

QString QtSqlEngine::permissionDeniedMessage(const QString& what, const QString& text) const {
    return QStringLiteral(
               "%1: il ruolo con cui questa postazione accede al database \"%2\" non permette "
               "questa operazione, che non è stata eseguita (%3)")
        .arg(what, location(), text);
}

void QtSqlEngine::requireConnected() const {
    if (!m_connected) {
        throw Error(QStringLiteral("La connessione al database \"%1\" è chiusa").arg(location()));
    }
}

QString QtSqlEngine::lostConnectionMessage(bool) const {
    return QStringLiteral("Il collegamento con il database \"%1\" si è interrotto: riprovare")
        .arg(location());
}

// ------------------------------------------------------------------
// Opening and closing.

void QtSqlEngine::openDatabase() {
    QSqlDatabase db = QSqlDatabase::addDatabase(driverName(), m_connectionName);
    try {
        configure(db);
    } catch (...) {
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_connectionName);
        throw;
    }
    if (!db.open()) {
        const QSqlError error = db.lastError();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_connectionName);
        failOpening(error);
    }
}

void QtSqlEngine::identifyWorkstation() {
    requireConnected();
    const Workstation& who = Workstation::current();
    identify(who.account, who.computer);
}

void QtSqlEngine::runErasing(const std::function<void()>& work) {
    requireConnected();
    startErasing();
    struct Finish {
        QtSqlEngine& engine;
        ~Finish() { engine.finishErasing(); }
    } finish{*this};
    work();
}

void QtSqlEngine::openSession() {
    startSession();
    const Workstation& who = Workstation::current();
    identify(who.account, who.computer);
    for (const QString& sql : m_session) {
        QSqlQuery q(database());
        if (!q.exec(sql))
            failWith(QStringLiteral("Impossibile preparare la connessione"), q.lastError());
    }
}

void QtSqlEngine::connect() {
    if (m_connected)
        return;
    openDatabase();
    m_connected = true;
    m_lost = false;
    try {
        openSession();
    } catch (...) {
        disconnect();
        throw;
    }
}

void QtSqlEngine::reconnectIfLost() {
    if (!m_lost)
        return;
    // The server dropped the connection earlier: connect again. When it is
    // still away this fails, and the next statement tries once more.
    close();
    openDatabase();
    try {
        openSession();
    } catch (...) {
        close();
        throw;
    }
    m_lost = false;
}

void QtSqlEngine::close() {
    rollback();
    m_statements.clear();
    forgetSession();
    {
        QSqlDatabase db = database();
        if (db.isOpen())
            db.close();
    }
    QSqlDatabase::removeDatabase(m_connectionName);
}

void QtSqlEngine::disconnect() {
    closeSecondConnections();
    if (!m_connected && !QSqlDatabase::contains(m_connectionName))
        return;
    close();
    m_connected = false;
    m_lost = false;
}

std::shared_ptr<QtSqlEngine> QtSqlEngine::openSecondConnection(
    const QStringList& sessionStatements) {
    requireConnected();
    std::shared_ptr<QtSqlEngine> second = makeTwin();
    second->setBusyTimeout(m_busyTimeoutMs);
    second->setSessionStatements(sessionStatements);
    second->connect();
    m_secondConnections.erase(
        std::remove_if(m_secondConnections.begin(), m_secondConnections.end(),
                       [](const std::weak_ptr<QtSqlEngine>& c) { return c.expired(); }),
        m_secondConnections.end());
    m_secondConnections.push_back(second);
    return second;
}

void QtSqlEngine::closeSecondConnections() {
    for (const std::weak_ptr<QtSqlEngine>& c : m_secondConnections) {
        if (const std::shared_ptr<QtSqlEngine> second = c.lock())
            second->disconnect();
    }
    m_secondConnections.clear();
}

// ------------------------------------------------------------------
// Statements.

QSqlQuery& QtSqlEngine::prepared(const QString& sql, const QString& what) {
    requireConnected();
    reconnectIfLost();
    auto it = m_statements.find(sql);
    if (it == m_statements.end()) {
        QSqlQuery q(database());
        q.setForwardOnly(true);
        if (!q.prepare(sql)) {
            failWith(
                what.isEmpty() ? QStringLiteral("Istruzione non accettata dal database") : what,
                q.lastError(), false);
        }
        it = m_statements.insert(sql, q);
    }
    return it.value();
}

bool QtSqlEngine::runWaiting(QSqlQuery& query, const std::function<bool()>& attempt, int limitMs) {
    if (attempt())
        return true;
    if (!isBusy(query.lastError()) || !canWaitLonger())
        return false;
    const BusyWait wait(busyObserver());
    struct LongWait {
        QtSqlEngine& engine;
        ~LongWait() { engine.endLongWait(); }
    } longWait{*this};
    startLongWait(limitMs);
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < limitMs) {
        if (attempt())
            return true;
        if (!isBusy(query.lastError()))
            return false;
    }
    return false;
}

void QtSqlEngine::run(QSqlQuery& query, const QString& what, const QString& table) {
    if (!runWaiting(
            query, [&query] { return query.exec(); }, m_busyTimeoutMs)) {
        failStatement(query, what, table);
    }
}

void QtSqlEngine::failStatement(QSqlQuery& query, const QString& what, const QString& table) {
    const QSqlError error = query.lastError();
    query.finish();
    failError(error, what, table);
}

void QtSqlEngine::failError(const QSqlError& error, const QString& what, const QString& table) {
    const QString text = engineText(error);
    if (connectionLost())
        failWith(what, error);
    // Not the engine's own words: it speaks English.
    if (isBusy(error)) {
        busyWaitRanOut();
        throw Error(busyMessage());
    }
    // The message is composed only when it is needed: statements run once
    // per row.
    QString message = what;
    if (!table.isEmpty())
        message = message.arg(table);
    if (isPermissionDenied(error))
        throw Error(permissionDeniedMessage(message, text));
    QString index;
    if (isUniqueViolation(error, text, &index)) {
        throw UniqueViolation(
            QStringLiteral("%1: %2 (database \"%3\")").arg(message, text, location()), index);
    }
    failWith(message, error);
}

qint64 QtSqlEngine::exec(const QString& sql, const QVector<QVariant>& values) {
    return execPrepared(prepared(sql), values,
                        QStringLiteral("Istruzione non eseguita dal database"));
}

qint64 QtSqlEngine::exec(const QString& sql, const QVector<QVariant>& values, const QString& what) {
    return execPrepared(prepared(sql, what), values, what);
}

qint64 QtSqlEngine::execPrepared(QSqlQuery& q, const QVector<QVariant>& values,
                                 const QString& what) {
    for (const QVariant& v : values)
        q.addBindValue(v);
    run(q, what);
    const qint64 affected = q.numRowsAffected();
    q.finish();
    return affected;
}

void QtSqlEngine::select(const QString& sql, const QVector<QVariant>& values,
                         const RowHandler& onRow) {
    selectPrepared(prepared(sql), values, onRow, QStringLiteral("Impossibile leggere i dati"));
}

void QtSqlEngine::select(const QString& sql, const QVector<QVariant>& values,
                         const RowHandler& onRow, const QString& what) {
    selectPrepared(prepared(sql, what), values, onRow, what);
}

void QtSqlEngine::selectPrepared(QSqlQuery& q, const QVector<QVariant>& values,
                                 const RowHandler& onRow, const QString& what) {
    for (const QVariant& v : values)
        q.addBindValue(v);
    run(q, what);
    const QSqlError error = forEachRow(q, onRow);
    if (error.isValid())
        failWith(what, error);
}

void QtSqlEngine::execDirect(const QString& sql, const QString& what) {
    requireConnected();
    reconnectIfLost();
    QSqlQuery q(database());
    if (!runWaiting(
            q, [&] { return q.exec(sql); }, m_busyTimeoutMs))
        failStatement(q, what, {});
}

// ------------------------------------------------------------------
// Write transactions.

void QtSqlEngine::beginWrite(const QString& lockTable) {
    requireConnected();
    if (m_inTransaction) {
        throw Error(
            QStringLiteral("Una transazione è già aperta sul database \"%1\"").arg(location()));
    }
    checkTable(lockTable);  // connects again after a drop
    startTransaction(lockTable);
}

void QtSqlEngine::commit() {
    requireConnected();
    if (!m_inTransaction) {
        throw Error(
            QStringLiteral("Nessuna transazione aperta sul database \"%1\"").arg(location()));
    }
    QSqlQuery q(database());
    if (!q.exec(QStringLiteral("COMMIT"))) {
        const QSqlError error = q.lastError();
        rollback();
        failWith(QStringLiteral("Impossibile salvare le modifiche"), error);
    }
    m_inTransaction = false;
    transactionEnded();
}

void QtSqlEngine::rollback() {
    if (!m_inTransaction)
        return;
    m_inTransaction = false;
    if (!QSqlDatabase::contains(m_connectionName))
        return;
    if (connectionLost()) {
        // The server ended the transaction with the connection.
        m_lost = true;
        return;
    }
    QSqlDatabase db = database();
    if (!db.isOpen())
        return;
    // A statement still running would keep the transaction's locks.
    for (QSqlQuery& statement : m_statements)
        statement.finish();
    // The database may already have rolled back by itself after certain
    // errors (a full disk): the failure of this statement then means nothing.
    QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
    transactionEnded();
}

}  // namespace marvesa
