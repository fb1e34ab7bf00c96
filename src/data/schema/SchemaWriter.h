#pragma once

#include <QString>
#include <QStringList>

namespace marvesa::schema {

// How an engine's SQL spells what the table definitions declare. The
// statements themselves are put together once, by createStatements().
struct SchemaDialect {
    QString counter;         // a counter column's type, with its key
    QString stagingCounter;  // the same in a staging table
    QString text;            // a text column's type, "%1" standing for its width
    QString dateTime;
    QString memo;
    QString insertionTime;  // the default that gives the time of the insert
    // What follows an index key kept in the order of the characters' codes;
    // empty where that is the engine's own order.
    QString characterCodeOrder;
};

// The statements that make every table of allTables() and then their
// indexes, in the order they are to run.
QStringList createStatements(const SchemaDialect& dialect);

}  // namespace marvesa::schema
