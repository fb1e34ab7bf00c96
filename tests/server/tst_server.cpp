// The registry on a PostgreSQL server, where it differs from a file: the
// database marvesa-initdb makes there, moving a file database to the server,
// two desks on one database, and a server that goes away and comes back
// under a running window. Runs on the test server of scripts/test.sh, alone
// (it stops and starts that server).

#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

#include "data/base/Random.h"
#include "data/registry/FamilyCode.h"
#include "data/schema/ServerDatabase.h"
#include "data/sql/PostgresEngine.h"
#include "data/sql/SqliteEngine.h"
#include "support/DataTestSupport.h"
#include "support/TestApplication.h"
#include "support/WindowFixture.h"

using namespace marvesa;
using namespace marvesa::test;
using namespace Qt::StringLiterals;

namespace {

struct ToolRun {
    int code = -1;
    QString out;
    QString err;
};

ToolRun initDb(const QStringList& args) {
    QProcess tool;
    tool.start(QStringLiteral(MARVESA_INITDB), args);
    tool.waitForFinished(120000);
    return {tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1,
            QString::fromUtf8(tool.readAllStandardOutput()),
            QString::fromUtf8(tool.readAllStandardError())};
}

// Every row of a table as read by an engine, "id|value|...", with date-times
// in one form and NULL as "<NULL>".
QStringList dump(Engine& engine, const TableDef& table) {
    ReadRequest r;
    r.table = table.name;
    for (const ColumnDef& c : table.columns)
        r.columns << c.name;
    QStringList lines;
    for (const StoredRow& row : engine.read(r)) {
        QStringList cells{QString::number(row.id)};
        for (int i = 0; i < row.values.size(); ++i) {
            const QVariant& v = row.values.at(i);
            if (v.isNull())
                cells << u"<NULL>"_s;
            else if (table.columns[size_t(i)].kind == FieldKind::DateTime)
                cells << dateTimeFromStorage(v.toString()).toString(Qt::ISODate);
            else
                cells << v.toString();
        }
        lines << cells.join(u'|');
    }
    return lines;
}

// Stops or starts the test server.
void serverControl(const QString& action) {
    QStringList command = QProcess::splitCommand(qEnvironmentVariable("MARVESA_TEST_PG_CTL"));
    QVERIFY2(!command.isEmpty(), "MARVESA_TEST_PG_CTL names no pg_ctl");
    const QString owner = qEnvironmentVariable("MARVESA_TEST_PG_OWNER");
    if (!owner.isEmpty())
        command = QStringList{u"runuser"_s, u"-u"_s, owner, u"--"_s} + command;
    command << action;
    if (action == u"stop"_s)
        command << u"-m"_s << u"fast"_s;
    QProcess p;
    p.start(command.takeFirst(), command);
    QVERIFY(p.waitForFinished(60000));
    QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());
}

void click(QWidget* button) {
    QTest::mouseClick(button, Qt::LeftButton);
}

void typeInto(QWidget* control, const char* text) {
    WindowFixture::focus(control);
    QTest::keyClicks(control, QString::fromUtf8(text));
}

}  // namespace

