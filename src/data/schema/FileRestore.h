#pragma once

#include <QDateTime>
#include <QString>

namespace marvesa::schema {

struct RestoredDatabase {
    QString database;    // full path
    QString replacedAs;  // where the replaced database went; empty when there was none
    qint64 families = 0;
    qint64 members = 0;
};

// Puts the copy `backup` back as the database file `databasePath`.
//
// The copy must be a Marvesa database that passes SQLite's integrity check
// (and not one of a newer version than this program); it is only read. The
// database must not be in use: while any program has it open (another copy
// of Marvesa on this computer or, through a shared folder, on another) it
// is refused. The database in place is kept, renamed
// "<name>.before-restore-<date>-<time>" beside it, with everything it held
// (its journal written into it first); the restored file takes its owner and
// modes (the owner's alone for a database that was missing). Everything is
// checked before anything is moved. Throws marvesa::Error with an Italian
// message; then the database is as it was.
RestoredDatabase restoreDatabase(const QString& backup, const QString& databasePath,
                                 const QDateTime& now);

}  // namespace marvesa::schema
