// Reading a table's rows again: refresh, which ends a pending edit first,
// and the in-place reloads that follow what other desks stored without
// ending anything, whole or by the row.
#include <QHash>
#include <QSet>
#include <algorithm>

#include "data/cursor/DataSet.h"

namespace marvesa {

void DataSet::refresh() {
    checkActive();
    if (m_rowsPending) {
        // Read for the first time: that is reading them again.
        readRowsNow();
        dataEvent(deDataSetChange);
        return;
    }
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
    // Rows not read yet show what the database holds when they are.
    if (m_state != dsBrowse || m_rowsPending)
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

bool DataSet::applyRowChanges(const std::vector<RowChange>& changes) {
    if (m_state != dsBrowse || m_rowsPending)
        return false;
    // The last word on each row of this table, in the order the rows came.
    QHash<qint64, RowChange::Kind> last;
    std::vector<qint64> order;
    for (const RowChange& c : changes) {
        if (c.table.compare(m_tableName, Qt::CaseInsensitive) != 0)
            continue;
        if (!last.contains(c.id))
            order.push_back(c.id);
        last.insert(c.id, c.kind);
    }
    if (order.empty())
        return false;
    // Rows ordered by another column than the counter find their place only
    // in a whole reading.
    if (!m_orderColumn.isEmpty() && !(m_master && m_orderColumn == m_detailField))
        return reloadInPlace();

    // Everything is read before anything changes: a failed reading leaves
    // the rows as they were.
    std::vector<std::pair<qint64, std::optional<QVector<QVariant>>>> now;
    now.reserve(order.size());
    const QStringList names = fieldNames();
    for (qint64 id : order) {
        std::optional<QVector<QVariant>> values;
        if (last.value(id) != RowChange::Kind::Deleted) {
            StoredRow stored;
            if (m_connection->engine().readRow(m_tableName, names, id, &stored) &&
                shownHere(stored.values)) {
                values = std::move(stored.values);
            }
        }
        now.emplace_back(id, std::move(values));
    }

    bool changed = false;
    int current = m_current;
    bool currentGone = false;

    // Rows gone first: the current row, when it is among them, gives its
    // place to the row that followed it.
    QSet<qint64> gone;
    for (const auto& [id, values] : now) {
        if (!values)
            gone.insert(id);
    }
    if (!gone.isEmpty()) {
        int kept = 0;
        int goneBefore = 0;
        for (int i = 0; i < int(m_rows.size()); ++i) {
            if (gone.contains(m_rows[size_t(i)].id)) {
                if (i < current)
                    ++goneBefore;
                else if (i == current)
                    currentGone = true;
                continue;
            }
            if (kept != i)
                m_rows[size_t(kept)] = std::move(m_rows[size_t(i)]);
            ++kept;
        }
        if (kept < int(m_rows.size())) {
            m_rows.resize(size_t(kept));
            current -= goneBefore;
            changed = true;
        }
    }

    // Rows changed in place; rows new here are placed afterwards.
    QHash<qint64, int> position;
    const auto find = [&](qint64 id) {
        // A few rows are looked for one by one, many through an index.
        if (now.size() <= 8) {
            for (int i = 0; i < int(m_rows.size()); ++i) {
                if (m_rows[size_t(i)].id == id)
                    return i;
            }
            return -1;
        }
        if (position.isEmpty()) {
            position.reserve(int(m_rows.size()));
            for (int i = 0; i < int(m_rows.size()); ++i)
                position.insert(m_rows[size_t(i)].id, i);
        }
        return position.value(id, -1);
    };
    std::vector<Row> arrived;
    for (auto& [id, values] : now) {
        if (!values)
            continue;
        const int i = find(id);
        if (i < 0) {
            arrived.push_back(Row{id, std::move(*values)});
        } else if (m_rows[size_t(i)].stored != *values) {
            m_rows[size_t(i)].stored = std::move(*values);
            changed = true;
        }
    }
    std::sort(arrived.begin(), arrived.end(),
              [](const Row& a, const Row& b) { return a.id < b.id; });
    for (Row& row : arrived) {
        // Its place in counter order, looked for from the end, where new
        // rows belong (rows this desk inserted stand where it inserted them
        // until the next whole reading).
        int at = int(m_rows.size());
        while (at > 0 && m_rows[size_t(at - 1)].id > row.id)
            --at;
        m_rows.insert(m_rows.begin() + at, std::move(row));
        changed = true;
        if (current >= 0 && at <= current)
            ++current;
    }
    if (!changed)
        return false;

    const int lastRow = int(m_rows.size()) - 1;
    if (m_rows.empty()) {
        m_current = -1;
        m_bof = m_eof = true;
    } else if (m_current < 0) {
        // The table was empty: on the first row, as after first.
        m_current = 0;
        m_bof = true;
        m_eof = false;
    } else {
        m_current = std::min(current, lastRow);
        // As after a whole reading: a flag stays only while its row is still
        // the current, first or last one.
        m_bof = !currentGone && m_bof && m_current == 0;
        m_eof = !currentGone && m_eof && m_current == lastRow;
    }
    dataEvent(deDataSetChange);
    return true;
}

bool DataSet::shownHere(const QVector<QVariant>& values) const {
    if (!m_master)
        return true;
    // A detail shows the rows of its master's current row only.
    if (!m_filter || m_filter->isNull())
        return false;
    const Row row{0, values};
    return storedValue(row, fieldByName(m_detailField)->index()) == *m_filter;
}

}  // namespace marvesa
