// The record history, TBL_STORICO, on real databases: written by the
// database in the same transaction as each change, whoever makes it (the
// program's engine, sqlite3, psql), with who and from where; never changed
// afterwards; read back as Italian lines.

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSysInfo>

#include "data/base/Workstation.h"
#include "data/registry/History.h"
#include "data/registry/HistoryLines.h"
#include "data/schema/SchemaUpgrade.h"
#include "data/schema/ServerDatabase.h"
#include "data/sql/EngineFactory.h"
#include "data/sql/PostgresEngine.h"
#include "support/DataTestSupport.h"

using namespace marvesa;
using namespace marvesa::test;
using namespace Qt::StringLiterals;

namespace {

struct ToolRun {
    int code = -1;
    QString err;
};

// Runs SQL through the engine's own command-line tool: sqlite3 on a file,
// psql on a server.
ToolRun tool(const QString& location, const QString& sql) {
    QProcess p;
    if (ServerAddress::isServerConnection(location)) {
        Sql names(location);
        p.start(u"psql"_s, {u"-X"_s, u"-q"_s, u"-v"_s, u"ON_ERROR_STOP=1"_s, u"-d"_s, location,
                            u"-c"_s, names.portable(sql)});
    } else {
        p.start(u"sqlite3"_s, {location, sql});
    }
    if (!p.waitForFinished(30000))
        return {};
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardError())};
}

// The history rows after `after`, each as "TABELLA|ID_RIGA|CODICE|OP|changes",
// the changes "COLUMN:old>new" in column order, the time of insertion left
// out (it is the database's clock).
QStringList historyAfter(Sql& sql, qint64 after) {
    QStringList rows;
    for (const QVariantList& r :
         sql.rows(u"SELECT TABELLA, ID_RIGA, CODICE_NUCLEO, OPERAZIONE, VALORI FROM TBL_STORICO "
                  "WHERE ID_STORICO > ? ORDER BY ID_STORICO"_s,
                  {after})) {
        const QJsonObject values = QJsonDocument::fromJson(r.at(4).toString().toUtf8()).object();
        QStringList changes;
        const TableDef& t =
            r.at(0).toString() == u"TBL_NUCLEO"_s ? schema::nucleo() : schema::anagrafica();
        for (const ColumnDef& c : t.columns) {
            if (!values.contains(c.name) || c.name == u"DATA_INSERIMENTO"_s)
                continue;
            const QJsonArray pair = values.value(c.name).toArray();
            const auto shown = [](const QJsonValue& v) {
                return v.isNull() ? u"-"_s : v.toString();
            };
            changes << u"%1:%2>%3"_s.arg(c.name, shown(pair.at(0)), shown(pair.at(1)));
        }
        rows << QStringList{r.at(0).toString(), r.at(1).toString(), r.at(2).toString(),
                            r.at(3).toString(), changes.join(u',')}
                    .join(u'|');
    }
    return rows;
}

qint64 lastHistoryRow(Sql& sql) {
    return sql.one(u"SELECT coalesce(max(ID_STORICO), 0) FROM TBL_STORICO"_s).toLongLong();
}

// The expected rows of: a family unit QX7 stored, a member ROSI MARIO
// stored, its surname changed to ROSSI, then the member and the family unit
// deleted. `family` and `member` are their counters.
QStringList expectedRows(qint64 family, qint64 member) {
    const QString f = QString::number(family), m = QString::number(member);
    return {
        u"TBL_NUCLEO|"_s + f + u"|QX7|I|CODICE_NUCLEO:->QX7,DENOMINAZIONE:->FAMIGLIA"_s,
        u"TBL_ANAGRAFICA|"_s + m + u"|QX7|I|CODICE_NUCLEO:->QX7,COGNOME:->ROSI,NOME:->MARIO"_s,
        u"TBL_ANAGRAFICA|"_s + m + u"|QX7|U|COGNOME:ROSI>ROSSI"_s,
        u"TBL_ANAGRAFICA|"_s + m + u"|QX7|D|CODICE_NUCLEO:QX7>-,COGNOME:ROSSI>-,NOME:MARIO>-"_s,
        u"TBL_NUCLEO|"_s + f + u"|QX7|D|CODICE_NUCLEO:QX7>-,DENOMINAZIONE:FAMIGLIA>-"_s,
    };
}

}  // namespace

