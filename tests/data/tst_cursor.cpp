// The table cursors on real database files: operations and states, the order
// of their notifications, the edge cases of moving and deleting, the member
// table following the family unit, failures that keep the pending row, closed
// tables, refresh, and two copies of the program on one file.

#include <QtTest>

#include "support/DataTestSupport.h"

using namespace marvesa;
using namespace marvesa::test;
using namespace Qt::StringLiterals;

namespace {

// Every insert, update and delete on the two tables is written to WRITES, so
// tests can see what was stored and when.
void logWrites(Sql& sql) {
    if (sql.onServer()) {
        sql.exec(u"CREATE TABLE WRITES (n bigserial PRIMARY KEY, what text)"_s);
        sql.exec(
            u"CREATE FUNCTION log_write() RETURNS trigger LANGUAGE plpgsql AS $$ "
            "DECLARE r jsonb; BEGIN "
            "IF TG_OP = 'DELETE' THEN r := to_jsonb(OLD); ELSE r := to_jsonb(NEW); END IF; "
            "INSERT INTO WRITES (what) VALUES (TG_TABLE_NAME || ' ' || TG_OP || ' ' || "
            "(r->>('ID_' || substr(TG_TABLE_NAME, 5)))); RETURN NULL; END $$"_s);
        for (const QString& t : {u"TBL_NUCLEO"_s, u"TBL_ANAGRAFICA"_s})
            sql.exec(
                u"CREATE TRIGGER log_write AFTER INSERT OR UPDATE OR DELETE ON %1 "
                "FOR EACH ROW EXECUTE FUNCTION log_write()"_s.arg(t));
        return;
    }
    sql.exec(u"CREATE TABLE WRITES (n INTEGER PRIMARY KEY, what TEXT)"_s);
    for (const QString& t : {u"NUCLEO"_s, u"ANAGRAFICA"_s}) {
        for (const QString& op : {u"INSERT NEW"_s, u"UPDATE NEW"_s, u"DELETE OLD"_s}) {
            sql.exec(
                u"CREATE TRIGGER \"%1 %2\" AFTER %2 ON TBL_%1 BEGIN INSERT INTO WRITES (what) "
                "VALUES ('TBL_%1 %2 ' || %3.ID_%1); END"_s.arg(t, op.left(6), op.mid(7)));
        }
    }
}

const QString NotEditing = QStringLiteral("TBL_NUCLEO: Dataset not in edit or insert mode");

// An expected run of announcements, "|"-separated; "N:" stands for
// "dsNUCLEO:", "A:" for "dsANAGRAFICA:".
QStringList events(const char* list) {
    return QString::fromLatin1(list)
        .replace(u"N:"_s, u"dsNUCLEO:"_s)
        .replace(u"A:"_s, u"dsANAGRAFICA:"_s)
        .split(u'|');
}

// The texts of `column` from the current row of `ds` to its end.
QStringList walk(DataSet& ds, const char* column) {
    QStringList r;
    for (; !ds.eof(); ds.next())
        r << text(ds, column);
    return r;
}

}  // namespace

class TestCursor : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_path;
    std::unique_ptr<Sql> m_sql;
    std::unique_ptr<TdmMarvesa> m_dm;
    std::unique_ptr<Recorder> m_rec;

    DataSet& nucleo() { return m_dm->TBL_NUCLEO; }
    DataSet& members() { return m_dm->TBL_ANAGRAFICA; }
    // What is announced while `op` runs, with "stored" put before the first
    // announcement that follows a write to the database.
    QStringList logOf(const std::function<void()>& op) {
        const auto writeCount = [&] { return m_sql->count(u"WRITES"_s); };
        int written = writeCount();
        m_rec->clear();
        m_rec->onEvent = [&](const QString&, DataEvent) {
            if (writeCount() != written) {
                written = writeCount();
                m_rec->log.insert(m_rec->log.size() - 1, u"stored"_s);
            }
        };
        op();
        m_rec->onEvent = nullptr;
        return m_rec->log;
    }
    // What was stored since the last look.
    QStringList writes() {
        QStringList r;
        for (const QVariant& v : m_sql->exec(u"SELECT what FROM WRITES ORDER BY n"_s))
            r << v.toString();
        m_sql->exec(u"DELETE FROM WRITES"_s);
        return r;
    }
    // How many columns of the first row of `from` ("TABLE WHERE ...") are
    // not NULL.
    // The columns of the first row of `from` that hold a value, besides the
    // key every new row carries (the program's own, never a field).
    int filled(const QString& from) {
        int r = 0;
        for (const QVariant& v : m_sql->rows(u"SELECT * FROM "_s + from).value(0))
            r += v.isNull() ? 0 : 1;
        const QString key = m_sql->one(u"SELECT CHIAVE_RIGA FROM "_s + from).toString();
        return key.size() == 36 ? r - 1 : -1;  // a new row without its key counts as wrong
    }
    // Where `ds` stands: the current row, its `column`, then "bof" and "eof"
    // for the flags that are set.
    QString at(DataSet& ds, const char* column = "CODICE_NUCLEO") {
        return u"%1 %2%3%4"_s.arg(ds.currentRow())
            .arg(text(ds, column), ds.bof() ? u" bof"_s : QString(),
                 ds.eof() ? u" eof"_s : QString());
    }

