#include "data/schema/FileDatabase.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

#include "data/base/Error.h"
#include "data/schema/FileAccess.h"
#include "data/schema/ReferenceLists.h"
#include "data/schema/SqliteSchema.h"

namespace marvesa::schema {

CreatedDatabase createDatabase(const QString& path, const QString& group, int version) {
    const QFileInfo target(path);
    const QString shown = QDir::toNativeSeparators(target.absoluteFilePath());
    if (target.exists()) {
        throw Error(QStringLiteral("Il file \"%1\" esiste già: non viene sovrascritto").arg(shown));
    }
    if (!target.absoluteDir().exists()) {
        throw Error(QStringLiteral("La cartella \"%1\" non esiste")
                        .arg(QDir::toNativeSeparators(target.absolutePath())));
    }
    const QStringList comuniList = municipalities();
    const QStringList nazioniList = countries();

    const QString temp = target.absoluteFilePath() + QStringLiteral(".creating-") +
                         QUuid::createUuid().toString(QUuid::WithoutBraces);
    const QString connection = QStringLiteral("marvesa-create-") + QFileInfo(temp).fileName();
    auto fail = [&](const QString& what, const QString& text) {
        throw Error(
            QStringLiteral("Impossibile creare il database \"%1\": %2: %3").arg(shown, what, text));
    };
    try {
        // The file is made empty with its access set before SQLite writes a
        // byte into it; SQLite gives its -wal and -shm files the same access.
        {
            QFile made(temp);
            if (!made.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
                fail(QStringLiteral("apertura"), QStringLiteral("impossibile creare il file"));
            }
        }
        if (group.isEmpty()) {
            files::restrictToOwner(temp);
        } else {
            files::shareFileWithGroup(temp, group);
        }
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
            db.setDatabaseName(temp);
            if (!db.open())
                fail(QStringLiteral("apertura"), db.lastError().text());
            QSqlQuery q(db);
            auto run = [&](const QString& sql) {
                if (!q.exec(sql))
                    fail(QStringLiteral("schema"), q.lastError().databaseText());
            };
            run(QStringLiteral("PRAGMA journal_mode=DELETE"));
            run(QStringLiteral("BEGIN"));
            for (const QString& sql : sqliteCreateStatements(version))
                run(sql);
            auto load = [&](const TableDef& t, const QStringList& names) {
                const QSqlError e = loadReferenceList(db, t, names);
                if (e.isValid())
                    fail(t.name, e.databaseText());
            };
            load(comuni(), comuniList);
            load(nazioni(), nazioniList);
            run(QStringLiteral("COMMIT"));
            // Shared use writes ahead of the journal; the mode is kept in the file.
            run(QStringLiteral("PRAGMA journal_mode=WAL"));
            q.finish();
            db.close();
        }
        QSqlDatabase::removeDatabase(connection);
        QFile::remove(temp + QStringLiteral("-wal"));
        QFile::remove(temp + QStringLiteral("-shm"));
        // rename() never replaces an existing file.
        if (!QFile::rename(temp, target.absoluteFilePath())) {
            fail(QStringLiteral("spostamento"),
                 QFileInfo::exists(path) ? QStringLiteral("il file esiste già")
                                         : QStringLiteral("impossibile rinominare il file"));
        }
    } catch (...) {
        if (QSqlDatabase::contains(connection))
            QSqlDatabase::removeDatabase(connection);
        QFile::remove(temp);
        QFile::remove(temp + QStringLiteral("-wal"));
        QFile::remove(temp + QStringLiteral("-shm"));
        QFile::remove(temp + QStringLiteral("-journal"));
        throw;
    }
    return {shown, int(comuniList.size()), int(nazioniList.size())};
}

CreatedDatabase createDatabaseAndFolder(const QString& path, const QString& group) {
    const QString folder = QFileInfo(path).absolutePath();
    if (!QFileInfo::exists(folder)) {
        if (!QDir().mkpath(folder)) {
            throw Error(QStringLiteral("Impossibile creare la cartella \"%1\"")
                            .arg(QDir::toNativeSeparators(folder)));
        }
        files::restrictFolderToOwner(folder);
    }
    // An existing file is refused below, before anything is changed.
    if (!group.isEmpty() && !QFileInfo::exists(path))
        files::shareFolderWithGroup(folder, group);
    return createDatabase(path, group);
}

}  // namespace marvesa::schema