class TestHistory : public QObject {
    Q_OBJECT
private slots:
    // The program's engine and the database's own tool make the same
    // changes and leave the same rows; the program's rows say who and from
    // which computer, the tool's say what the database knows of it. A change
    // rolled back leaves no row.
    void everyChangeLeavesItsRow() {
        QTemporaryDir dir;
        const QString location = newDatabase(dir);
        Sql sql(location);
        const QString who = onServer() ? sql.one(u"SELECT session_user"_s).toString()
                                       : Workstation::current().account;
        const QString computer = QSysInfo::machineHostName();

        // The program.
        qint64 before = lastHistoryRow(sql);
        qint64 family = 0, member = 0;
        {
            auto engine = openEngine(location);
            family = engine->insert(u"TBL_NUCLEO"_s, {u"CODICE_NUCLEO"_s, u"DENOMINAZIONE"_s},
                                    {u"QX7"_s, u"FAMIGLIA"_s});
            member =
                engine->insert(u"TBL_ANAGRAFICA"_s, {u"CODICE_NUCLEO"_s, u"COGNOME"_s, u"NOME"_s},
                               {u"QX7"_s, u"ROSI"_s, u"MARIO"_s});
            QVERIFY(engine->update(u"TBL_ANAGRAFICA"_s, member, {u"COGNOME"_s}, {u"ROSSI"_s},
                                   {u"COGNOME"_s}, {u"ROSI"_s}));
            // Nothing changed: no row.
            QVERIFY(engine->update(u"TBL_ANAGRAFICA"_s, member, {u"COGNOME"_s}, {u"ROSSI"_s},
                                   {u"COGNOME"_s}, {u"ROSSI"_s}));
            engine->remove(u"TBL_ANAGRAFICA"_s, member);
            engine->remove(u"TBL_NUCLEO"_s, family);

            // Rolled back: nothing of it, history included.
            const qint64 last = lastHistoryRow(sql);
            engine->beginWrite(u"TBL_NUCLEO"_s);
            engine->insert(u"TBL_NUCLEO"_s, {u"CODICE_NUCLEO"_s}, {u"QX8"_s});
            engine->rollback();
            QCOMPARE(lastHistoryRow(sql), last);
        }
        QCOMPARE(historyAfter(sql, before), expectedRows(family, member));
        const QString byProgram =
            u"SELECT count(*) FROM TBL_STORICO WHERE ID_STORICO > ? AND "
            "UTENTE = ? AND POSTAZIONE = ?"_s;
        QCOMPARE(sql.one(byProgram, {before, who, computer}).toInt(), 5);
        // In UTC, to the second, just now.
        const QDateTime when = QDateTime::fromString(
            sql.one(u"SELECT max(QUANDO) FROM TBL_STORICO"_s).toString(), Qt::ISODate);
        QVERIFY2(qAbs(QDateTime(when.date(), when.time(), Qt::UTC)
                          .secsTo(QDateTime::currentDateTimeUtc())) < 120,
                 qPrintable(when.toString()));

        // The database's own tool.
        before = lastHistoryRow(sql);
        ToolRun run = tool(location,
                           u"INSERT INTO TBL_NUCLEO (CODICE_NUCLEO, DENOMINAZIONE) VALUES ('QX7', "
                           "'FAMIGLIA'); INSERT INTO TBL_ANAGRAFICA (CODICE_NUCLEO, COGNOME, NOME) "
                           "VALUES ('QX7', 'ROSI', 'MARIO'); UPDATE TBL_ANAGRAFICA SET COGNOME = "
                           "'ROSSI' WHERE COGNOME = 'ROSI'; DELETE FROM TBL_ANAGRAFICA WHERE "
                           "CODICE_NUCLEO = 'QX7'; DELETE FROM TBL_NUCLEO WHERE CODICE_NUCLEO = "
                           "'QX7';"_s);
        QVERIFY2(run.code == 0, qPrintable(run.err));
        // The first two rows after it (a server's counter may have skipped
        // the numbers a rolled-back change took).
        family = sql.one(
                        u"SELECT ID_RIGA FROM TBL_STORICO WHERE ID_STORICO > ? ORDER BY "
                        "ID_STORICO LIMIT 1"_s,
                        {before})
                     .toLongLong();
        member = sql.one(
                        u"SELECT ID_RIGA FROM TBL_STORICO WHERE ID_STORICO > ? ORDER BY "
                        "ID_STORICO LIMIT 1 OFFSET 1"_s,
                        {before})
                     .toLongLong();
        QCOMPARE(historyAfter(sql, before), expectedRows(family, member));
        if (onServer()) {
            // The login, and the program it came through (a Unix socket has
            // no address).
            QCOMPARE(sql.row(u"SELECT DISTINCT UTENTE, POSTAZIONE FROM TBL_STORICO WHERE "
                             "ID_STORICO > "_s +
                             QString::number(before)),
                     who + u"|psql"_s);
        } else {
            // Another program cannot say who: it says so.
            QCOMPARE(sql.count(u"TBL_STORICO"_s,
                               u"ID_STORICO > %1 AND UTENTE IS NULL AND "
                               "POSTAZIONE IS NULL"_s.arg(before)),
                     5);
        }
        before = lastHistoryRow(sql);
        run = tool(location, u"BEGIN; UPDATE TBL_NUCLEO SET DENOMINAZIONE = 'X'; ROLLBACK;"_s);
        QVERIFY2(run.code == 0, qPrintable(run.err));
        QCOMPARE(lastHistoryRow(sql), before);
        if (onServer()) {
            // A session's own temporary TBL_STORICO, which it finds before
            // the real one, does not take the history of its changes.
            run =
                tool(location,
                     u"CREATE TEMP TABLE TBL_STORICO (TABELLA text, ID_RIGA bigint, CODICE_NUCLEO "
                     "text, OPERAZIONE text, VALORI text); INSERT INTO TBL_NUCLEO (CODICE_NUCLEO) "
                     "VALUES ('QX8'); DELETE FROM TBL_NUCLEO WHERE CODICE_NUCLEO = 'QX8';"_s);
            QVERIFY2(run.code == 0, qPrintable(run.err));
            QCOMPARE(sql.count(u"TBL_STORICO"_s,
                               u"ID_STORICO > %1 AND CODICE_NUCLEO = 'QX8'"_s.arg(before)),
                     2);
        }
    }

