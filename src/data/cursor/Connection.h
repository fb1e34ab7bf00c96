#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

#include "data/sql/Engine.h"

namespace marvesa {

class DataSet;

// The database connection the tables of the data module share.
class Connection {
public:
    explicit Connection(QString name) : m_name(std::move(name)) {}
    const QString& name() const { return m_name; }

    // The engine is built when the connection is made; a factory lets tests
    // and other platforms give their own.
    void setEngineFactory(std::function<std::unique_ptr<Engine>(const QString& path)> factory);
    void setDatabasePath(const QString& path) { m_path = path; }
    const QString& databasePath() const { return m_path; }

    void connect();
    // Abandons every pending row of the tables on this connection, then
    // closes it. Disconnecting a closed connection does nothing.
    void disconnect();
    bool isConnected() const { return m_engine && m_engine->isConnected(); }

    // The engine of the open connection; throws when there is none.
    Engine& engine() const;

    // Watches for what other connections commit (Engine::watchChanges), on
    // this engine and on the one a later connect makes. An empty function
    // stops watching.
    void watchChanges(std::function<void(const QStringList& tables)> changed);
    // The same row by row (Engine::watchRows).
    void watchRows(std::function<void(const CommittedChanges& changes)> changed);

    // Asks for `table` to be read again when it can be: a row was stored
    // but reading it back failed. Goes to the watcher of changes, which
    // reads the table again once it browses.
    void readAgainLater(const QString& table);

    // Hears of every wait for a database another copy of the program holds
    // (the window shows the wait cursor); given to each engine made.
    void setBusyObserver(BusyObserver* observer);
    BusyObserver* busyObserver() const { return m_busyObserver; }

private:
    friend class DataSet;
    QString m_name;
    QString m_path;
    std::function<std::unique_ptr<Engine>(const QString&)> m_factory;
    std::unique_ptr<Engine> m_engine;
    BusyObserver* m_busyObserver = nullptr;
    std::vector<DataSet*> m_dataSets;
    std::function<void(const QStringList&)> m_watch;
    std::function<void(const CommittedChanges&)> m_watchRows;
};

}  // namespace marvesa
