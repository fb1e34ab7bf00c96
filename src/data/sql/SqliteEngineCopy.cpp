// SqliteEngine::copyTo(): a consistent copy of the whole database while
// other connections keep working on it.

#include <sqlite3.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QThread>

#include "data/base/Error.h"
#include "data/sql/SqliteEngine.h"
#include "data/sql/SqlitePacedVfs.h"

namespace marvesa {

namespace {

// The sqlite3 connection behind a QSQLITE connection, as the driver hands it
// out; null when it hands out something else.
sqlite3* driverHandle(const QSqlDatabase& db) {
    if (!db.driver())
        return nullptr;
    const QVariant handle = db.driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3* const*>(handle.constData());
}

// Why SQLite could not write the copy, in the operator's words.
QString copyFailure(int code, const QString& sqliteText) {
    switch (code & 0xFF) {
        case SQLITE_FULL:
            return QStringLiteral("il disco è pieno");
        case SQLITE_READONLY:
        case SQLITE_CANTOPEN:
        case SQLITE_PERM:
            return QStringLiteral(
                "impossibile scrivere il file (disco in sola lettura o "
                "permesso negato)");
        case SQLITE_IOERR:
            return QStringLiteral("errore di scrittura sul disco (%1)").arg(sqliteText);
        case SQLITE_NOMEM:
            return QStringLiteral("memoria insufficiente");
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return QtSqlEngine::busyMessage();
        default:
            return sqliteText;
    }
}

}  // namespace

SqliteEngine::CopyMethod SqliteEngine::copyMethod() {
    requireConnected();
    if (m_copyMethod)
        return *m_copyMethod;
    // The driver's handle belongs to the SQLite library the driver runs; this
    // program's own calls may work on it only when that library is the one
    // the program is linked with. Both report the exact source they were
    // built from.
    QString driverSource;
    select(
        QStringLiteral("SELECT sqlite_source_id()"), {},
        [&](const QVector<QVariant>& row) {
            driverSource = row.value(0).toString();
            return false;
        },
        QStringLiteral("Impossibile interrogare il database"));
    const bool sameLibrary =
        driverSource == QLatin1String(sqlite3_sourceid()) && driverHandle(database()) != nullptr;
    m_copyMethod = sameLibrary ? CopyMethod::OnlineBackup : CopyMethod::VacuumInto;
    return *m_copyMethod;
}

void SqliteEngine::copyTo(const QString& destination) {
    if (copyMethod() == CopyMethod::OnlineBackup) {
        copyOnline(destination);
    } else {
        copyByVacuum(destination);
    }
}

void SqliteEngine::copyOnline(const QString& destination) {
    const QString shownDestination =
        QDir::toNativeSeparators(QFileInfo(destination).absoluteFilePath());
    auto fail = [&](const QString& reason) {
        throw Error(QStringLiteral("Impossibile copiare il database \"%1\" nel file \"%2\": %3")
                        .arg(location(), shownDestination, reason));
    };
    sqlite3* source = driverHandle(database());
    if (!source)
        fail(QStringLiteral("il collegamento al database non è disponibile"));

    sqlite3* target = nullptr;
    // Through the layer that sends the copy to the disk as it is written
    // (another desk's "Salva" never waits behind the whole of it).
    int rc = sqlite3_open_v2(destination.toUtf8().constData(), &target, SQLITE_OPEN_READWRITE,
                             pacedWriteVfsName());
    struct Close {
        sqlite3*& db;
        ~Close() { sqlite3_close(db); }
    } close{target};
    if (rc != SQLITE_OK)
        fail(copyFailure(rc, QString::fromUtf8(sqlite3_errstr(rc))));

    sqlite3_backup* backup = sqlite3_backup_init(target, "main", source, "main");
    if (!backup) {
        rc = sqlite3_errcode(target);
        fail(copyFailure(rc, QString::fromUtf8(sqlite3_errmsg(target))));
    }
    // Every page in one step: one read of one snapshot, which in the
    // database's write-ahead mode never holds up a writer. A reader can meet
    // a busy database only for a moment (another connection recovering the
    // journal): tried again for as long as a statement would wait.
    QElapsedTimer waited;
    waited.start();
    do {
        rc = sqlite3_backup_step(backup, -1);
        if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) {
            if (waited.elapsed() > busyTimeout())
                break;
            QThread::msleep(20);
        }
    } while (rc == SQLITE_OK || rc == SQLITE_BUSY || rc == SQLITE_LOCKED);
    sqlite3_backup_finish(backup);
    if (rc != SQLITE_DONE) {
        const int code = sqlite3_errcode(target) != SQLITE_OK ? sqlite3_errcode(target) : rc;
        fail(copyFailure(code, QString::fromUtf8(sqlite3_errstr(code))));
    }
    rc = sqlite3_close(target);
    target = nullptr;
    if (rc != SQLITE_OK)
        fail(copyFailure(rc, QString::fromUtf8(sqlite3_errstr(rc))));
}

void SqliteEngine::copyByVacuum(const QString& destination) {
    QSqlQuery q(database());
    const QString path = QFileInfo(destination).absoluteFilePath();
    const bool done = q.prepare(QStringLiteral("VACUUM INTO ?")) && [&] {
        q.addBindValue(path);
        return runWaiting(
            q, [&q] { return q.exec(); }, busyTimeout());
    }();
    if (!done) {
        const QSqlError error = q.lastError();
        throw Error(QStringLiteral("Impossibile copiare il database \"%1\" nel file \"%2\": %3")
                        .arg(location(), QDir::toNativeSeparators(path),
                             copyFailure(error.nativeErrorCode().toInt(), error.databaseText())));
    }
    q.finish();
}

}  // namespace marvesa