    // No history row can be changed or deleted, by the database's own tool
    // or by the owner; the one change allowed is the program's connection
    // putting its user on the row its own change has just written.
    // Many rows stored at once (an import; a server sends them in one
    // COPY): every value arrives as it was given, those that COPY's text
    // format escapes included, and each row leaves its history row with the
    // same values. A row refused fails the whole, and the connection goes on;
    // a writer given up half-way stores nothing. On a server, the notices
    // looked for while a COPY holds the connection leave it alone.
    void manyRowsAtOnce() {
        QTemporaryDir dir;
        const QString location = newDatabase(dir);
        Sql sql(location);
        auto engine = openEngine(location);
        const QStringList columns{u"CODICE_NUCLEO"_s, u"COGNOME"_s, u"NOME"_s, u"NOTE"_s,
                                  u"DATA_NASCITA"_s};
        const QStringList awkward{u"tab\there"_s,       u"line\nbreak"_s, u"cr\r\nlf"_s,
                                  u"back\\slash \\N"_s, u"\\N"_s,         u"\"quoted\" 'x'"_s,
                                  u"NICOLÒ Città"_s,    u"Олена"_s,       u""_s};
        const int rows = 2 * QtSqlEngine::kRowsPerInsert + 50;
        const auto rowOf = [&](int i) {
            return QVector<QVariant>{
                u"QX%1"_s.arg(i % 7), u"COGNOME%1"_s.arg(i), awkward.at(i % awkward.size()),
                i % 5 == 0 ? QVariant() : QVariant(awkward.at((i + 3) % awkward.size())),
                i % 4 == 0
                    ? QVariant()
                    : QVariant(u"1980-05-%1T00:00:00"_s.arg(1 + i % 28, 2, 10, QChar(u'0')))};
        };
        // Watching starts the notices' poll.
        if (onServer())
            engine->watchRows([](const CommittedChanges&) {});
        const qint64 before = lastHistoryRow(sql);
        engine->beginWrite(u"TBL_NUCLEO"_s);
        {
            const std::unique_ptr<RowWriter> writer =
                engine->insertRows(u"TBL_ANAGRAFICA"_s, columns);
            for (int i = 0; i < rows; ++i) {
                writer->add(rowOf(i));
                // The notices' poll runs meanwhile.
                if (i == rows / 2)
                    QTest::qWait(PostgresEngine::kNoticePollMs + 100);
            }
            writer->finish();
        }
        engine->commit();

        const QList<QVariantList> stored = sql.rows(
            u"SELECT CODICE_NUCLEO, COGNOME, NOME, NOTE, DATA_NASCITA FROM "
            "TBL_ANAGRAFICA ORDER BY ID_ANAGRAFICA"_s);
        QCOMPARE(stored.size(), rows);
        for (int i = 0; i < rows; ++i) {
            const QVector<QVariant> given = rowOf(i);
            for (int c = 0; c < columns.size(); ++c) {
                const QVariant& v = stored.at(i).at(c);
                const QString shown = v.isNull() ? u"<NULL>"_s : v.toString();
                const QString expected =
                    given.at(c).isNull() ? u"<NULL>"_s : given.at(c).toString();
                QVERIFY2(shown == expected, qPrintable(u"row %1, %2: %3 for %4"_s.arg(i).arg(
                                                columns.at(c), shown, expected)));
            }
        }
        // The history: a row for each, the values as stored, NULL left out.
        const QList<QVariantList> history = sql.rows(
            u"SELECT OPERAZIONE, VALORI FROM TBL_STORICO WHERE ID_STORICO > ? ORDER BY "
            "ID_STORICO"_s,
            {before});
        QCOMPARE(history.size(), rows);
        for (int i = 0; i < rows; ++i) {
            QCOMPARE(history.at(i).at(0).toString(), u"I"_s);
            const QJsonObject values =
                QJsonDocument::fromJson(history.at(i).at(1).toString().toUtf8()).object();
            const QVector<QVariant> given = rowOf(i);
            for (int c = 0; c < 4; ++c) {
                QCOMPARE(values.contains(columns.at(c)), !given.at(c).isNull());
                if (!given.at(c).isNull()) {
                    QCOMPARE(values.value(columns.at(c)).toArray(),
                             (QJsonArray{QJsonValue(), given.at(c).toString()}));
                }
            }
            QCOMPARE(values.contains(u"DATA_NASCITA"_s), !given.at(4).isNull());
        }

        // A row refused (a row key twice): nothing of the rows, and the
        // connection goes on.
        const int historyRows = sql.count(u"TBL_STORICO"_s);
        engine->beginWrite(u"TBL_NUCLEO"_s);
        try {
            const std::unique_ptr<RowWriter> writer =
                engine->insertRows(u"TBL_ANAGRAFICA"_s, {u"COGNOME"_s, u"CHIAVE_RIGA"_s});
            for (int i = 0; i < 20; ++i)
                writer->add({u"DOPPIO"_s, i == 10 ? u"k-3"_s : u"k-%1"_s.arg(i)});
            writer->finish();
            QFAIL("a row key stored twice");
        } catch (const UniqueViolation& e) {
            // The index a server names; the column a file does.
            QVERIFY2(e.index().contains(u"CHIAVE_RIGA"_s), qPrintable(e.index()));
            // The same words on both engines.
            QVERIFY2(QString::fromUtf8(e.what()).startsWith(
                         u"Impossibile salvare le righe nella tabella TBL_ANAGRAFICA"_s),
                     e.what());
        }
        engine->rollback();
        // Given up half-way: nothing either.
        engine->beginWrite(u"TBL_NUCLEO"_s);
        {
            const std::unique_ptr<RowWriter> writer =
                engine->insertRows(u"TBL_ANAGRAFICA"_s, {u"COGNOME"_s});
            for (int i = 0; i < 300; ++i)
                writer->add({u"LASCIATO"_s});
        }
        engine->rollback();
        QCOMPARE(sql.count(u"TBL_ANAGRAFICA"_s, u"COGNOME IN ('DOPPIO', 'LASCIATO')"_s), 0);
        QCOMPARE(sql.count(u"TBL_STORICO"_s), historyRows);
        const qint64 id = engine->insert(u"TBL_ANAGRAFICA"_s, {u"COGNOME"_s}, {u"DOPO"_s});
        QCOMPARE(sql.one(u"SELECT COGNOME FROM TBL_ANAGRAFICA WHERE ID_ANAGRAFICA = ?"_s, {id})
                     .toString(),
                 u"DOPO"_s);
        QCOMPARE(sql.count(u"TBL_STORICO"_s), historyRows + 1);
    }

