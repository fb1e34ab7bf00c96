#include "data/schema/FileRestore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QUrl>
#include <QUuid>
#include <memory>

#include "data/base/Error.h"
#include "data/schema/FileAccess.h"
#include "data/schema/SchemaUpgrade.h"

namespace marvesa::schema {

namespace {

QString shown(const QString& path) {
    return QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
}

// SQLite's primary result code of a failed statement.
int resultCode(const QSqlError& error) {
    return error.nativeErrorCode().toInt() & 0xFF;
}

// One QSQLITE connection of its own on a file, closed and removed when it
// goes. Read-only unless asked otherwise; never makes a file.
class FileConnection {
public:
    FileConnection(const QString& path, bool writable, const QString& options = QString())
        : m_name(QStringLiteral("marvesa-restore-") +
                 QUuid::createUuid().toString(QUuid::WithoutBraces)) {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        QUrl url = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
        url.setQuery(writable ? QStringLiteral("mode=rw") : QStringLiteral("mode=ro"));
        db.setDatabaseName(url.toString(QUrl::FullyEncoded));
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI") +
                             (writable ? QString() : QStringLiteral(";QSQLITE_OPEN_READONLY")) +
                             options);
        m_open = db.open();
        if (!m_open)
            m_error = db.lastError();
    }
    ~FileConnection() {
        {
            QSqlDatabase db = QSqlDatabase::database(m_name, false);
            if (db.isOpen())
                db.close();
        }
        QSqlDatabase::removeDatabase(m_name);
    }
    FileConnection(const FileConnection&) = delete;
    FileConnection& operator=(const FileConnection&) = delete;

