#include "data/schema/Schema.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

#include "data/base/Error.h"
#include "data/schema/FileAccess.h"
#include "data/sql/SqlText.h"

static void initReferenceResources() { Q_INIT_RESOURCE(reference); }

namespace marvesa {

namespace schema {

namespace {

ColumnDef counter(const char* n) { return {QString::fromLatin1(n), FieldKind::Counter, 0}; }
ColumnDef text(const char* n, int w) { return {QString::fromLatin1(n), FieldKind::Text, w}; }
ColumnDef dateTime(const char* n) { return {QString::fromLatin1(n), FieldKind::DateTime, 0}; }
ColumnDef memo(const char* n) { return {QString::fromLatin1(n), FieldKind::Memo, 0}; }

// DATA_INSERIMENTO takes the local time of insertion, in the stored form of
// every date-time.
const char* const kInsertionTimeDefault = "(strftime('%Y-%m-%dT%H:%M:%S', 'now', 'localtime'))";

// The counters of the family units and of the members are never reused, not
// even after the newest row is deleted (AUTOINCREMENT). The staging table is
// emptied and refilled by every export and nothing refers to its rows: its
// counter only needs to be assigned by the database, and without AUTOINCREMENT
// an insert does not also rewrite the table of counters (one page fewer to
// write per stored row).
QString columnSql(const TableDef& table, const ColumnDef& c) {
    QString sql = quoteIdentifier(c.name) + QLatin1Char(' ');
    switch (c.kind) {
        case FieldKind::Counter:
            sql += table.name == QLatin1String("TBL_EXPORT")
                       ? QStringLiteral("INTEGER PRIMARY KEY")
                       : QStringLiteral("INTEGER PRIMARY KEY AUTOINCREMENT");
            break;
        case FieldKind::Text: sql += QStringLiteral("VARCHAR(%1)").arg(c.width); break;
        case FieldKind::DateTime: sql += QStringLiteral("DATETIME"); break;
        case FieldKind::Memo: sql += QStringLiteral("TEXT"); break;
    }
    if (c.name == QLatin1String("DATA_INSERIMENTO")) {
        sql += QStringLiteral(" DEFAULT ") + QLatin1String(kInsertionTimeDefault);
    }
    return sql;
}

QStringList readList(const QString& resource) {
    initReferenceResources();
    QFile f(resource);
    if (!f.open(QIODevice::ReadOnly)) {
        throw Error(QStringLiteral("Elenco di riferimento mancante: %1").arg(resource));
    }
    QStringList list;
    for (const QByteArray& line : f.readAll().split('\n')) {
        const QString s = QString::fromUtf8(line).trimmed();
        if (!s.isEmpty()) list << s;
    }
    return list;
}

}  // namespace

const TableDef& nucleo() {
    static const TableDef def{QStringLiteral("TBL_NUCLEO"),
                              {counter("ID_NUCLEO"), text("CODICE_NUCLEO", 20),
                               text("DENOMINAZIONE", 200), dateTime("DATA_INSERIMENTO"),
                               text("NOME_OSPITANTE", 50), text("COMUNE", 50),
                               text("INDIRIZZO", 100), text("TELEFONO", 50),
                               dateTime("TERMINE_ALLOGGIO")}};
    return def;
}

const TableDef& anagrafica() {
    static const TableDef def{
        QStringLiteral("TBL_ANAGRAFICA"),
        {counter("ID_ANAGRAFICA"), text("CODICE_NUCLEO", 20), text("COGNOME", 50),
         text("NOME", 50), text("SESSO", 1), dateTime("DATA_NASCITA"),
         text("NAZIONE_NASCITA", 30), text("CITTADINANZA", 30), text("GRADO_PARENTELA", 25),
         text("COMUNE", 50), text("INDIRIZZO", 100), dateTime("TERMINE_ALLOGGIO"),
         dateTime("DATA_INGRESSO"), text("FRONTIERA", 100), text("CODICE_PRIORITA", 10),
         memo("NOTE"), text("TELEFONO", 50), dateTime("DATA_INSERIMENTO"),
         text("NOME_OSPITANTE", 100)}};
    return def;
}

const TableDef& exportTable() {
    static const TableDef def{
        QStringLiteral("TBL_EXPORT"),
        {counter("ID_ANAGRAFICA"), text("CODICE_NUCLEO", 20), text("COGNOME", 50),
         text("NOME", 50), text("SESSO", 1), dateTime("DATA_NASCITA"),
         text("NAZIONE_NASCITA", 30), text("CITTADINANZA", 30), text("GRADO_PARENTELA", 25),
         text("COMUNE", 50), text("INDIRIZZO", 100), text("NOME_OSPITANTE", 100),
         text("TELEFONO", 50), dateTime("TERMINE_ALLOGGIO"), dateTime("DATA_INGRESSO"),
         text("FRONTIERA", 100), text("CODICE_PRIORITA", 10), memo("NOTE"),
         dateTime("DATA_INSERIMENTO")}};
    return def;
}

const TableDef& comuni() {
    static const TableDef def{QStringLiteral("TBL_SYS_COMUNI"),
                              {counter("ID_COMUNE"), text("Denominazione", 100)}};
    return def;
}

const TableDef& nazioni() {
    static const TableDef def{QStringLiteral("TBL_SYS_NAZIONE"),
                              {counter("ID_NAZIONE"), text("Nazione", 100)}};
    return def;
}

std::vector<const TableDef*> allTables() {
    return {&nucleo(), &anagrafica(), &exportTable(), &comuni(), &nazioni()};
}

QStringList createStatements() {
    QStringList statements;
    for (const TableDef* t : allTables()) {
        QStringList cols;
        for (const ColumnDef& c : t->columns) cols << columnSql(*t, c);
        statements << QStringLiteral("CREATE TABLE ") + quoteIdentifier(t->name) +
                          QStringLiteral(" (\n  ") + cols.join(QStringLiteral(",\n  ")) +
                          QStringLiteral("\n)");
    }
    // The staging table is read in family-code order through this index.
    statements << QStringLiteral(
        "CREATE INDEX \"CODICE_NUCLEO\" ON \"TBL_EXPORT\" (\"CODICE_NUCLEO\")");
    // The member table is always read filtered by family code.
    statements << QStringLiteral(
        "CREATE INDEX \"IDX_ANAGRAFICA_CODICE_NUCLEO\" ON \"TBL_ANAGRAFICA\" (\"CODICE_NUCLEO\")");
    statements << uniqueFamilyCodeIndex();
    return statements;
}

QString uniqueFamilyCodeIndex() {
    return QStringLiteral(
        "CREATE UNIQUE INDEX \"IDX_NUCLEO_CODICE_NUCLEO\" ON \"TBL_NUCLEO\" (\"CODICE_NUCLEO\") "
        "WHERE \"CODICE_NUCLEO\" <> ''");
}

QStringList municipalities() { return readList(QStringLiteral(":/reference/comuni.txt")); }
QStringList countries() { return readList(QStringLiteral(":/reference/nazioni.txt")); }

CreatedDatabase createDatabase(const QString& path, const QString& group) {
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
        throw Error(QStringLiteral("Impossibile creare il database \"%1\": %2: %3")
                        .arg(shown, what, text));
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
            if (!db.open()) fail(QStringLiteral("apertura"), db.lastError().text());
            QSqlQuery q(db);
            auto run = [&](const QString& sql) {
                if (!q.exec(sql)) fail(QStringLiteral("schema"), q.lastError().databaseText());
            };
            run(QStringLiteral("PRAGMA journal_mode=DELETE"));
            run(QStringLiteral("BEGIN"));
            for (const QString& sql : createStatements()) run(sql);
            auto load = [&](const TableDef& t, const QStringList& names) {
                QSqlQuery ins(db);
                ins.prepare(QStringLiteral("INSERT INTO ") + quoteIdentifier(t.name) +
                            QStringLiteral(" (") + quoteIdentifier(t.columns[1].name) +
                            QStringLiteral(") VALUES (?)"));
                for (const QString& n : names) {
                    ins.addBindValue(n);
                    if (!ins.exec()) fail(t.name, ins.lastError().databaseText());
                }
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
        if (QSqlDatabase::contains(connection)) QSqlDatabase::removeDatabase(connection);
        QFile::remove(temp);
        QFile::remove(temp + QStringLiteral("-wal"));
        QFile::remove(temp + QStringLiteral("-shm"));
        QFile::remove(temp + QStringLiteral("-journal"));
        throw;
    }
    return {shown, int(comuniList.size()), int(nazioniList.size())};
}

}  // namespace schema

FieldKind fieldKindFromDeclaredType(const QString& declaredType, int* width) {
    const QString t = declaredType.toUpper();
    *width = 0;
    if (t.contains(QLatin1String("DATE")) || t.contains(QLatin1String("TIME"))) {
        return FieldKind::DateTime;
    }
    if (t.startsWith(QLatin1String("INT"))) return FieldKind::Counter;
    static const QRegularExpression widthRe(QStringLiteral("\\((\\d+)\\)"));
    const auto m = widthRe.match(t);
    if (m.hasMatch() && t.contains(QLatin1String("CHAR"))) {
        *width = m.captured(1).toInt();
        return FieldKind::Text;
    }
    return FieldKind::Memo;
}

}  // namespace marvesa