    void theHistoryOnlyGrows() {
        QTemporaryDir dir;
        const QString location = newDatabase(dir);
        Sql sql(location);
        QVERIFY(tool(location, u"INSERT INTO TBL_NUCLEO (CODICE_NUCLEO) VALUES ('QX2')"_s).code ==
                0);
        {
            auto engine = openEngine(location);
            engine->insert(u"TBL_NUCLEO"_s, {u"CODICE_NUCLEO"_s}, {u"QX1"_s});
        }
        const int rows = sql.count(u"TBL_STORICO"_s);
        const QString all =
            u"SELECT "_s +
            sql.joined(u"ID_STORICO || VALORI || coalesce(UTENTE, '')"_s, u"ID_STORICO"_s) +
            u" FROM TBL_STORICO"_s;
        const QString before = sql.one(all).toString();
        QStringList changes{u"UPDATE TBL_STORICO SET VALORI = '{}'"_s,
                            u"UPDATE TBL_STORICO SET UTENTE = 'x'"_s, u"DELETE FROM TBL_STORICO"_s,
                            u"DELETE FROM TBL_STORICO WHERE ID_STORICO = 1"_s};
        if (onServer()) {
            changes << u"TRUNCATE TBL_STORICO"_s;
        } else {
            // A row another program wrote without a user cannot be given
            // one afterwards (only the newest row, by the connection that
            // wrote it).
            changes << u"UPDATE TBL_STORICO SET UTENTE = 'x' WHERE UTENTE IS NULL"_s;
        }
        for (const QString& change : changes) {
            const ToolRun run = tool(location, change);
            QVERIFY2(run.code != 0, qPrintable(change));
            QVERIFY2(run.err.contains(u"TBL_STORICO"_s), qPrintable(run.err));
        }
        if (onServer()) {
            // A table that keeps its history loses no row without it.
            const ToolRun run = tool(location, u"TRUNCATE TBL_ANAGRAFICA"_s);
            QVERIFY(run.code != 0);
            QVERIFY2(run.err.contains(u"TRUNCATE"_s), qPrintable(run.err));
        }
        QCOMPARE(sql.count(u"TBL_STORICO"_s), rows);
        QCOMPARE(sql.one(all).toString(), before);
    }

