#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace marvesa::schema {

// Copies of a database file that keep the registry safe from a failed disk
// or a deleted file. Each copy is a complete SQLite database of its own,
// checked before it counts, in the folder "backup" beside the database,
// named after the database and the moment it was made
// ("dbQuaz-2025-03-01-183005.mdb"), with the database's owner and modes.
// A copy never changes the database: it is only read, while other copies of
// the program go on working on it.

// How many of the automatic copies are kept.
struct BackupPolicy {
    int days = 14;  // the newest copy of each of the last `days` days that have one
    int weeks = 8;  // and the newest of each of the `weeks` weeks before those

    // "backupDays" and "backupWeeks" of the office's settings, these
    // defaults where they are missing or not numbers; at least one day.
    static BackupPolicy fromSettings();
};

struct BackupCopy {
    QString path;
    QDateTime made;  // local time, as its name gives it
};

// The folder of the copies of the database file `databasePath`: "backup"
// beside the file (beside the file a link leads to, for a link).
QString backupFolder(const QString& databasePath);

// The name of the copy of `databasePath` made at `made`.
QString backupFileName(const QString& databasePath, const QDateTime& made);

// The copies of `databasePath` in its backup folder, newest first. Other
// files there are not copies and are left alone.
std::vector<BackupCopy> backupCopies(const QString& databasePath);

// Those of `copies` that `policy` keeps, newest first: the newest copy of
// each of the last `days` days that have a copy, then the newest of each of
// the last `weeks` calendar weeks (Monday to Sunday) before them that have
// one and none kept already.
std::vector<BackupCopy> copiesToKeep(const std::vector<BackupCopy>& copies,
                                     const BackupPolicy& policy);

// Makes the new file `destination` a copy of the database file
// `databasePath` as it stands when the copy starts. The copy is written
// under a temporary name beside `destination`, with the database's owner
// and modes from its first byte, checked with SQLite's integrity check, and
// only then given its name; an existing file is never replaced. Throws
// marvesa::Error with an Italian message; then nothing is left of the copy
// and the database is as it was.
void backupDatabase(const QString& databasePath, const QString& destination);

struct DailyBackup {
    QString made;         // the copy made; empty when one of that day was there
    QStringList removed;  // the older copies `policy` no longer keeps
};

// The automatic copy of a database file: at most one a day (none when its
// backup folder holds a copy made on the day of `now`), made into the
// backup folder (created with the database folder's access) as
// backupDatabase() makes it, then the copies `policy` does not keep are
// removed. Throws marvesa::Error; a failure removes nothing.
DailyBackup makeDailyBackup(const QString& databasePath, const QDateTime& now,
                            const BackupPolicy& policy);

// When the newest copy of `databasePath` was made; none without a copy.
std::optional<QDateTime> lastBackup(const QString& databasePath);

// The date and time of a copy as the clerk reads them: "01/03/2025 alle 18:30".
QString shownBackupTime(const QDateTime& made);

}  // namespace marvesa::schema
