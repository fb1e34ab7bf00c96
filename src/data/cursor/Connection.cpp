#include "data/cursor/Connection.h"

#include "data/base/Error.h"
#include "data/cursor/DataSet.h"
#include "data/sql/EngineFactory.h"

namespace marvesa {

void Connection::setEngineFactory(
    std::function<std::unique_ptr<Engine>(const QString& path)> factory) {
    m_factory = std::move(factory);
}

void Connection::connect() {
    if (isConnected())
        return;
    // A new engine for every connect: the path may have changed since an
    // earlier attempt failed.
    m_engine = m_factory ? m_factory(m_path) : engineFor(m_path);
    m_engine->setBusyObserver(m_busyObserver);
    m_engine->connect();
    if (m_watch)
        m_engine->watchChanges(m_watch);
    if (m_watchRows)
        m_engine->watchRows(m_watchRows);
}

void Connection::watchChanges(std::function<void(const QStringList& tables)> changed) {
    m_watch = std::move(changed);
    if (m_engine)
        m_engine->watchChanges(m_watch);
}

void Connection::readAgainLater(const QString& table) {
    // Copies: a watcher may stop watching from inside.
    if (m_watchRows) {
        const auto watchRows = m_watchRows;
        CommittedChanges whole;
        whole.wholeTables << table;
        watchRows(whole);
    } else if (m_watch) {
        const auto watch = m_watch;
        watch(QStringList{table});
    }
}

void Connection::watchRows(std::function<void(const CommittedChanges& changes)> changed) {
    m_watchRows = std::move(changed);
    if (m_engine)
        m_engine->watchRows(m_watchRows);
}

void Connection::disconnect() {
    if (!isConnected())
        return;
    // A pending row is abandoned, never stored, when the connection closes.
    // Detail tables go first: cancelling a master announces
    // deCheckBrowseMode, which would make its detail post a changed row.
    const std::vector<DataSet*> dataSets = m_dataSets;
    for (const bool details : {true, false}) {
        for (DataSet* ds : dataSets) {
            if (ds->isEditing() && (ds->m_master != nullptr) == details)
                ds->cancel();
        }
    }
    m_engine->disconnect();
}

void Connection::setBusyObserver(BusyObserver* observer) {
    m_busyObserver = observer;
    if (m_engine)
        m_engine->setBusyObserver(observer);
}

Engine& Connection::engine() const {
    if (!isConnected()) {
        throw Error(QStringLiteral("%1: la connessione al database non è aperta").arg(m_name));
    }
    return *m_engine;
}

}  // namespace marvesa
