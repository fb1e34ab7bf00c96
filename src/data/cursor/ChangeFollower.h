#pragma once

#include <QStringList>
#include <QTimer>
#include <functional>
#include <vector>

#include "data/sql/CommittedChanges.h"

namespace marvesa {

class Connection;
class DataSet;

// Keeps browsing tables showing what other desks (other copies of the
// program, other data modules) store and delete: when the connection reports
// which rows another connection inserted, changed or deleted, each followed
// table reads those rows again in place, keeping its current row
// (DataSet::applyRowChanges); a table whose rows the connection cannot name,
// or with more than kMostRows of them waiting, reads its rows again whole
// (DataSet::reloadInPlace).
//
// A change is only applied when it is safe, otherwise it waits and is
// applied as soon as it is:
// - a table that is being edited, or whose rows decide what a table being
//   edited shows (the family units of a member being edited), waits until
//   that edit is stored or abandoned;
// - nothing is applied while the window says it is busy (a command running,
//   a message box open), so that a row asked about in a box is still the
//   row the answer acts on.
class ChangeFollower {
public:
    ChangeFollower();
    ~ChangeFollower();
    ChangeFollower(const ChangeFollower&) = delete;
    ChangeFollower& operator=(const ChangeFollower&) = delete;

    // Follows `table`, applied in the order tables are added: a master
    // before its detail. `waitsFor` are the tables whose edit holds back
    // this one (the table itself always does).
    void follow(DataSet* table, std::vector<DataSet*> waitsFor = {});

    // Starts and stops watching the connection; stop() also forgets what
    // was waiting.
    void start(Connection& connection);
    void stop();
    bool isWatching() const { return m_connection != nullptr; }

    // Whether changes may be applied now; always, unless set.
    void setSafeToApply(std::function<bool()> safe) { m_safe = std::move(safe); }

    // The connection reported a change in `tables` (all followed tables when
    // empty), to be read whole: applied now if safe, otherwise marked as
    // waiting.
    void changed(const QStringList& tables);
    // The connection reported these changes: the same, row by row where it
    // named the rows.
    void rowsChanged(const CommittedChanges& changes);
    // Applies what is waiting, as far as it is safe now.
    void applyWaiting();
    bool isWaiting() const;

    // How often waiting changes are tried again.
    static constexpr int kRetryMs = 200;
    // Past this many rows waiting, a table reads its rows whole: one
    // statement instead of one per row.
    static constexpr int kMostRows = 400;

private:
    struct Followed {
        DataSet* table;
        std::vector<DataSet*> waitsFor;
        bool waiting = false;         // to be read whole
        std::vector<RowChange> rows;  // to be read row by row
        bool hasWork() const { return waiting || !rows.empty(); }
    };
    bool heldBack(const Followed& f) const;

    std::vector<Followed> m_followed;
    Connection* m_connection = nullptr;
    std::function<bool()> m_safe;
    QTimer m_retry;
};

}  // namespace marvesa
