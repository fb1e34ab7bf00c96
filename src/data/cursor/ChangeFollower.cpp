#include "data/cursor/ChangeFollower.h"

#include <QtDebug>
#include <algorithm>

#include "data/cursor/DataSet.h"

namespace marvesa {

ChangeFollower::ChangeFollower() {
    m_retry.setSingleShot(true);
    m_retry.setInterval(kRetryMs);
    QObject::connect(&m_retry, &QTimer::timeout, [this] { applyWaiting(); });
}

ChangeFollower::~ChangeFollower() {
    stop();
}

void ChangeFollower::follow(DataSet* table, std::vector<DataSet*> waitsFor) {
    if (std::find(waitsFor.begin(), waitsFor.end(), table) == waitsFor.end()) {
        waitsFor.insert(waitsFor.begin(), table);
    }
    m_followed.push_back({table, std::move(waitsFor), false, {}});
}

void ChangeFollower::start(Connection& connection) {
    stop();
    m_connection = &connection;
    connection.watchRows([this](const CommittedChanges& changes) { rowsChanged(changes); });
}

void ChangeFollower::stop() {
    m_retry.stop();
    for (Followed& f : m_followed) {
        f.waiting = false;
        f.rows.clear();
    }
    if (!m_connection)
        return;
    Connection* connection = m_connection;
    m_connection = nullptr;
    connection->watchRows(nullptr);
}

void ChangeFollower::changed(const QStringList& tables) {
    for (Followed& f : m_followed) {
        if (tables.isEmpty() || tables.contains(f.table->tableName(), Qt::CaseInsensitive)) {
            f.waiting = true;
        }
    }
    applyWaiting();
}

void ChangeFollower::rowsChanged(const CommittedChanges& changes) {
    for (Followed& f : m_followed) {
        const QString& name = f.table->tableName();
        if (changes.everything || changes.wholeTables.contains(name, Qt::CaseInsensitive))
            f.waiting = true;
        if (f.waiting) {
            f.rows.clear();  // a whole reading shows them too
            continue;
        }
        for (const RowChange& c : changes.rows) {
            if (c.table.compare(name, Qt::CaseInsensitive) == 0)
                f.rows.push_back(c);
        }
        if (int(f.rows.size()) > kMostRows) {
            f.waiting = true;
            f.rows.clear();
        }
    }
    applyWaiting();
}

bool ChangeFollower::isWaiting() const {
    return std::any_of(m_followed.begin(), m_followed.end(),
                       [](const Followed& f) { return f.hasWork(); });
}

bool ChangeFollower::heldBack(const Followed& f) const {
    return std::any_of(f.waitsFor.begin(), f.waitsFor.end(),
                       [](const DataSet* t) { return t->isEditing(); });
}

void ChangeFollower::applyWaiting() {
    if (!isWaiting())
        return;
    if (!m_safe || m_safe()) {
        for (Followed& f : m_followed) {
            if (!f.hasWork() || heldBack(f))
                continue;
            const bool whole = f.waiting;
            std::vector<RowChange> rows;
            rows.swap(f.rows);
            f.waiting = false;
            // A closed table has nothing to show; it reads everything when
            // it opens again.
            if (!f.table->active())
                continue;
            try {
                if (whole)
                    f.table->reloadInPlace();
                else
                    f.table->applyRowChanges(rows);
            } catch (const std::exception& e) {
                // Tried again shortly, whole, with every table: a master
                // that moved may have left its detail half way.
                qWarning("%s", e.what());
                for (Followed& g : m_followed) {
                    g.waiting = true;
                    g.rows.clear();
                }
                break;
            }
        }
    }
    if (isWaiting())
        m_retry.start();
}

}  // namespace marvesa