    bool isOpen() const { return m_open; }
    const QSqlError& openError() const { return m_error; }
    QSqlQuery query() const { return QSqlQuery(QSqlDatabase::database(m_name, false)); }

private:
    QString m_name;
    bool m_open = false;
    QSqlError m_error;
};

struct Contents {
    qint64 families = 0;
    qint64 members = 0;
};

// What a copy of a Marvesa database holds, once it is known to be one:
// SQLite's integrity check passes, the program's tables are there, and its
// version is not newer than this program's. `copyInto`, when given, then
// receives a consistent copy of it (VACUUM INTO, which also reads a
// database in write-ahead mode whole). Throws marvesa::Error.
Contents readMarvesaCopy(const QString& path, const QString& copyInto = QString()) {
    const QString name = shown(path);
    const auto notOurs = [&](const QString& why) {
        return Error(
            QStringLiteral("Il file \"%1\" non è un database di Marvesa: %2").arg(name, why));
    };
    const FileConnection file(path, false);
    if (!file.isOpen())
        throw notOurs(file.openError().databaseText());
    QSqlQuery q = file.query();
    if (!q.exec(QStringLiteral("PRAGMA integrity_check"))) {
        throw notOurs(resultCode(q.lastError()) == 26 ? QStringLiteral("non è un database SQLite")
                                                      : q.lastError().databaseText());
    }
    QStringList integrity;
    while (q.next())
        integrity << q.value(0).toString();
    if (integrity != QStringList{QStringLiteral("ok")}) {
        throw Error(QStringLiteral("Il file \"%1\" è danneggiato (controllo di integrità: %2)")
                        .arg(name, integrity.mid(0, 3).join(QStringLiteral("; "))));
    }
    QStringList tables;
    if (!q.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table'")))
        throw notOurs(q.lastError().databaseText());
    while (q.next())
        tables << q.value(0).toString();
    QStringList missing;
    for (const char* t :
         {"TBL_NUCLEO", "TBL_ANAGRAFICA", "TBL_EXPORT", "TBL_SYS_COMUNI", "TBL_SYS_NAZIONE"}) {
        if (!tables.contains(QLatin1String(t)))
            missing << QLatin1String(t);
    }
    if (!missing.isEmpty()) {
        throw notOurs(
            QStringLiteral("mancano le tabelle %1").arg(missing.join(QStringLiteral(", "))));
    }
    const auto number = [&](const QString& sql) {
        if (!q.exec(sql) || !q.next())
            throw notOurs(q.lastError().databaseText());
        return q.value(0).toLongLong();
    };
    if (tables.contains(QLatin1String(kVersionTable))) {
        const qint64 version =
            number(QStringLiteral("SELECT max(\"VERSIONE\") FROM \"%1\"").arg(kVersionTable));
        if (version > currentVersion()) {
            throw Error(QStringLiteral("Il file \"%1\" è un database di una versione più recente "
                                       "di Marvesa (versione %2, questo programma conosce fino "
                                       "alla %3): usare il programma più recente")
                            .arg(name)
                            .arg(version)
                            .arg(currentVersion()));
        }
    }
    Contents contents;
    contents.families = number(QStringLiteral("SELECT count(*) FROM TBL_NUCLEO"));
    contents.members = number(QStringLiteral("SELECT count(*) FROM TBL_ANAGRAFICA"));
    if (!copyInto.isEmpty()) {
        q.finish();
        if (!q.prepare(QStringLiteral("VACUUM INTO ?")))
            throw Error(q.lastError().databaseText());
        q.addBindValue(QFileInfo(copyInto).absoluteFilePath());
        if (!q.exec()) {
            throw Error(QStringLiteral("Impossibile copiare \"%1\" in \"%2\": %3")
                            .arg(name, shown(copyInto),
                                 resultCode(q.lastError()) == 13
                                     ? QStringLiteral("il disco è pieno")
                                     : q.lastError().databaseText()));
        }
    }
    q.finish();
    return contents;
}

// The database in place, held so that no program opens it while it is
// replaced: SQLite's exclusive lock, which it cannot take while another
// connection has the database open. Its write-ahead journal is first
// written into the file, which then holds everything by itself. Not held
// when the file is no database at all (nothing can have it open as one):
// the restore is then the way out.
class HeldDatabase {
public:
    explicit HeldDatabase(const QString& path)
        : m_file(path, true, QStringLiteral(";QSQLITE_BUSY_TIMEOUT=0")) {
        const QString name = shown(path);
        if (!m_file.isOpen())
            return;
        QSqlQuery q = m_file.query();
        const bool locked = q.exec(QStringLiteral("PRAGMA locking_mode=EXCLUSIVE")) &&
                            q.exec(QStringLiteral("BEGIN EXCLUSIVE"));
        if (!locked) {
            const int code = resultCode(q.lastError());
            if (code == 5 || code == 6) {
                throw Error(QStringLiteral("Il database \"%1\" è in uso: chiudere Marvesa su ogni "
                                           "postazione che lo usa (e ogni altro programma che lo "
                                           "tiene aperto), poi ripetere il ripristino")
                                .arg(name));
            }
            return;
        }
        if (!q.exec(QStringLiteral("COMMIT")) ||
            !q.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"))) {
            throw Error(QStringLiteral("Impossibile preparare il database \"%1\" al ripristino: %2")
                            .arg(name, q.lastError().databaseText()));
        }
        q.finish();
        m_held = true;
    }

    // Whether the database is held (a database, and nobody else's now).
    bool held() const { return m_held; }

private:
    FileConnection m_file;
    bool m_held = false;
};

// Moves the database file `from` to `to`. A file that was no database takes
// along the journals SQLite left beside it; the journal of a database held
// is already in it, and SQLite removes the empty one when it lets go.
bool moveDatabase(const QString& from, const QString& to, bool held) {
    if (!QFile::rename(from, to))
        return false;
    if (held)
        return true;
    for (const char* side : {"-wal", "-journal"}) {
        const QString sideFile = from + QLatin1String(side);
        if (QFileInfo::exists(sideFile))
            QFile::rename(sideFile, to + QLatin1String(side));
    }
    QFile::remove(from + QStringLiteral("-shm"));
    return true;
}

}  // namespace

RestoredDatabase restoreDatabase(const QString& backup, const QString& databasePath,
                                 const QDateTime& now) {
    const QFileInfo source(backup);
    if (!source.isFile()) {
        throw Error(
            QStringLiteral("La copia \"%1\" non esiste o non è un file").arg(shown(backup)));
    }
    const QFileInfo target(databasePath);
    const QString database = target.absoluteFilePath();
    if (source.canonicalFilePath() == target.canonicalFilePath()) {
        throw Error(QStringLiteral("La copia e il database sono lo stesso file \"%1\"")
                        .arg(shown(database)));
    }
    if (target.exists() && !target.isFile())
        throw Error(QStringLiteral("\"%1\" non è un file").arg(shown(database)));
    const Contents expected = readMarvesaCopy(backup);

    const QString folder = target.absolutePath();
    if (!QFileInfo::exists(folder)) {
        if (!QDir().mkpath(folder)) {
            throw Error(QStringLiteral("Impossibile creare la cartella \"%1\"").arg(shown(folder)));
        }
        files::restrictFolderToOwner(folder);
    }
    const bool replacing = target.exists();
    std::unique_ptr<HeldDatabase> held;
    if (replacing)
        held = std::make_unique<HeldDatabase>(database);

    RestoredDatabase result;
    result.database = shown(database);
    const QString restoring = folder + QLatin1String("/.") + target.fileName() +
                              QStringLiteral(".restoring-") +
                              QUuid::createUuid().toString(QUuid::WithoutBraces);
    // A name of its own for the file replaced, also when a restore was
    // made in the same second.
    const QString stamp = database + QStringLiteral(".before-restore-") +
                          now.toString(QStringLiteral("yyyy-MM-dd-HHmmss"));
    QString replacedAs = stamp;
    for (int n = 2;
         QFileInfo::exists(replacedAs) || QFileInfo::exists(replacedAs + QStringLiteral("-wal"));
         ++n)
        replacedAs = stamp + QLatin1Char('-') + QString::number(n);
    try {
        {
            QFile made(restoring);
            if (!made.open(QIODevice::WriteOnly | QIODevice::NewOnly,
                           QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
                throw Error(QStringLiteral("Impossibile scrivere nella cartella \"%1\": %2")
                                .arg(shown(folder), made.errorString()));
            }
        }
        if (replacing)
            files::copyAccess(database, restoring);
        readMarvesaCopy(backup, restoring);
        // The copy written is read back as a whole before it takes the place
        // of the database.
        const Contents restored = readMarvesaCopy(restoring);
        if (restored.families != expected.families || restored.members != expected.members) {
            throw Error(QStringLiteral("La copia scritta in \"%1\" non contiene le stesse righe "
                                       "di \"%2\"")
                            .arg(shown(restoring), shown(backup)));
        }
        if (replacing) {
            if (!moveDatabase(database, replacedAs, held->held())) {
                throw Error(QStringLiteral("Impossibile rinominare il database \"%1\" in \"%2\"")
                                .arg(shown(database), shown(replacedAs)));
            }
            result.replacedAs = shown(replacedAs);
        }
        if (!QFile::rename(restoring, database)) {
            if (replacing)
                moveDatabase(replacedAs, database, held->held());
            throw Error(QStringLiteral("Impossibile mettere la copia al posto del database \"%1\"")
                            .arg(shown(database)));
        }
        result.families = restored.families;
        result.members = restored.members;
    } catch (...) {
        QFile::remove(restoring);
        QFile::remove(restoring + QStringLiteral("-journal"));
        throw;
    }
    return result;
}

}  // namespace marvesa::schema
