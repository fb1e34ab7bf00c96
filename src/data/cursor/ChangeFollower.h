#pragma once

#include <QStringList>
#include <QTimer>
#include <functional>
#include <vector>

namespace marvesa {

class Connection;
class DataSet;

// Keeps browsing tables showing what other desks (other copies of the
// program, other data modules) store and delete: when the connection reports
// that another connection committed, each followed table reads its rows
// again in place, keeping its current row (DataSet::reloadInPlace).
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
    // empty): applied now if safe, otherwise marked as waiting.
    void changed(const QStringList& tables);
    // Applies what is waiting, as far as it is safe now.
    void applyWaiting();
    bool isWaiting() const;

    // How often waiting changes are tried again.
    static constexpr int kRetryMs = 200;

private:
    struct Followed {
        DataSet* table;
        std::vector<DataSet*> waitsFor;
        bool waiting = false;
    };
    bool heldBack(const Followed& f) const;

    std::vector<Followed> m_followed;
    Connection* m_connection = nullptr;
    std::function<bool()> m_safe;
    QTimer m_retry;
};

}  // namespace marvesa
