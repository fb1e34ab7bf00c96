// Reading a table's rows again: refresh, which ends a pending edit first,
// and the in-place reload that follows what other desks stored without
// ending anything.
#include <QHash>
#include <algorithm>

#include "data/cursor/DataSet.h"

namespace marvesa {

void DataSet::refresh() {
    checkActive();
    checkBrowseMode();
    const qint64 id = m_current >= 0 ? m_rows[m_current].id : 0;
    const int oldIndex = m_current;
    readRows();
    m_current = -1;
    for (int i = 0; i < int(m_rows.size()); ++i) {
        if (m_rows[i].id == id) {
            m_current = i;
            break;
        }
    }
    if (m_current < 0 && !m_rows.empty())
        m_current = qBound(0, oldIndex, int(m_rows.size()) - 1);
    if (m_rows.empty()) {
        m_bof = m_eof = true;
    } else if (oldIndex < 0) {
        // The table was empty and now has rows: on the first, as after first.
        m_bof = true;
        m_eof = false;
    }
    dataEvent(deDataSetChange);
}

bool DataSet::reloadInPlace() {
    if (m_state != dsBrowse)
        return false;
    std::deque<Row> before;
    before.swap(m_rows);
    try {
        readRows();
    } catch (...) {
        m_rows.swap(before);
        throw;
    }
    const bool sameRows =
        before.size() == m_rows.size() &&
        std::equal(before.begin(), before.end(), m_rows.begin(),
                   [](const Row& a, const Row& b) { return a.id == b.id && a.stored == b.stored; });
    if (sameRows)
        return false;

    const int last = int(m_rows.size()) - 1;
    int current = -1;
    bool kept = false;
    if (m_rows.empty()) {
        current = -1;
    } else if (m_current < 0) {
        current = 0;
    } else if (m_current <= last && m_rows[m_current].id == before[m_current].id) {
        // The usual case: rows changed elsewhere, the current one in place.
        current = m_current;
        kept = true;
    } else {
        QHash<qint64, int> position;
        position.reserve(int(m_rows.size()));
        for (int i = 0; i <= last; ++i)
            position.insert(m_rows[i].id, i);
        // The current row, or the first row after it that still exists.
        for (int i = m_current; i < int(before.size()) && current < 0; ++i) {
            const auto it = position.constFind(before[i].id);
            if (it != position.constEnd()) {
                current = it.value();
                kept = i == m_current;
            }
        }
        if (current < 0)
            current = last;
    }
    if (m_rows.empty()) {
        m_bof = m_eof = true;
    } else if (m_current < 0) {
        // The table was empty: on the first row, as after first.
        m_bof = true;
        m_eof = false;
    } else {
        // A flag stays only while its row is still the current, first or
        // last one; rows added after the last clear the end-of-table flag.
        m_bof = kept && m_bof && current == 0;
        m_eof = kept && m_eof && current == last;
    }
    m_current = current;
    dataEvent(deDataSetChange);
    return true;
}

}  // namespace marvesa
