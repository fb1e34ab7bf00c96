#pragma once

#include <QString>
#include <QStringList>
#include <vector>

namespace marvesa {

// One row another connection inserted, changed or deleted, named by its
// table and its counter.
struct RowChange {
    enum class Kind : char { Inserted = 'I', Updated = 'U', Deleted = 'D' };
    QString table;
    qint64 id = 0;
    Kind kind = Kind::Updated;
};

// What other connections committed, as far as the engine can tell: the rows
// they inserted, changed or deleted, in the order they did it; the tables in
// which too many rows changed at once to name them, to be read whole; or,
// when the engine cannot tell what changed (this connection may have missed
// some of it), everything.
struct CommittedChanges {
    std::vector<RowChange> rows;
    QStringList wholeTables;
    bool everything = false;

    bool isEmpty() const { return rows.empty() && wholeTables.isEmpty() && !everything; }
};

}  // namespace marvesa