    // An export or an import is recorded with who, how many rows and which
    // file, in the transaction of the work: rolled back with it.
    void eventsAreRecorded() {
        QTemporaryDir dir;
        const QString location = newDatabase(dir);
        Sql sql(location);
        auto engine = openEngine(location);
        const qint64 before = lastHistoryRow(sql);
        engine->beginWrite(u"TBL_EXPORT"_s);
        recordEvent(*engine, QString::fromLatin1(kEventExport), u"TBL_EXPORT"_s, 12,
                    u"/tmp/a.xltx"_s);
        engine->rollback();
        QCOMPARE(lastHistoryRow(sql), before);
        engine->beginWrite(u"TBL_EXPORT"_s);
        recordEvent(*engine, QString::fromLatin1(kEventImport), u"TBL_ANAGRAFICA"_s, 3,
                    u"elenco.xlsx"_s);
        engine->commit();
        const QString who = onServer() ? sql.one(u"SELECT session_user"_s).toString()
                                       : Workstation::current().account;
        QCOMPARE(sql.row(u"SELECT OPERAZIONE, TABELLA, ID_RIGA, CODICE_NUCLEO, UTENTE FROM "
                         "TBL_STORICO ORDER BY ID_STORICO DESC"_s),
                 u"IMPORTA|TBL_ANAGRAFICA|<NULL>|<NULL>|"_s + who);
        const QJsonObject values =
            QJsonDocument::fromJson(
                sql.one(u"SELECT VALORI FROM TBL_STORICO ORDER BY ID_STORICO DESC"_s)
                    .toString()
                    .toUtf8())
                .object();
        QCOMPARE(values.value(u"righe"_s).toInt(), 3);
        QCOMPARE(values.value(u"file"_s).toString(), u"elenco.xlsx"_s);

        // Read back as "Storico" reads it, with the lines the clerk reads.
        const std::vector<HistoryEntry> all = wholeHistory(*engine, 1);
        QCOMPARE(all.size(), size_t(1));
        QCOMPARE(historyLines(all).value(0),
                 u"%1, %2 su %3: importate 3 righe (file elenco.xlsx)"_s.arg(
                     all[0].when.toLocalTime().toString(u"dd/MM/yyyy HH:mm"_s), who,
                     QSysInfo::machineHostName()));
    }

