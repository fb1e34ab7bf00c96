#pragma once

#include <QPair>
#include <QString>
#include <QVector>

namespace marvesa::schema {

struct ServerDatabase {
    QString description;  // the server and database, never a password
    // Rows of each table, in the order of schema::allTables().
    QVector<QPair<QString, qint64>> rows;
};

// Creates the tables and loads the reference lists in the empty database
// `connection` (a libpq connection string or URI), in one transaction.
// Refuses, changing nothing, when any of the tables exists. The database is
// of the version this program works with, or of `version` when one is given
// (tests of the upgrade). Throws marvesa::Error on failure.
ServerDatabase createServerDatabase(const QString& connection, int version = -1);

}  // namespace marvesa::schema
