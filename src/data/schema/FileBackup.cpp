#include "data/schema/FileBackup.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>
#include <algorithm>
#include <set>
#include <utility>

#include "data/base/Error.h"
#include "data/base/OfficeSettings.h"
#include "data/schema/FileAccess.h"
#include "data/sql/SqliteEngine.h"

namespace marvesa::schema {

namespace {

const QString kBackupFolder = QStringLiteral("backup");
const QString kStampFormat = QStringLiteral("yyyy-MM-dd-HHmmss");
const QString kPartial = QStringLiteral(".partial-");
// A copy half written this long ago was left by a copy that never ended (the
// computer went off): it is removed.
const qint64 kStalePartialSeconds = 24 * 3600;

QString shown(const QString& path) {
    return QDir::toNativeSeparators(path);
}

// The database file itself: a link is followed to the file it leads to.
QString realPath(const QString& path) {
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? info.absoluteFilePath() : canonical;
}

QRegularExpression copyNamePattern(const QString& databasePath) {
    const QFileInfo info(databasePath);
    const QString suffix = info.suffix();
    return QRegularExpression(
        QStringLiteral("^") + QRegularExpression::escape(info.completeBaseName()) +
        QStringLiteral("-(\\d{4}-\\d{2}-\\d{2}-\\d{6})") +
        (suffix.isEmpty() ? QString()
                          : QStringLiteral("\\.") + QRegularExpression::escape(suffix)) +
        QStringLiteral("$"));
}

void removeWithJournal(const QString& path) {
    QFile::remove(path);
    QFile::remove(path + QStringLiteral("-journal"));
}

// The copy just written, checked as the database it must be: SQLite's
// integrity check reads every page and index. The copy also leaves the
// write-ahead mode, so that it is one file with nothing beside it.
void checkCopy(const QString& copy, const QString& shownCopy, const QString& shownDatabase) {
    const QString connection =
        QStringLiteral("marvesa-check-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    QString problem;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(copy);
        if (!db.open()) {
            problem = db.lastError().text();
        } else {
            QSqlQuery q(db);
            // Read through a memory map rather than page by page: the check
            // visits every index entry and every row, and copying each page
            // it reads into the connection's own cache took twice as long.
            // The map is only read, and goes with the connection.
            const qint64 size = QFileInfo(copy).size();
            if (!q.exec(QStringLiteral("PRAGMA journal_mode=DELETE")) ||
                !q.exec(QStringLiteral("PRAGMA mmap_size=%1").arg(size)) ||
                !q.exec(QStringLiteral("PRAGMA integrity_check"))) {
                problem = q.lastError().databaseText();
            } else {
                QStringList found;
                while (q.next())
                    found << q.value(0).toString();
                if (found != QStringList{QStringLiteral("ok")})
                    problem = found.mid(0, 3).join(QStringLiteral("; "));
            }
            q.finish();
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(connection);
    if (!problem.isEmpty()) {
        throw Error(QStringLiteral("La copia \"%1\" del database \"%2\" non ha superato il "
                                   "controllo di integrità: %3")
                        .arg(shownCopy, shownDatabase, problem));
    }
}

// The backup folder, made when missing with the access of the database's
// own folder (its owner's alone, or its group's).
void ensureBackupFolder(const QString& database, const QString& folder) {
    const QFileInfo info(folder);
    if (info.isDir())
        return;
    if (info.exists()) {
        throw Error(QStringLiteral("Impossibile fare la copia di sicurezza: \"%1\" non è una "
                                   "cartella")
                        .arg(shown(folder)));
    }
    if (!QDir().mkdir(folder)) {
        throw Error(QStringLiteral("Impossibile fare la copia di sicurezza: impossibile creare la "
                                   "cartella \"%1\" (cartella del database in sola lettura o "
                                   "permesso negato)")
                        .arg(shown(folder)));
    }
    files::restrictFolderToOwner(folder);
    files::copyAccess(QFileInfo(database).absolutePath(), folder);
}

void removeStalePartials(const QString& folder, const QDateTime& now) {
    const QFileInfoList found = QDir(folder).entryInfoList(
        {QStringLiteral(".*") + kPartial + QStringLiteral("*")}, QDir::Files | QDir::Hidden);
    for (const QFileInfo& f : found) {
        if (f.lastModified().secsTo(now) > kStalePartialSeconds)
            QFile::remove(f.absoluteFilePath());
    }
}

std::pair<int, int> weekOf(const QDate& day) {
    int year = 0;
    const int week = day.weekNumber(&year);
    return {year, week};
}

}  // namespace

BackupPolicy BackupPolicy::fromSettings() {
    BackupPolicy policy;
    bool ok = false;
    const int days = officeSetting(QStringLiteral("backupDays")).toInt(&ok);
    if (ok)
        policy.days = qMax(1, days);
    const int weeks = officeSetting(QStringLiteral("backupWeeks")).toInt(&ok);
    if (ok)
        policy.weeks = qMax(0, weeks);
    return policy;
}

QString backupFolder(const QString& databasePath) {
    return QFileInfo(realPath(databasePath)).absoluteDir().filePath(kBackupFolder);
}

QString backupFileName(const QString& databasePath, const QDateTime& made) {
    const QFileInfo info(realPath(databasePath));
    QString name = info.completeBaseName() + QLatin1Char('-') + made.toString(kStampFormat);
    if (!info.suffix().isEmpty())
        name += QLatin1Char('.') + info.suffix();
    return name;
}

std::vector<BackupCopy> backupCopies(const QString& databasePath) {
    const QString database = realPath(databasePath);
    const QRegularExpression pattern = copyNamePattern(database);
    std::vector<BackupCopy> copies;
    const QDir folder(backupFolder(database));
    for (const QString& name : folder.entryList(QDir::Files)) {
        const QRegularExpressionMatch match = pattern.match(name);
        if (!match.hasMatch())
            continue;
        const QDateTime made = QDateTime::fromString(match.captured(1), kStampFormat);
        if (made.isValid())
            copies.push_back({folder.filePath(name), made});
    }
    std::sort(copies.begin(), copies.end(), [](const BackupCopy& a, const BackupCopy& b) {
        return a.made != b.made ? a.made > b.made : a.path > b.path;
    });
    return copies;
}

std::vector<BackupCopy> copiesToKeep(const std::vector<BackupCopy>& copies,
                                     const BackupPolicy& policy) {
    std::vector<BackupCopy> newestFirst = copies;
    std::sort(newestFirst.begin(), newestFirst.end(),
              [](const BackupCopy& a, const BackupCopy& b) { return a.made > b.made; });
    std::vector<bool> kept(newestFirst.size(), false);
    std::set<QDate> days;
    std::set<std::pair<int, int>> weeks;
    for (std::size_t i = 0; i < newestFirst.size(); ++i) {
        const QDate day = newestFirst[i].made.date();
        if (int(days.size()) < policy.days && days.insert(day).second) {
            kept[i] = true;
            weeks.insert(weekOf(day));
        }
    }
    int weekly = 0;
    for (std::size_t i = 0; i < newestFirst.size() && weekly < policy.weeks; ++i) {
        if (!kept[i] && weeks.insert(weekOf(newestFirst[i].made.date())).second) {
            kept[i] = true;
            ++weekly;
        }
    }
    std::vector<BackupCopy> result;
    for (std::size_t i = 0; i < newestFirst.size(); ++i) {
        if (kept[i])
            result.push_back(newestFirst[i]);
    }
    return result;
}

void backupDatabase(const QString& databasePath, const QString& destination) {
    const QString database = realPath(databasePath);
    const QFileInfo target(destination);
    const QString shownTarget = shown(target.absoluteFilePath());
    if (target.exists()) {
        throw Error(
            QStringLiteral("Il file \"%1\" esiste già: non viene sovrascritto").arg(shownTarget));
    }
    const QFileInfo folder(target.absolutePath());
    if (!folder.isDir()) {
        throw Error(
            QStringLiteral("La cartella \"%1\" non esiste").arg(shown(folder.absoluteFilePath())));
    }

    SqliteEngine engine(database);
    engine.connect();

    const QString partial = folder.absoluteFilePath() + QLatin1String("/.") + target.fileName() +
                            kPartial + QUuid::createUuid().toString(QUuid::WithoutBraces);
    try {
        {
            // Empty and the owner's alone until it has the database's access:
            // no byte of the copy is ever readable by anyone else.
            QFile made(partial);
            if (!made.open(QIODevice::WriteOnly | QIODevice::NewOnly,
                           QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
                throw Error(
                    folder.isWritable()
                        ? QStringLiteral("Impossibile creare la copia \"%1\": %2")
                              .arg(shownTarget, made.errorString())
                        : QStringLiteral("Impossibile creare la copia \"%1\": la cartella \"%2\" "
                                         "è in sola lettura o non accessibile")
                              .arg(shownTarget, shown(folder.absoluteFilePath())));
            }
        }
        files::copyAccess(database, partial);
        engine.copyTo(partial);
        engine.disconnect();
        checkCopy(partial, shownTarget, engine.location());
        // rename() never replaces a file that appeared meanwhile.
        if (!QFile::rename(partial, target.absoluteFilePath())) {
            throw Error(QStringLiteral("Impossibile dare alla copia del database il nome \"%1\"%2")
                            .arg(shownTarget, target.exists()
                                                  ? QStringLiteral(": il file esiste già")
                                                  : QString()));
        }
    } catch (...) {
        removeWithJournal(partial);
        throw;
    }
}

DailyBackup makeDailyBackup(const QString& databasePath, const QDateTime& now,
                            const BackupPolicy& policy) {
    const QString database = realPath(databasePath);
    if (!QFileInfo(database).isFile()) {
        throw Error(QStringLiteral("Impossibile fare la copia di sicurezza: il database \"%1\" "
                                   "non esiste")
                        .arg(shown(database)));
    }
    const QString folder = backupFolder(database);
    ensureBackupFolder(database, folder);
    DailyBackup result;
    for (const BackupCopy& c : backupCopies(database)) {
        if (c.made.date() == now.date())
            return result;
    }
    const QString destination = QDir(folder).filePath(backupFileName(database, now));
    backupDatabase(database, destination);
    result.made = destination;

    removeStalePartials(folder, now);
    const std::vector<BackupCopy> copies = backupCopies(database);
    QStringList keep;
    for (const BackupCopy& c : copiesToKeep(copies, policy))
        keep << c.path;
    for (const BackupCopy& c : copies) {
        if (!keep.contains(c.path) && QFile::remove(c.path))
            result.removed << c.path;
    }
    return result;
}

std::optional<QDateTime> lastBackup(const QString& databasePath) {
    const std::vector<BackupCopy> copies = backupCopies(databasePath);
    if (copies.empty())
        return std::nullopt;
    return copies.front().made;
}

QString shownBackupTime(const QDateTime& made) {
    return made.toString(QStringLiteral("dd/MM/yyyy 'alle' HH:mm"));
}

}  // namespace marvesa::schema
