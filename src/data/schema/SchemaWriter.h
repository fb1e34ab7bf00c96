#pragma once

#include <QString>
#include <QStringList>
#include <climits>
#include <functional>
#include <vector>

#include "data/schema/TableDefinitions.h"

namespace marvesa::schema {

// How an engine's SQL spells what the table definitions declare. The
// statements themselves are put together once, by createStatements().
struct SchemaDialect {
    QString counter;         // a counter column's type, with its key
    QString stagingCounter;  // the same in a staging table
    QString text;            // a text column's type, "%1" standing for its width
    QString dateTime;
    QString memo;
    QString integer;           // a whole number that is no counter
    QString insertionTime;     // the default that gives the time of the insert
    QString insertionTimeUtc;  // the same in UTC
    // What follows an index key kept in the order of the characters' codes;
    // empty where that is the engine's own order.
    QString characterCodeOrder;
    // Statements that follow the making of a table (a server announces the
    // changes of some tables to the other desks); may be empty.
    std::function<QStringList(const TableDef& table)> afterTable;
    // Whether the database keeps the change log (TableDef::changeLog).
    bool keepsChangeLog = false;
};

// Whether a database of this dialect has `table` at all (a server keeps no
// change log).
bool makes(const SchemaDialect& dialect, const TableDef& table);

// The statements that make the tables a database of version `version` has
// (every declared one, by default), each with its columns, and then their
// indexes, in the order they are to run.
QStringList createStatements(const SchemaDialect& dialect, int version = INT_MAX,
                             const std::vector<const TableDef*>& tables = allTables());

// The statements that bring a database of version `version` - 1 the tables,
// columns and indexes declared `since` version `version`: a new table whole,
// a new column of an older table added to it, then the new indexes.
QStringList addedStatements(const SchemaDialect& dialect, int version,
                            const std::vector<const TableDef*>& tables = allTables());

}  // namespace marvesa::schema
