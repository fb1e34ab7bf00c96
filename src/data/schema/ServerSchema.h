#pragma once

#include <QPair>
#include <QString>
#include <QStringList>
#include <QVector>

namespace marvesa::schema {

// The SQL that creates the tables, their indexes and the announcement of
// changes on a PostgreSQL server: the tables of the file database, with
// identity columns for the counters and `timestamp` for the date-times.
QStringList serverCreateStatements();

struct ServerDatabase {
    QString description;  // the server and database, never a password
    // Rows of each table, in the order of schema::allTables().
    QVector<QPair<QString, qint64>> rows;
};

// Creates the tables and loads the reference lists in the empty database
// `connection` (a libpq connection string or URI), in one transaction.
// Refuses, changing nothing, when any of the tables exists. Throws
// marvesa::Error on failure.
ServerDatabase createServerDatabase(const QString& connection);

// Copies every row of the file database `file`, counters included, into the
// empty database `connection`: the tables are created, filled, the counters
// set past the highest copied value, and the row counts of every table
// compared with the file's, all in one transaction. Refuses, changing
// nothing, when any of the tables exists.
ServerDatabase copyToServer(const QString& file, const QString& connection);

}  // namespace marvesa::schema
