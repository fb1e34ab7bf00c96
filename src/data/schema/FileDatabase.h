#pragma once

#include <QString>

namespace marvesa::schema {

struct CreatedDatabase {
    QString path;  // full path
    int municipalities = 0;
    int countries = 0;
};

// Creates a new database at `path` with every table, index and the reference
// lists. Refuses to touch an existing file: the database is built under a
// temporary name beside it and moved into place only when complete, and never
// over a file that appeared meanwhile. The file holds personal data: only
// its owner may read and write it (0600), or, with a `group`, the owner and
// that group (0660). The database is of the version this program works with,
// or of `version` when one is given (tests of the upgrade). Throws
// marvesa::Error on failure.
CreatedDatabase createDatabase(const QString& path, const QString& group = QString(),
                               int version = -1);

// createDatabase(), making first the database's folder when it is missing
// (with the folders above it): the owner's alone (0700) or, with a `group`,
// given to that group (2770). Never touches an existing file. Throws
// marvesa::Error.
CreatedDatabase createDatabaseAndFolder(const QString& path, const QString& group = QString());

}  // namespace marvesa::schema