class TstServer : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(onServer()); }

    // marvesa-initdb on an empty server database: the tables of the file
    // database with identity counters, the reference lists, the indexes;
    // a second run refuses and changes nothing.
    void initDbOnTheServer() {
        const QString connection = TestServer::instance().emptyDatabase();
        ToolRun run = initDb({connection});
        QCOMPARE(run.code, 0);
        Sql sql(connection);
        QCOMPARE(sql.count(u"TBL_SYS_COMUNI"_s), 7896);
        QCOMPARE(sql.count(u"TBL_SYS_NAZIONE"_s), 251);
        QCOMPARE(sql.count(u"TBL_SYS_COMUNI"_s, u"Denominazione = 'Forlì'"_s), 1);
        const auto columns = [&](const QString& table) {
            QStringList r;
            for (const QVariantList& row :
                 sql.rows(u"SELECT column_name || ' ' || data_type || coalesce('(' || "
                          "character_maximum_length || ')', '') || CASE WHEN is_identity = 'YES' "
                          "THEN ' identity' ELSE '' END FROM information_schema.columns "
                          "WHERE table_name = ? ORDER BY ordinal_position"_s,
                          {table}))
                r << row.value(0).toString();
            return r.join(u", "_s);
        };
        QCOMPARE(columns(u"TBL_NUCLEO"_s),
                 u"ID_NUCLEO bigint identity, CODICE_NUCLEO character varying(20), "
                 "DENOMINAZIONE character varying(200), DATA_INSERIMENTO timestamp without time "
                 "zone, NOME_OSPITANTE character varying(50), COMUNE character varying(50), "
                 "INDIRIZZO character varying(100), TELEFONO character varying(50), "
                 "TERMINE_ALLOGGIO timestamp without time zone, CHIAVE_RIGA character "
                 "varying(36)"_s);
        QVERIFY(
            columns(u"TBL_ANAGRAFICA"_s).contains(u"NOTE text, TELEFONO character varying(50)"_s));
        QCOMPARE(sql.exec(u"SELECT indexname FROM pg_indexes WHERE schemaname = 'public' AND "
                          "indexname NOT LIKE '%pkey' ORDER BY indexname"_s),
                 (QVariantList{u"CODICE_NUCLEO"_s, u"IDX_ANAGRAFICA_CERCA"_s,
                               u"IDX_ANAGRAFICA_CHIAVE_NOMINATIVO"_s,
                               u"IDX_ANAGRAFICA_CHIAVE_RIGA"_s, u"IDX_ANAGRAFICA_CODICE_NUCLEO"_s,
                               u"IDX_ANAGRAFICA_DATA_NASCITA"_s, u"IDX_NON_DOPPIONI_COPPIA"_s,
                               u"IDX_NON_DOPPIONI_SECONDO"_s, u"IDX_NUCLEO_CERCA"_s,
                               u"IDX_NUCLEO_CHIAVE_RIGA"_s, u"IDX_NUCLEO_CODICE_NUCLEO"_s,
                               u"IDX_STORICO_CODICE_NUCLEO"_s, u"IDX_STORICO_RIGA"_s}));
        // A new row takes its counter and its time of insertion.
        sql.exec(u"INSERT INTO TBL_NUCLEO (CODICE_NUCLEO) VALUES ('QX1')"_s);
        QCOMPARE(sql.one(u"SELECT ID_NUCLEO FROM TBL_NUCLEO"_s).toInt(), 1);
        QVERIFY(
            qAbs(QDateTime::fromString(
                     sql.one(u"SELECT DATA_INSERIMENTO FROM TBL_NUCLEO"_s).toString(), Qt::ISODate)
                     .secsTo(QDateTime::currentDateTime())) < 60);

        run = initDb({connection});
        QCOMPARE(run.code, 1);
        QVERIFY2(run.err.contains(u"contiene già le tabelle TBL_NUCLEO, TBL_ANAGRAFICA"_s),
                 qPrintable(run.err));
        QCOMPARE(sql.count(u"TBL_NUCLEO"_s), 1);
        QCOMPARE(sql.count(u"TBL_SYS_COMUNI"_s), 7896);
        // An address nobody can reach: the server is named, no password.
        run = initDb({u"host=/nessuna-cartella port=5 dbname=registro password=segretissima"_s});
        QCOMPARE(run.code, 1);
        QVERIFY2(run.err.contains(u"database \"registro\" sul server \"/nessuna-cartella\""_s),
                 qPrintable(run.err));
        QVERIFY(!run.err.contains(u"segretissima"_s));
    }

    // Every table, column, default and index of the definitions is made on
    // the server as declared, and the tables that announce their changes
    // carry the trigger that does it.
    void tablesAndIndexesAsDeclared() {
        const QString connection = TestServer::instance().emptyDatabase();
        schema::createServerDatabase(connection);
        Sql sql(connection);
        const QString indexDefinition =
            u"SELECT indexdef FROM pg_indexes WHERE indexname = ? AND tablename = ?"_s;
        const auto typeOf = [](const ColumnDef& c) {
            switch (c.kind) {
                case FieldKind::Counter:
                    return u"bigint identity"_s;
                case FieldKind::Text:
                    return u"character varying(%1)"_s.arg(c.width);
                case FieldKind::DateTime:
                    return u"timestamp without time zone"_s;
                case FieldKind::Memo:
                    return u"text"_s;
                case FieldKind::Integer:
                    return u"bigint"_s;
            }
            return QString();
        };
        for (const TableDef* t : schema::allTables()) {
            QStringList declared, made;
            if (t->changeLog) {
                // Only a file keeps the log: the server announces each change.
                QVERIFY(
                    sql.one(u"SELECT to_regclass(?)::text"_s, {u"\"%1\""_s.arg(t->name)}).isNull());
                continue;
            }
            for (const ColumnDef& c : t->columns) {
                declared << c.name + u' ' + typeOf(c) +
                                (c.byDefault == ColumnDefault::Null ? u""_s : u" default"_s);
            }
            for (const QVariantList& row : sql.rows(
                     u"SELECT column_name || ' ' || data_type || coalesce('(' || "
                     "character_maximum_length || ')', '') || CASE WHEN is_identity = 'YES' "
                     "THEN ' identity' ELSE '' END || CASE WHEN column_default IS NULL THEN '' "
                     "ELSE ' default' END FROM information_schema.columns "
                     "WHERE table_name = ? ORDER BY ordinal_position"_s,
                     {t->name}))
                made << row.value(0).toString();
            QCOMPARE(made, declared);
            for (const IndexDef& i : t->indexes) {
                const QString definition = sql.one(indexDefinition, {i.name, t->name}).toString();
                QVERIFY2(definition.contains(u"(\"%1\""_s.arg(i.columns.join(u"\", \""_s))),
                         qPrintable(definition));
                QCOMPARE(definition.startsWith(u"CREATE UNIQUE"_s), i.unique);
                QCOMPARE(definition.contains(u" WHERE "_s), i.skipsEmpty);
                QCOMPARE(definition.contains(u"COLLATE \"C\""_s), i.characterCodeOrder);
            }
            // Each statement's rows are announced, after an insert, an update,
            // a delete; an emptied table as a whole. The members' name key is
            // emptied when a name changes without it. The history of the rows
            // (an insert's once per statement, updates and deletes row by row)
            // and, on the history, who wrote it and that it only grows.
            QStringList triggers;
            if (t->announcesChanges) {
                for (const char* event : {"_DELETED", "_INSERTED", "_TRUNCATED", "_UPDATED"})
                    triggers << t->name + QLatin1String(event);
            }
            if (t->name == u"TBL_ANAGRAFICA"_s)
                triggers << u"TBL_ANAGRAFICA_CHIAVE_NOMINATIVO"_s;
            if (t->keepsHistory)
                triggers << t->name + u"_STORICO"_s << t->name + u"_STORICO_I"_s
                         << t->name + u"_NO_TRUNCATE"_s;
            if (t == &schema::storico()) {
                triggers << u"TBL_STORICO_CHI"_s << u"TBL_STORICO_SOLO_AGGIUNTE"_s
                         << u"TBL_STORICO_NO_TRUNCATE"_s;
            }
            QStringList madeTriggers;
            for (const QVariant& name :
                 sql.exec(u"SELECT tgname FROM pg_trigger WHERE NOT tgisinternal AND "
                          "tgrelid = to_regclass(?) ORDER BY tgname COLLATE \"C\""_s,
                          {u"\"%1\""_s.arg(t->name)}))
                madeTriggers << name.toString();
            triggers.sort();
            QCOMPARE(madeTriggers, triggers);
        }
    }

    // --copy-from: every row of every table, counters included; new rows
    // continue after the highest counter; a second copy refuses.
    void copyFromAFile() {
        QTemporaryDir dir;
        const QString file = dir.filePath(u"dbQuaz.mdb"_s);
        schema::createDatabase(file);
        {
            TdmMarvesa dm;
            dm.DataModuleCreate(file);
            for (const char* code : {"QX10", "QX20", "QX30"})
                add(dm.TBL_NUCLEO, "CODICE_NUCLEO", code);
            dm.TBL_NUCLEO.first();
            change(dm.TBL_NUCLEO, "DENOMINAZIONE", "Città d'Àbano \"ovest\"");
            dm.TBL_NUCLEO.edit();
            dm.TBL_NUCLEO.setFieldValue(u"TERMINE_ALLOGGIO"_s, Value::date(QDate(2025, 6, 30)));
            dm.TBL_NUCLEO.post();
            for (const char* name : {"Олена", "Anna", ""})
                add(dm.TBL_ANAGRAFICA, "COGNOME", name);
            dm.TBL_NUCLEO.refresh();
            dm.TBL_NUCLEO.last();
            QCOMPARE(text(dm.TBL_NUCLEO, "CODICE_NUCLEO"), u"QX30"_s);
            dm.TBL_NUCLEO.remove();  // the highest counter, 3, is gone
            add(dm.TBL_EXPORT, "NOTE", "riga di una vecchia esportazione");
        }
        const QString connection = TestServer::instance().emptyDatabase();
        ToolRun run = initDb({u"--copy-from"_s, file, connection});
        QVERIFY2(run.code == 0, qPrintable(run.err));
        QVERIFY(run.out.contains(u"TBL_NUCLEO: 2 righe"_s));

        SqliteEngine fromFile(file);
        PostgresEngine onServer(connection);
        fromFile.connect();
        onServer.connect();
        for (const TableDef* t : schema::allTables()) {
            if (t->changeLog)
                continue;
            QStringList copied = dump(onServer, *t);
            // The history ends with the copy itself, recorded as an import.
            if (t == &schema::storico()) {
                QVERIFY2(copied.last().contains(u"|IMPORTA|"_s), qPrintable(copied.last()));
                QVERIFY(copied.last().contains(u"\"righe\":5"_s));
                copied.removeLast();
            }
            QCOMPARE(copied, dump(fromFile, *t));
        }
        const qint64 next = onServer.insert(u"TBL_NUCLEO"_s, {u"CODICE_NUCLEO"_s}, {u"QX40"_s});
        QCOMPARE(next, 4);  // never QX30's counter again

        run = initDb({u"--copy-from"_s, file, connection});
        QCOMPARE(run.code, 1);
        QVERIFY2(run.err.contains(u"contiene già le tabelle"_s), qPrintable(run.err));
        QCOMPARE(Sql(connection).count(u"TBL_NUCLEO"_s), 3);
    }

    // Two desks on one database: the optimistic check refuses a change to a
    // row the other changed or deleted; members stored in turn are all kept;
    // the same code drawn at both is stored once; changes of the other desk
    // are announced, one's own are not.
    void twoDesks() {
        const QString connection = TestServer::instance().newDatabase();
        TdmMarvesa a, b;
        a.DataModuleCreate(connection);
        b.DataModuleCreate(connection);
        QStringList announced;
        a.cnQuaz.engine().watchChanges([&](const QStringList& t) { announced << t; });
        add(a.TBL_NUCLEO, "CODICE_NUCLEO", "QX1");
        add(a.TBL_NUCLEO, "CODICE_NUCLEO", "QX2");
        a.TBL_NUCLEO.refresh();
        b.TBL_NUCLEO.refresh();
        b.TBL_NUCLEO.first();
        b.TBL_NUCLEO.edit();
        set(b.TBL_NUCLEO, "DENOMINAZIONE", "di B");
        a.TBL_NUCLEO.first();
        change(a.TBL_NUCLEO, "DENOMINAZIONE", "di A");
        QVERIFY(errorOf([&] { b.TBL_NUCLEO.post(); }).contains(u"modificata o cancellata"_s));
        QCOMPARE(b.TBL_NUCLEO.state(), dsEdit);
        b.TBL_NUCLEO.cancel();
        b.TBL_NUCLEO.last();
        b.TBL_NUCLEO.edit();
        set(b.TBL_NUCLEO, "DENOMINAZIONE", "di B");
        a.TBL_NUCLEO.last();
        a.TBL_NUCLEO.remove();
        QVERIFY(errorOf([&] { b.TBL_NUCLEO.post(); }).contains(u"modificata o cancellata"_s));
        b.TBL_NUCLEO.cancel();
        b.TBL_NUCLEO.refresh();
        QCOMPARE(text(b.TBL_NUCLEO, "DENOMINAZIONE"), u"di A"_s);

        // Members of the same family unit, stored in turn by both.
        b.TBL_NUCLEO.first();
        for (int i = 0; i < 20; ++i) {
            add(a.TBL_ANAGRAFICA, "COGNOME", qPrintable(u"A%1"_s.arg(i)));
            add(b.TBL_ANAGRAFICA, "COGNOME", qPrintable(u"B%1"_s.arg(i)));
        }
        Sql sql(connection);
        QCOMPARE(sql.count(u"TBL_ANAGRAFICA"_s, u"CODICE_NUCLEO = 'QX1'"_s), 40);
        QCOMPARE(sql.count(u"TBL_ANAGRAFICA"_s, u"COGNOME IN ('A19', 'B19', 'A0', 'B0')"_s), 4);

        // Both draw the same code at once: the second to store it is refused.
        Random::seed(77);
        const QString codeA =
            drawFamilyCode([&](const QString& c) { return familyCodeStored(a, c); });
        Random::seed(77);
        const QString codeB =
            drawFamilyCode([&](const QString& c) { return familyCodeStored(b, c); });
        QCOMPARE(codeA, codeB);
        a.TBL_NUCLEO.insert();
        b.TBL_NUCLEO.insert();
        a.TBL_NUCLEO.setFieldValue(u"CODICE_NUCLEO"_s, Value::text(codeA));
        b.TBL_NUCLEO.setFieldValue(u"CODICE_NUCLEO"_s, Value::text(codeB));
        a.TBL_NUCLEO.post();
        bool refused = false;
        try {
            b.TBL_NUCLEO.post();
        } catch (const UniqueViolation&) {
            refused = true;
        }
        QVERIFY(refused);
        QCOMPARE(b.TBL_NUCLEO.state(), dsInsert);
        QCOMPARE(sql.count(u"TBL_NUCLEO"_s, u"CODICE_NUCLEO = '%1'"_s.arg(codeA)), 1);
        b.TBL_NUCLEO.cancel();

        // A hears B's changes, and nothing of its own.
        QTRY_VERIFY(announced.contains(u"TBL_ANAGRAFICA"_s));
        QTest::qWait(200);
        announced.clear();
        add(a.TBL_NUCLEO, "CODICE_NUCLEO", "QX8");
        QTest::qWait(300);
        QCOMPARE(announced, QStringList());
        add(b.TBL_NUCLEO, "CODICE_NUCLEO", "QX9");
        QTRY_COMPARE(announced, QStringList{u"TBL_NUCLEO"_s});
    }

    // The server stops and starts again under a running window: the "Salva"
    // in between fails with a message and keeps what was typed; the next one
    // stores the row, once. The same after a restart while nobody worked.
    void serverGoesAwayAndComesBack() {
        ScriptedDialogs* dialogs = nullptr;
        WindowFixture f;
        dialogs = &f.dialogs;
        TfrmMain& w = f.w();
        const QString connection = f.path;
        const int families = Sql(connection).count(u"TBL_NUCLEO"_s);

        click(w.btnNewNucleo);
        typeInto(w.edtDescNucleo, "famiglia test");
        typeInto(w.dbeOspite, "mario bianchi");
        typeInto(w.dbeComune, "Udine");
        typeInto(w.dbeIndirizzo, "via roma 1");
        typeInto(w.dbeTelefono, "0432 111222");
        const QString code = w.edtCodiceNucleo->caption();
        serverControl(u"stop"_s);
        click(w.btnSaveNucleo);
        QCOMPARE(dialogs->shown.size(), 1);
        const QString message = dialogs->shown.at(0).text;
        QVERIFY2(message.startsWith(u"Il collegamento con il database \""_s), qPrintable(message));
        QCOMPARE(f.nucleo().state(), dsInsert);
        QCOMPARE(w.edtDescNucleo->text(), u"FAMIGLIA TEST"_s);
        QCOMPARE(w.edtCodiceNucleo->caption(), code);
        // While the server is away, every "Salva" says so.
        click(w.btnSaveNucleo);
        QCOMPARE(dialogs->shown.size(), 2);
        QVERIFY2(dialogs->shown.at(1).text.startsWith(u"Impossibile collegarsi al database"_s),
                 qPrintable(dialogs->shown.at(1).text));
        serverControl(u"start"_s);
        click(w.btnSaveNucleo);
        QCOMPARE(dialogs->shown.size(), 2);
        QCOMPARE(f.nucleo().state(), dsBrowse);
        Sql sql(connection);
        QCOMPARE(sql.count(u"TBL_NUCLEO"_s), families + 1);
        QCOMPARE(sql.count(u"TBL_NUCLEO"_s, u"CODICE_NUCLEO = '%1'"_s.arg(code)), 1);

        // Restarted while the window waited: the dead connection fails the
        // first "Salva" only.
        click(w.btnEditNucleo);
        typeInto(w.dbeTelefono, " 333");
        serverControl(u"stop"_s);
        serverControl(u"start"_s);
        click(w.btnSaveNucleo);
        QCOMPARE(dialogs->shown.size(), 3);
        QCOMPARE(f.nucleo().state(), dsEdit);
        click(w.btnSaveNucleo);
        QCOMPARE(dialogs->shown.size(), 3);
        QCOMPARE(f.nucleo().state(), dsBrowse);
        QCOMPARE(Sql(connection)
                     .one(u"SELECT TELEFONO FROM TBL_NUCLEO WHERE CODICE_NUCLEO = ?"_s, {code})
                     .toString(),
                 u"0432 111222 333"_s);
    }
};

MARVESA_TEST_MAIN(TstServer)
#include "tst_server.moc"