    // The history of one family unit: its own rows and its members', the
    // newest first, in Italian; a member named as its rows left it.
    void aFamilyUnitsHistoryInItalian() {
        QTemporaryDir dir;
        const QString location = newDatabase(dir);
        auto engine = openEngine(location);
        const qint64 family = engine->insert(
            u"TBL_NUCLEO"_s, {u"CODICE_NUCLEO"_s, u"NOME_OSPITANTE"_s}, {u"QX9"_s, u"GINO"_s});
        engine->insert(u"TBL_NUCLEO"_s, {u"CODICE_NUCLEO"_s}, {u"QX10"_s});  // another one
        const qint64 member = engine->insert(
            u"TBL_ANAGRAFICA"_s, {u"CODICE_NUCLEO"_s, u"COGNOME"_s, u"NOME"_s, u"DATA_NASCITA"_s},
            {u"QX9"_s, u"ROSI"_s, u"MARIO"_s, u"1980-03-04T00:00:00"_s});
        QVERIFY(engine->update(u"TBL_ANAGRAFICA"_s, member, {u"COGNOME"_s}, {u"ROSSI"_s}, {}, {}));
        QVERIFY(engine->update(u"TBL_NUCLEO"_s, family,
                               {u"NOME_OSPITANTE"_s, u"TERMINE_ALLOGGIO"_s},
                               {u"LUIGI"_s, u"2025-06-30T00:00:00"_s}, {}, {}));
        engine->remove(u"TBL_ANAGRAFICA"_s, member);

        const std::vector<HistoryEntry> entries = familyHistory(*engine, u"QX9"_s, family);
        QCOMPARE(entries.size(), size_t(5));
        const QString head =
            u"%1, %2 su %3: "_s.arg(entries[0].when.toLocalTime().toString(u"dd/MM/yyyy HH:mm"_s),
                                    entries[0].user, QSysInfo::machineHostName());
        QStringList lines = historyLines(entries);
        for (QString& l : lines) {
            QVERIFY2(l.startsWith(head), qPrintable(l));
            l = l.mid(head.size());
        }
        QCOMPARE(lines, (QStringList{
                            u"cancellato il componente ROSSI MARIO"_s,
                            u"Ospitante GINO → LUIGI; Termine Ospitalità (vuoto) → 30/06/2025 "
                            "(nucleo familiare QX9)"_s,
                            u"Cognome ROSI → ROSSI (componente ROSSI MARIO)"_s,
                            u"inserito il componente ROSI MARIO"_s,
                            u"creato il nucleo familiare QX9"_s,
                        }));
        // Without the code, by its counter alone.
        QCOMPARE(familyHistory(*engine, QString(), family).size(), size_t(2));
    }

    // A database of an earlier version opened by the data module keeps the
    // history from then on, with the desk's user.
    void anUpgradedDatabaseKeepsItsHistory() {
        QTemporaryDir dir;
        QString location = dir.filePath(u"old.mdb"_s);
        if (onServer()) {
            location = TestServer::instance().emptyDatabase();
            schema::createServerDatabase(location, 0);
        } else {
            schema::createDatabase(location, QString(), 0);
        }
        TdmMarvesa dm;
        dm.DataModuleCreate(location);
        add(dm.TBL_NUCLEO, "CODICE_NUCLEO", "QX1");
        Sql sql(location);
        const QString who = onServer() ? sql.one(u"SELECT session_user"_s).toString()
                                       : Workstation::current().account;
        QCOMPARE(sql.row(u"SELECT OPERAZIONE, UTENTE, POSTAZIONE FROM TBL_STORICO"_s),
                 u"I|%1|%2"_s.arg(who, QSysInfo::machineHostName()));
    }
};

QTEST_GUILESS_MAIN(TestHistory)
#include "tst_history.moc"