private slots:
    // Each test starts on a new database with three family units (QX3
    // without members) and four members entered out of family order, opened
    // by a data module that a recorder listens to.
    void init() {
        m_rec.reset();  // before the data module it listens to
        m_dm.reset();
        m_path = newDatabase(m_dir, u"c-%1.db"_s.arg(QUuid::createUuid().toString(QUuid::Id128)));
        m_sql = std::make_unique<Sql>(m_path);
        for (const QString& code : {u"QX1"_s, u"QX2"_s, u"QX3"_s})
            m_sql->addNucleo(code);
        m_sql->addMember(u"QX2"_s, u"Bianchi"_s);
        m_sql->addMember(u"QX1"_s, u"Rossi"_s);
        m_sql->addMember(u"QX1"_s, u"Verdi"_s);
        m_sql->addMember(u"QX2"_s, u"Neri"_s);
        logWrites(*m_sql);
        m_dm = std::make_unique<TdmMarvesa>();
        m_rec = std::make_unique<Recorder>();
        listenToModule(*m_rec, *m_dm);
        m_dm->DataModuleCreate(m_path);
    }

    // Every state-change handler call came from its own data source.
    void cleanup() { QCOMPARE(m_rec->wrongSenders, 0); }

    void openAndMoves() {
        // Opening announces dsBrowse through both handlers, family units first.
        QCOMPARE(m_rec->stateChanges(), events("N:StateChange(dsBrowse)|A:StateChange(dsBrowse)"));
        QCOMPARE(at(nucleo()), u"0 QX1 bof"_s);

        // Each move and where it lands. Next on the last row sets the end flag
        // and keeps the row; next there again, like prior on the first row,
        // does nothing.
        DataSet& n = nucleo();
        const QList<QPair<std::function<void()>, const char*>> moves = {
            {[&] { n.next(); }, "1 QX2"},      {[&] { n.next(); }, "2 QX3"},
            {[&] { n.next(); }, "2 QX3 eof"},  {[&] { n.next(); }, "2 QX3 eof"},
            {[&] { n.prior(); }, "1 QX2"},     {[&] { n.prior(); }, "0 QX1"},
            {[&] { n.prior(); }, "0 QX1 bof"}, {[&] { n.prior(); }, "0 QX1 bof"},
            {[&] { n.last(); }, "2 QX3 eof"},  {[&] { n.first(); }, "0 QX1 bof"},
            {[&] { n.moveTo(2); }, "2 QX3"},  // a grid's move
        };
        for (const auto& move : moves) {
            move.first();
            QCOMPARE(at(n), QString::fromLatin1(move.second));
        }

        // A grid click below an unchanged new row abandons it and lands on the
        // row clicked (it once landed one row too far down).
        n.first();
        n.insert();
        QCOMPARE(n.rowCount(), 4);
        n.moveTo(2);  // QX2 as the grid shows it
        QCOMPARE(n.state(), dsBrowse);
        QCOMPARE(at(n), u"1 QX2"_s);
    }

    void stateTable() {
        DataSet& n = nucleo();
        // After each step: the state, what was stored (nullptr: nothing) and the
        // state-handler calls (nullptr: no announcement at all).
        const auto step = [&](DataSetState state, const char* stored, const char* changes) {
            const QStringList announced = m_rec->log;
            m_rec->clear();
            QCOMPARE(n.state(), state);
            QCOMPARE(writes(), stored ? L(stored) : QStringList());
            if (changes)
                QCOMPARE(announced.filter(u":StateChange("_s), events(changes));
            else
                QVERIFY(announced.isEmpty());
        };
        m_rec->clear();

        // dsBrowse: post and column writes are errors; cancel does nothing.
        QCOMPARE(errorOf([&] { n.post(); }), NotEditing);
        QCOMPARE(errorOf([&] { set(n, "DENOMINAZIONE", "x"); }), NotEditing);
        n.cancel();
        step(dsBrowse, nullptr, nullptr);
        // dsEdit: edit does nothing; insert posts the changed row first.
        n.edit();
        step(dsEdit, nullptr, "N:StateChange(dsEdit)");
        n.edit();
        step(dsEdit, nullptr, nullptr);
        set(n, "TELEFONO", "0461 000000");
        n.insert();
        step(dsInsert, "TBL_NUCLEO UPDATE 1", "N:StateChange(dsBrowse)|N:StateChange(dsInsert)");
        // dsInsert: edit does nothing; insert abandons the unchanged new row,
        // then enters dsInsert again; cancel and delete abandon it, deleting
        // nothing.
        n.edit();
        step(dsInsert, nullptr, nullptr);
        n.insert();
        step(dsInsert, nullptr, "N:StateChange(dsBrowse)|N:StateChange(dsInsert)");
        n.cancel();
        step(dsBrowse, nullptr, "N:StateChange(dsBrowse)");
        n.insert();
        set(n, "CODICE_NUCLEO", "QX5");
        n.remove();
        step(dsBrowse, nullptr, "N:StateChange(dsInsert)|N:StateChange(dsBrowse)");

        // dsEdit and dsInsert -> first, next, prior, last, refresh, a grid's
        // move: the pending edit is ended (a changed row stored, an unchanged
        // new row abandoned), then the move.
        const QList<QPair<const char*, std::function<void()>>> moves = {
            {"first", [&] { n.first(); }},     {"next", [&] { n.next(); }},
            {"prior", [&] { n.prior(); }},     {"last", [&] { n.last(); }},
            {"refresh", [&] { n.refresh(); }}, {"moveTo", [&] { n.moveTo(0); }}};
        for (const auto& move : moves) {
            n.moveTo(1);
            n.edit();
            n.setFieldValue(u"INDIRIZZO"_s, Value::text(QString::fromLatin1(move.first)));
            move.second();
            QCOMPARE(m_sql->count(u"TBL_NUCLEO"_s, u"INDIRIZZO = '%1'"_s.arg(move.first)), 1);
            n.insert();
            move.second();
            QVERIFY2(n.state() == dsBrowse, move.first);
            QCOMPARE(n.rowCount(), 3);
        }
    }

    void notificationOrder() {
        DataSet& n = nucleo();
        // insert: ending a pending edit (the member table's first), dsInsert,
        // then the new row is shown; the member table empties after that.
        QCOMPARE(logOf([&] { n.insert(); }),
                 events("N:deCheckBrowseMode|A:deCheckBrowseMode|N:deUpdateState(dsInsert)|"
                        "N:StateChange(dsInsert)|N:deDataSetChange|A:deCheckBrowseMode|"
                        "A:deCheckBrowseMode|A:deDataSetChange"));

        // post: deUpdateRecord, deCheckBrowseMode, storing, dsBrowse, the stored
        // row shown; the member table follows the new code.
        set(n, "CODICE_NUCLEO", "QX9");
        QCOMPARE(logOf([&] { n.post(); }),
                 events("N:deUpdateRecord|N:deCheckBrowseMode|A:deCheckBrowseMode|stored|"
                        "N:deUpdateState(dsBrowse)|N:StateChange(dsBrowse)|N:deDataSetChange|"
                        "A:deCheckBrowseMode|A:deCheckBrowseMode|A:deDataSetChange"));

        // edit: ending a pending edit, dsEdit, deRecordChange; the member
        // table's link re-checks the code and finds it unchanged.
        n.moveTo(1);  // QX1, after the new QX9
        QCOMPARE(logOf([&] { n.edit(); }),
                 events("N:deCheckBrowseMode|A:deCheckBrowseMode|N:deUpdateState(dsEdit)|"
                        "N:StateChange(dsEdit)|N:deRecordChange|A:deCheckBrowseMode"));

        // A column write announces the column.
        QCOMPARE(logOf([&] { set(n, "DENOMINAZIONE", "Nuova"); }),
                 events("N:deFieldChange(DENOMINAZIONE)"));

        // cancel: deCheckBrowseMode, discarding, dsBrowse, the row shown again.
        QCOMPARE(logOf([&] { n.cancel(); }),
                 events("N:deCheckBrowseMode|A:deCheckBrowseMode|N:deUpdateState(dsBrowse)|"
                        "N:StateChange(dsBrowse)|N:deDataSetChange|A:deCheckBrowseMode"));
        QCOMPARE(text(n, "DENOMINAZIONE"), u"Famiglia QX1"_s);

        // delete in dsBrowse: deCheckBrowseMode, deleting, no state change, the
        // next row shown; the member table shows its family's members.
        QCOMPARE(logOf([&] { n.remove(); }),
                 events("N:deCheckBrowseMode|A:deCheckBrowseMode|stored|N:deDataSetChange|"
                        "A:deCheckBrowseMode|A:deCheckBrowseMode|A:deDataSetChange"));

        // delete in dsEdit: the row goes with its pending change; the state
        // change comes after deleting.
        n.edit();
        set(n, "DENOMINAZIONE", "Mai salvata");
        QCOMPARE(logOf([&] { n.remove(); }),
                 events("N:deCheckBrowseMode|A:deCheckBrowseMode|stored|N:deUpdateState(dsBrowse)|"
                        "N:StateChange(dsBrowse)|N:deDataSetChange|A:deCheckBrowseMode|"
                        "A:deCheckBrowseMode|A:deDataSetChange"));
    }

    void deletesAndEmptyTables() {
        DataSet& n = nucleo();
        // The second of three: the third becomes current.
        n.moveTo(1);
        n.remove();
        QCOMPARE(at(n), u"1 QX3"_s);
        // Back to three; delete the last: the new last row, end flag clear.
        m_sql->addNucleo(u"QX4"_s);
        n.refresh();
        n.last();
        n.remove();
        QCOMPARE(at(n), u"1 QX3"_s);
        // Deleting from the first while the end flag is clear empties the table;
        // with the only row gone there is no current row and both flags are set.
        writes();
        for (n.first(); !n.eof();)
            n.remove();
        QCOMPARE(writes(), L("TBL_NUCLEO DELETE 1|TBL_NUCLEO DELETE 3"));
        QCOMPARE(at(n), u"-1 <NULL> bof eof"_s);
        QCOMPARE(errorOf([&] { n.remove(); }),
                 u"TBL_NUCLEO: Cannot perform this operation on an empty dataset"_s);
        // Reading the code of the empty table gives NULL, which is no text.
        QCOMPARE(errorOf([&] { n.fieldValue(u"CODICE_NUCLEO"_s).toText(); }),
                 u"Could not convert variant of type (Null) into type (OleStr)"_s);

        // Edit on the empty table: dsInsert, no error. Posting the untouched row
        // stores only its counter and the database's default DATA_INSERIMENTO.
        m_rec->clear();
        n.edit();
        QCOMPARE(m_rec->stateChanges(), events("N:StateChange(dsInsert)"));
        n.post();
        QCOMPARE(writes().size(), 1);
        QCOMPARE(filled(u"TBL_NUCLEO"_s), 2);
        // An untouched new member row stores its family code besides those.
        change(n, "CODICE_NUCLEO", "QX1");
        members().insert();
        members().post();
        QCOMPARE(filled(u"TBL_ANAGRAFICA WHERE ID_ANAGRAFICA = 5"_s), 3);
        QCOMPARE(m_sql->row(u"SELECT CODICE_NUCLEO FROM TBL_ANAGRAFICA WHERE ID_ANAGRAFICA = 5"_s),
                 u"QX1"_s);

        // An empty table that receives rows elsewhere stands after refresh on
        // its first row with the end flag clear, so a walk from there visits
        // every row (the end flag once stayed set and the walk visited nothing).
        // The staging table comes in family code order (as text), then counter.
        DataSet& x = m_dm->TBL_EXPORT;
        m_sql->exec(
            u"INSERT INTO TBL_EXPORT (CODICE_NUCLEO, COGNOME) VALUES ('QX2', 'n0'), "
            "('QX10', 'n1'), ('QX1', 'n2'), ('QX2', 'n3'), ('QX1', 'n4')"_s);
        x.refresh();
        QCOMPARE(walk(x, "COGNOME"), L("n2|n4|n1|n0|n3"));
    }

    void memberTableFollowsFamilyUnit() {
        // Members of the current family unit only, in counter order.
        QCOMPARE(walk(members(), "COGNOME"), L("Rossi|Verdi"));

        // A new member row shows its family code at once, unmodified; with
        // nothing typed it is abandoned, before anything else, when TBL_NUCLEO
        // starts "Crea Nucleo".
        members().insert();
        QCOMPARE(members().fieldByName(u"CODICE_NUCLEO"_s)->displayText(), u"QX1"_s);
        QVERIFY(!members().modified());
        m_rec->clear();
        nucleo().insert();
        QCOMPARE(m_rec->stateChanges(), events("A:StateChange(dsBrowse)|N:StateChange(dsInsert)"));
        QVERIFY(writes().isEmpty());
        // No members while the family unit is new, also once its code is typed;
        // "Annulla" brings back the family unit current before and its members,
        // the first one current.
        set(nucleo(), "CODICE_NUCLEO", "QX2");
        QCOMPARE(at(members(), "COGNOME"), u"-1 <NULL> bof eof"_s);
        nucleo().cancel();
        QCOMPARE(at(nucleo()), u"0 QX1 bof"_s);
        QCOMPARE(at(members(), "COGNOME"), u"0 Rossi bof"_s);

        // Moving the family unit shows the members of the next one.
        nucleo().next();
        QCOMPARE(walk(members(), "COGNOME"), L("Bianchi|Neri"));

        // Between two family units with the same code the member table keeps
        // its current row. (New databases refuse a repeated code; older ones
        // may hold some.)
        m_sql->exec(u"DROP INDEX IDX_NUCLEO_CODICE_NUCLEO"_s);
        m_sql->addNucleo(u"QX1"_s, u"Seconda"_s);
        nucleo().refresh();
        nucleo().first();
        members().next();
        m_rec->clear();
        nucleo().last();
        QCOMPARE(text(nucleo(), "DENOMINAZIONE"), u"Seconda"_s);
        QCOMPARE(at(members(), "COGNOME"), u"1 Verdi"_s);
        QVERIFY(m_rec->of(u"dsANAGRAFICA"_s).filter(u"deDataSetChange"_s).isEmpty());
    }

    void failedStoreKeepsThePendingRow() {
        // A new family unit the database refuses: the engine's message, without
        // the table's name; the table stays in dsInsert with its pending values.
        if (m_sql->onServer()) {
            m_sql->exec(
                u"CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
                "RAISE EXCEPTION 'Denominazione rifiutata'; END $$"_s);
            m_sql->exec(
                u"CREATE TRIGGER refuse BEFORE INSERT ON TBL_NUCLEO FOR EACH ROW WHEN "
                "(NEW.DENOMINAZIONE = 'RIFIUTA') EXECUTE FUNCTION refuse()"_s);
        } else {
            m_sql->exec(
                u"CREATE TRIGGER refuse BEFORE INSERT ON TBL_NUCLEO WHEN NEW.DENOMINAZIONE = "
                "'RIFIUTA' BEGIN SELECT RAISE(ABORT, 'Denominazione rifiutata'); END"_s);
        }
        DataSet& n = nucleo();
        n.insert();
        set(n, "CODICE_NUCLEO", "QX8");
        set(n, "DENOMINAZIONE", "RIFIUTA");
        const QString message = errorOf([&] { n.post(); });
        QVERIFY2(message.contains(QLatin1String("Denominazione rifiutata")), qPrintable(message));
        QVERIFY2(!message.startsWith(QLatin1String("TBL_NUCLEO: ")), qPrintable(message));
        QCOMPARE(n.state(), dsInsert);
        QCOMPARE(text(n, "CODICE_NUCLEO"), u"QX8"_s);
        QVERIFY(writes().isEmpty());
        // Corrected, it is stored.
        set(n, "DENOMINAZIONE", "Accettata");
        n.post();
        // (A server does not give back the counter the refused row drew.)
        QCOMPARE(writes(), QStringList{u"TBL_NUCLEO INSERT %1"_s.arg(
                               m_sql->one(u"SELECT max(ID_NUCLEO) FROM TBL_NUCLEO"_s).toInt())});
    }

    void closingAndClosedTables() {
        DataSet& n = nucleo();
        // Closing the data store while a family unit and a member are being
        // changed stores neither (the family unit's cancel once made the member
        // table post its row).
        n.edit();
        set(n, "DENOMINAZIONE", "Mai");
        members().edit();
        set(members(), "COGNOME", "Mai");
        m_rec->clear();
        m_dm->closeDataStore();
        QCOMPARE(m_rec->stateChanges(),
                 events("A:StateChange(dsBrowse)|N:StateChange(dsBrowse)|"
                        "N:StateChange(dsInactive)|A:StateChange(dsInactive)"));
        QVERIFY(writes().isEmpty());
        QCOMPARE(at(n), u"-1 <NULL> bof eof"_s);

        // On a closed table every operation but cancel fails, announcing nothing.
        const QString closed = u"TBL_NUCLEO: Cannot perform this operation on a closed dataset"_s;
        m_rec->clear();
        for (const auto& op : QList<std::function<void()>>{
                 [&] { n.first(); }, [&] { n.next(); }, [&] { n.prior(); }, [&] { n.last(); },
                 [&] { n.insert(); }, [&] { n.edit(); }, [&] { n.remove(); }, [&] { n.refresh(); },
                 [&] { n.recordCount(); }, [&] { n.moveTo(0); }})
            QCOMPARE(errorOf(op), closed);
        n.cancel();
        QCOMPARE(n.state(), dsInactive);
        QVERIFY(m_rec->log.isEmpty());
    }

    void twoCopiesOnOneFile() {
        // A second copy of the program, B, opens the same file while the first,
        // A, has it open; both store rows, and refresh reads the other's rows
        // and keeps the current row.
        TdmMarvesa b;
        b.DataModuleCreate(m_path);
        DataSet& bn = b.TBL_NUCLEO;
        add(bn, "CODICE_NUCLEO", "QX20");
        add(nucleo(), "CODICE_NUCLEO", "QX21");
        nucleo().refresh();
        bn.refresh();
        QCOMPARE(nucleo().recordCount(), 5);
        QCOMPARE(bn.recordCount(), 5);
        QCOMPARE(text(nucleo(), "CODICE_NUCLEO"), u"QX21"_s);

        // A posts an edit in which nothing changed after B changed the row:
        // it stores nothing, so there is no conflict. A's own change of that
        // row, read before B's change, is refused with the operator's message
        // and stays pending; B's change stays.
        nucleo().first();
        bn.first();
        nucleo().edit();
        change(bn, "TELEFONO", "di B");
        nucleo().post();
        QCOMPARE(nucleo().state(), dsBrowse);
        nucleo().edit();
        set(nucleo(), "TELEFONO", "di A");
        QCOMPARE(errorOf([&] { nucleo().post(); }),
                 u"TBL_NUCLEO: la riga è stata modificata o cancellata da un altro utente dopo "
                 "essere stata letta e non è stata salvata. Annullare le modifiche e aggiornare "
                 "i dati"_s);
        QCOMPARE(nucleo().state(), dsEdit);
        QCOMPARE(m_sql->row(u"SELECT TELEFONO FROM TBL_NUCLEO WHERE ID_NUCLEO = 1"_s), u"di B"_s);
    }
};

QTEST_GUILESS_MAIN(TestCursor)
#include "tst_cursor.moc"
