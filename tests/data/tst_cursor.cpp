// The table cursors on real database files: every operation and state
// change, the order of their notifications, the edge cases of moving and
// deleting, the member table following the family-unit table, failures that
// leave the pending row in place, refresh, ordering, and two copies of the
// program working on one file.

#include <QtTest>

#include "DataTestSupport.h"

using namespace marvesa;
using namespace marvesa::test;
using namespace Qt::StringLiterals;

namespace {

// Standard rows: three family units (QX3 without members) and four members,
// entered out of family order.
void standardRows(Sql& sql) {
    sql.addNucleo(u"QX1"_s);
    sql.addNucleo(u"QX2"_s);
    sql.addNucleo(u"QX3"_s);
    sql.addMember(u"QX2"_s, u"Bianchi"_s);
    sql.addMember(u"QX1"_s, u"Rossi"_s);
    sql.addMember(u"QX1"_s, u"Verdi"_s);
    sql.addMember(u"QX2"_s, u"Neri"_s);
}

// Every insert, update and delete the database performs on the two tables is
// written to WRITES, so tests can see what was stored and when.
void logWrites(Sql& sql) {
    sql.exec(u"CREATE TABLE WRITES (n INTEGER PRIMARY KEY, what TEXT)"_s);
    for (const QString& t : {u"TBL_NUCLEO"_s, u"TBL_ANAGRAFICA"_s}) {
        const QString id = t == QLatin1String("TBL_NUCLEO") ? u"ID_NUCLEO"_s : u"ID_ANAGRAFICA"_s;
        for (const QString& op : {u"INSERT"_s, u"UPDATE"_s, u"DELETE"_s}) {
            const QString row = op == QLatin1String("DELETE") ? u"OLD"_s : u"NEW"_s;
            sql.exec(QStringLiteral("CREATE TRIGGER log_%1_%2 AFTER %2 ON %1 BEGIN "
                                    "INSERT INTO WRITES (what) VALUES ('%1 %2 ' || %3.%4); END")
                         .arg(t, op, row, id));
        }
    }
}

const QString Changed = QStringLiteral(
    "TBL_NUCLEO: la riga è stata modificata o cancellata da un altro utente dopo essere stata "
    "letta e non è stata salvata. Annullare le modifiche e aggiornare i dati");

// An expected run of announcements, "|"-separated; "N:" stands for
// "dsNUCLEO:", "A:" for "dsANAGRAFICA:".
QStringList events(const char* list) {
    QStringList r = L(list);
    for (QString& e : r) {
        if (e.startsWith(QLatin1String("N:")))
            e.replace(0, 2, u"dsNUCLEO:"_s);
        if (e.startsWith(QLatin1String("A:")))
            e.replace(0, 2, u"dsANAGRAFICA:"_s);
    }
    return r;
}

// The texts of `column` on each row, walked as the export walks a table:
// from the first row while the end flag is clear.
QStringList walk(DataSet& ds, const char* column) {
    QStringList r;
    for (ds.first(); !ds.eof(); ds.next())
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

    // A new database with `seed` applied, opened by a data module that a
    // recorder listens to.
    void start(const std::function<void(Sql&)>& seed = standardRows);
    DataSet& nucleo() { return m_dm->TBL_NUCLEO; }
    DataSet& members() { return m_dm->TBL_ANAGRAFICA; }
    QStringList log() const { return m_rec->log; }
    // What is announced while `op` runs.
    QStringList logOf(const std::function<void()>& op) {
        m_rec->clear();
        op();
        return log();
    }
    // The first column of each row of a query, as texts.
    QStringList strings(const QString& sql) {
        QStringList r;
        for (const QVariant& v : m_sql->exec(sql))
            r << v.toString();
        return r;
    }
    // What was stored since the last look.
    QStringList writes() {
        const QStringList r = strings(u"SELECT what FROM WRITES ORDER BY n"_s);
        m_sql->exec(u"DELETE FROM WRITES"_s);
        return r;
    }
    // The names of the columns that are not NULL in the only row of `table`.
    QStringList filledColumns(const QString& table) {
        const QList<QVariantList> rows = m_sql->rows(u"SELECT * FROM "_s + table);
        if (rows.size() != 1)
            return {u"%1 rows"_s.arg(rows.size())};
        const QStringList names =
            strings(u"SELECT name FROM pragma_table_info('%1') ORDER BY cid"_s.arg(table));
        QStringList r;
        for (int i = 0; i < names.size(); ++i)
            if (!rows[0].value(i).isNull())
                r << names[i];
        return r;
    }
    QStringList memberNames() {
        const int cognome = members().fieldByName(u"COGNOME"_s)->index();
        QStringList r;
        for (int i = 0; i < members().rowCount(); ++i)
            r << Field::displayTextOf(members().valueAt(i, cognome));
        return r;
    }
    // Where `ds` stands: the current row, its `column`, then "bof" and "eof"
    // for the flags that are set.
    QString at(DataSet& ds, const char* column = "CODICE_NUCLEO") {
        QStringList r = {QString::number(ds.currentRow()), text(ds, column)};
        if (ds.bof())
            r << u"bof"_s;
        if (ds.eof())
            r << u"eof"_s;
        return r.join(u' ');
    }
    // Makes the database refuse with `message` to store 'RIFIUTA' in `column`.
    void refuse(const char* op, const char* table, const char* column, const char* message) {
        m_sql->exec(QStringLiteral("CREATE TRIGGER refuse_%1_%2 BEFORE %1 ON %2 WHEN NEW.%3 = "
                                   "'RIFIUTA' BEGIN SELECT RAISE(ABORT, '%4'); END")
                        .arg(QLatin1String(op), QLatin1String(table), QLatin1String(column),
                             QLatin1String(message)));
    }

private slots:
    void cleanup();

    void openAndMoves();
    void stateTable();
    void notificationOrder();
    void notificationOrderWithPendingMember();
    void editAndInsertEdgeCases();
    void deleteEdgeCases();
    void postStoresExactlyWhatChanged();
    void controlsWriteTheirTextWhenEditEnds();
    void memberTableFollowsFamilyUnit();
    void sameCodeKeepsMemberRow();
    void failedStoreKeepsPendingRow();
    void closedTableAndClosingWhileEditing();
    void refreshKeepsRowAndShowsOtherChanges();
    void moveToWithPendingInsert();
    void twoCopiesOnOneFile();
};

void TestCursor::start(const std::function<void(Sql&)>& seed) {
    QVERIFY(m_dir.isValid());
    m_path = newDatabase(m_dir, u"c-%1.db"_s.arg(QUuid::createUuid().toString(QUuid::Id128)));
    m_sql = std::make_unique<Sql>(m_path);
    seed(*m_sql);
    logWrites(*m_sql);
    m_dm = std::make_unique<TdmMarvesa>();
    m_rec = std::make_unique<Recorder>();
    listenToModule(*m_rec, *m_dm);
    m_dm->DataModuleCreate(m_path);
}

void TestCursor::cleanup() {
    // Every state-change handler call of every test came from its own source.
    const int wrongSenders = m_rec ? m_rec->wrongSenders : 0;
    m_rec.reset();
    m_dm.reset();
    m_sql.reset();
    QCOMPARE(wrongSenders, 0);
}

void TestCursor::openAndMoves() {
    start();
    // Opening announces dsBrowse through both handlers, family units first.
    QCOMPARE(m_rec->stateChanges(), events("N:StateChange(dsBrowse)|A:StateChange(dsBrowse)"));
    for (DataSet* ds : {&m_dm->TBL_NUCLEO, &m_dm->TBL_ANAGRAFICA, &m_dm->TBL_COMUNI,
                        &m_dm->TBL_NAZIONI, &m_dm->TBL_EXPORT})
        QCOMPARE(ds->state(), dsBrowse);
    // Reference lists in their own order.
    QCOMPARE(text(m_dm->TBL_COMUNI, "Denominazione"),
             m_sql->one(u"SELECT Denominazione FROM TBL_SYS_COMUNI ORDER BY rowid LIMIT 1"_s)
                 .toString());
    QCOMPARE(at(nucleo()), u"0 QX1 bof"_s);
    QCOMPARE(nucleo().recordCount(), 3);
    // The empty staging table: no current row, both flags, nothing to walk.
    DataSet& x = m_dm->TBL_EXPORT;
    QCOMPARE(at(x), u"-1 <NULL> bof eof"_s);
    QCOMPARE(x.recordCount(), 0);
    QVERIFY(walk(x, "COGNOME").isEmpty());
    x.last();
    QCOMPARE(at(x), u"-1 <NULL> bof eof"_s);

    // Each move: where it lands and what TBL_NUCLEO announces (where given).
    // Next on the last row sets the end flag and keeps the row; next there
    // again, like prior on the first row, does nothing but end a pending edit.
    DataSet& n = nucleo();
    struct Move {
        std::function<void()> move;
        const char* at;
        const char* events;
    };
    const Move moves[] = {
        {[&] { n.next(); }, "1 QX2", "N:deCheckBrowseMode|N:deDataSetScroll"},
        {[&] { n.next(); }, "2 QX3", nullptr},
        {[&] { n.next(); }, "2 QX3 eof", nullptr},
        {[&] { n.next(); }, "2 QX3 eof", "N:deCheckBrowseMode"},
        {[&] { n.prior(); }, "1 QX2", nullptr},
        {[&] { n.prior(); }, "0 QX1", nullptr},
        {[&] { n.prior(); }, "0 QX1 bof", nullptr},
        {[&] { n.prior(); }, "0 QX1 bof", "N:deCheckBrowseMode"},
        {[&] { n.last(); }, "2 QX3 eof", "N:deCheckBrowseMode|N:deDataSetChange"},
        {[&] { n.first(); }, "0 QX1 bof", nullptr},
        {[&] { n.moveTo(2); }, "2 QX3", nullptr},  // a grid's move
        {[&] { n.moveTo(7); }, "2 QX3", nullptr},  // no such row: stays
    };
    for (const Move& m : moves) {
        m_rec->clear();
        m.move();
        QCOMPARE(at(n), QString::fromLatin1(m.at));
        if (m.events)
            QCOMPARE(m_rec->of(u"dsNUCLEO"_s), events(m.events));
    }
    // Opening an open table changes nothing.
    QVERIFY(logOf([&] { nucleo().open(); }).isEmpty());
}

void TestCursor::stateTable() {
    start();
    DataSet& n = nucleo();
    const QString notEditing = u"TBL_NUCLEO: Dataset not in edit or insert mode"_s;
    // After each step: the state, the stored rows, what was stored (nullptr:
    // nothing) and the state-handler calls (nullptr: no announcement at all).
    const auto step = [&](DataSetState state, int records, const char* stored,
                          const char* changes) {
        const QStringList announced = log();
        m_rec->clear();
        QCOMPARE(writes(), stored ? L(stored) : QStringList());
        QCOMPARE(n.state(), state);
        QCOMPARE(n.recordCount(), records);
        if (changes)
            QCOMPARE(announced.filter(u":StateChange("_s), events(changes));
        else
            QVERIFY(announced.isEmpty());
    };
    m_rec->clear();

    // dsBrowse: post and column writes are errors; cancel does nothing.
    QCOMPARE(errorOf([&] { n.post(); }), notEditing);
    QCOMPARE(errorOf([&] { set(n, "DENOMINAZIONE", "x"); }), notEditing);
    n.cancel();
    step(dsBrowse, 3, nullptr, nullptr);
    // dsBrowse -> edit -> dsEdit; edit again: nothing.
    n.edit();
    step(dsEdit, 3, nullptr, "N:StateChange(dsEdit)");
    n.edit();
    step(dsEdit, 3, nullptr, nullptr);
    // dsEdit -> insert: the changed row is posted first; edit in dsInsert:
    // nothing.
    set(n, "TELEFONO", "0461 000000");
    n.insert();
    step(dsInsert, 3, "TBL_NUCLEO UPDATE 1", "N:StateChange(dsBrowse)|N:StateChange(dsInsert)");
    n.edit();
    step(dsInsert, 3, nullptr, nullptr);
    // dsInsert -> insert: an unchanged new row is abandoned, a changed one
    // posted, then dsInsert again.
    n.insert();
    step(dsInsert, 3, nullptr, "N:StateChange(dsBrowse)|N:StateChange(dsInsert)");
    set(n, "CODICE_NUCLEO", "QX4");
    n.insert();
    step(dsInsert, 4, "TBL_NUCLEO INSERT 4", "N:StateChange(dsBrowse)|N:StateChange(dsInsert)");
    // dsInsert -> cancel -> dsBrowse; dsInsert -> post -> dsBrowse.
    n.cancel();
    step(dsBrowse, 4, nullptr, "N:StateChange(dsBrowse)");
    n.insert();
    set(n, "CODICE_NUCLEO", "QX5");
    n.post();
    step(dsBrowse, 5, "TBL_NUCLEO INSERT 5", "N:StateChange(dsInsert)|N:StateChange(dsBrowse)");
    QCOMPARE(text(n, "CODICE_NUCLEO"), u"QX5"_s);
    // dsInsert -> delete: the new row is abandoned, nothing is deleted.
    n.insert();
    set(n, "CODICE_NUCLEO", "QX6");
    n.remove();
    step(dsBrowse, 5, nullptr, "N:StateChange(dsInsert)|N:StateChange(dsBrowse)");
    // dsEdit -> delete: the row goes with its pending changes.
    n.edit();
    set(n, "DENOMINAZIONE", "Mai salvata");
    n.remove();
    step(dsBrowse, 4, "TBL_NUCLEO DELETE 5", "N:StateChange(dsEdit)|N:StateChange(dsBrowse)");

    // dsEdit and dsInsert -> first, next, prior, last, refresh, a grid's
    // move: the pending edit is ended, then the move.
    const QList<QPair<const char*, std::function<void()>>> moves = {
        {"first", [&] { n.first(); }},     {"next", [&] { n.next(); }},
        {"prior", [&] { n.prior(); }},     {"last", [&] { n.last(); }},
        {"refresh", [&] { n.refresh(); }}, {"moveTo", [&] { n.moveTo(0); }}};
    for (const auto& move : moves) {
        n.moveTo(1);
        n.edit();
        n.setFieldValue(u"INDIRIZZO"_s, Value::text(QString::fromLatin1(move.first)));
        move.second();
        QVERIFY2(n.state() == dsBrowse, move.first);
        QCOMPARE(writes().size(), 1);
        QCOMPARE(m_sql->count(u"TBL_NUCLEO"_s, u"INDIRIZZO = '%1'"_s.arg(move.first)), 1);
        n.insert();  // unchanged: abandoned by the move
        move.second();
        QVERIFY2(n.state() == dsBrowse, move.first);
        QVERIFY(writes().isEmpty());
        QCOMPARE(n.recordCount(), 4);
    }
}

void TestCursor::notificationOrder() {
    start();
    DataSet& n = nucleo();

    // Snapshots taken at each announcement: what is stored, the member code.
    QStringList seen;
    m_rec->onEvent = [&](const QString& source, DataEvent e) {
        if (source != QLatin1String("dsNUCLEO") || (e != deUpdateState && e != deCheckBrowseMode))
            return;
        seen << eventName(e) + u" writes="_s +
                    m_sql->one(u"SELECT count(*) FROM WRITES"_s).toString();
    };

    // insert: ending a pending edit (the member table's first), dsInsert,
    // then the new row is shown; the member table empties after that.
    QCOMPARE(logOf([&] { n.insert(); }),
             events("N:deCheckBrowseMode|A:deCheckBrowseMode|N:deUpdateState(dsInsert)|"
                    "N:StateChange(dsInsert)|N:deDataSetChange|A:deCheckBrowseMode|"
                    "A:deCheckBrowseMode|A:deDataSetChange"));
    QCOMPARE(members().rowCount(), 0);

    // post: deUpdateRecord, deCheckBrowseMode, storing, dsBrowse, the stored
    // row shown; the member table follows the new code.
    set(n, "CODICE_NUCLEO", "QX9");
    seen.clear();
    QCOMPARE(logOf([&] { n.post(); }),
             events("N:deUpdateRecord|N:deCheckBrowseMode|A:deCheckBrowseMode|"
                    "N:deUpdateState(dsBrowse)|N:StateChange(dsBrowse)|N:deDataSetChange|"
                    "A:deCheckBrowseMode|A:deCheckBrowseMode|A:deDataSetChange"));
    QCOMPARE(seen, L("deCheckBrowseMode writes=0|deUpdateState writes=1"));
    writes();

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
    seen.clear();
    QCOMPARE(logOf([&] { n.remove(); }),
             events("N:deCheckBrowseMode|A:deCheckBrowseMode|N:deDataSetChange|"
                    "A:deCheckBrowseMode|A:deCheckBrowseMode|A:deDataSetChange"));
    QCOMPARE(seen, L("deCheckBrowseMode writes=0"));
    QCOMPARE(writes(), L("TBL_NUCLEO DELETE 1"));
    QCOMPARE(memberNames(), L("Bianchi|Neri"));

    // delete in dsEdit: the state change comes after deleting.
    n.edit();
    seen.clear();
    QCOMPARE(logOf([&] { n.remove(); }).filter(u"dsNUCLEO:"_s),
             events("N:deCheckBrowseMode|N:deUpdateState(dsBrowse)|"
                    "N:StateChange(dsBrowse)|N:deDataSetChange"));
    QCOMPARE(seen, L("deCheckBrowseMode writes=0|deUpdateState writes=1"));

    // A member insert: dsInsert announced while the row is still without its
    // code; the code is there when the row is shown.
    n.first();
    QStringList codes;
    m_rec->onEvent = [&](const QString& source, DataEvent e) {
        if (source == QLatin1String("dsANAGRAFICA") && (e == deUpdateState || e == deDataSetChange))
            codes << eventName(e) + QLatin1Char(' ') + text(members(), "CODICE_NUCLEO");
    };
    QCOMPARE(logOf([&] { members().insert(); }),
             events("A:deCheckBrowseMode|A:deUpdateState(dsInsert)|A:StateChange(dsInsert)|"
                    "A:deDataSetChange"));
    QCOMPARE(codes, L("deUpdateState <NULL>|deDataSetChange QX9"));
    QVERIFY(!members().modified());
}

void TestCursor::notificationOrderWithPendingMember() {
    start();
    // A member being edited with a typed change: an insert on TBL_NUCLEO
    // first stores the member, then enters dsInsert.
    members().edit();
    members().fieldByName(u"COGNOME"_s)->setText(u"Rossini"_s);
    QCOMPARE(logOf([&] { nucleo().insert(); }),
             events("N:deCheckBrowseMode|A:deCheckBrowseMode|A:deUpdateRecord|"
                    "A:deUpdateRecord|A:deCheckBrowseMode|A:deUpdateState(dsBrowse)|"
                    "A:StateChange(dsBrowse)|A:deDataSetChange|N:deUpdateState(dsInsert)|"
                    "N:StateChange(dsInsert)|N:deDataSetChange|A:deCheckBrowseMode|"
                    "A:deCheckBrowseMode|A:deDataSetChange"));
    QCOMPARE(writes(), L("TBL_ANAGRAFICA UPDATE 2"));
    QCOMPARE(m_sql->one(u"SELECT COGNOME FROM TBL_ANAGRAFICA WHERE ID_ANAGRAFICA = 2"_s).toString(),
             u"Rossini"_s);

    // A new member row into which nothing was typed is abandoned, before
    // anything else, by edit, delete, refresh and moves of TBL_NUCLEO.
    const QList<QPair<const char*, std::function<void()>>> ops = {
        {"edit", [&] { nucleo().edit(); }},
        {"delete", [&] { nucleo().remove(); }},
        {"refresh", [&] { nucleo().refresh(); }},
        {"next", [&] { nucleo().next(); }},
    };
    nucleo().cancel();
    for (const auto& op : ops) {
        nucleo().first();
        members().insert();
        m_rec->clear();
        op.second();
        const QStringList changes = m_rec->stateChanges();
        QVERIFY2(!changes.isEmpty() &&
                     changes.first() == QLatin1String("dsANAGRAFICA:StateChange(dsBrowse)"),
                 op.first);
        QCOMPARE(members().state(), dsBrowse);
        QVERIFY2(writes().filter(u"TBL_ANAGRAFICA"_s).isEmpty(), op.first);
        if (nucleo().isEditing())
            nucleo().cancel();
    }
    // post and cancel of TBL_NUCLEO store the member's typed new row first.
    for (const bool doPost : {true, false}) {
        nucleo().first();
        nucleo().edit();
        members().insert();
        members().setFieldValue(u"COGNOME"_s, txt(doPost ? "DaPost" : "DaCancel"));
        m_rec->clear();
        doPost ? nucleo().post() : nucleo().cancel();
        QCOMPARE(m_rec->stateChanges(), events("A:StateChange(dsBrowse)|N:StateChange(dsBrowse)"));
        QCOMPARE(writes().filter(u"TBL_ANAGRAFICA INSERT"_s).size(), 1);
    }
}

void TestCursor::editAndInsertEdgeCases() {
    start([](Sql&) {});
    DataSet& n = nucleo();
    // Reading the code of an empty table gives NULL, which is no text.
    QCOMPARE(at(n), u"-1 <NULL> bof eof"_s);
    QCOMPARE(n.recordCount(), 0);
    QCOMPARE(errorOf([&] { n.fieldValue(u"CODICE_NUCLEO"_s).toText(); }),
             u"Could not convert variant of type (Null) into type (OleStr)"_s);
    // Edit on an empty table: dsInsert, no error.
    m_rec->clear();
    n.edit();
    QCOMPARE(n.state(), dsInsert);
    QCOMPARE(m_rec->stateChanges(), events("N:StateChange(dsInsert)"));
    QVERIFY(!n.modified());
    // Post of an untouched new row stores a row with only its counter and
    // the database's default for DATA_INSERIMENTO, the time of the insert.
    n.post();
    QCOMPARE(writes(), L("TBL_NUCLEO INSERT 1"));
    QCOMPARE(filledColumns(u"TBL_NUCLEO"_s), L("ID_NUCLEO|DATA_INSERIMENTO"));
    QCOMPARE(at(n, "ID_NUCLEO"), u"0 1"_s);
    QCOMPARE(n.fieldValue(u"DATA_INSERIMENTO"_s).toDateTime().date(), QDate::currentDate());
    // The member table follows a family unit whose code is NULL: no rows.
    QCOMPARE(members().rowCount(), 0);

    // A member insert into which nothing was typed stores only its code.
    change(n, "CODICE_NUCLEO", "QX1");
    members().insert();
    QCOMPARE(text(members(), "CODICE_NUCLEO"), u"QX1"_s);
    QVERIFY(!members().modified());
    members().post();
    QCOMPARE(filledColumns(u"TBL_ANAGRAFICA"_s), L("ID_ANAGRAFICA|CODICE_NUCLEO|DATA_INSERIMENTO"));
    QCOMPARE(m_sql->one(u"SELECT CODICE_NUCLEO FROM TBL_ANAGRAFICA"_s).toString(), u"QX1"_s);
    QCOMPARE(members().recordCount(), 1);

    // An insert is placed where the current row stood; cancel brings back
    // the row current before, with its flags.
    add(n, "CODICE_NUCLEO", "QX2");
    add(n, "CODICE_NUCLEO", "QX3");
    QCOMPARE(walk(n, "CODICE_NUCLEO"), L("QX3|QX2|QX1"));
    n.moveTo(1);
    n.insert();
    QCOMPARE(at(n), u"1 <NULL>"_s);
    QCOMPARE(n.rowCount(), 4);
    QCOMPARE(n.recordCount(), 3);
    QCOMPARE(members().rowCount(), 0);
    n.cancel();
    QCOMPARE(at(n), u"1 QX2"_s);
    n.last();
    n.next();
    n.insert();
    n.cancel();
    QCOMPARE(at(n), u"2 QX1 eof"_s);
    n.first();
    n.insert();
    n.cancel();
    QCOMPARE(at(n), u"0 QX3 bof"_s);
    // After the reopen, the stored order.
    n.close();
    n.open();
    QCOMPARE(walk(n, "CODICE_NUCLEO"), L("QX1|QX2|QX3"));
}

void TestCursor::deleteEdgeCases() {
    start();
    DataSet& n = nucleo();
    // The second of three: the third becomes current.
    n.moveTo(1);
    n.remove();
    QCOMPARE(at(n), u"1 QX3"_s);
    // Back to three; delete the last: the new last row, end flag clear.
    m_sql->addNucleo(u"QX4"_s);
    n.refresh();
    QCOMPARE(n.recordCount(), 3);
    n.last();
    QCOMPARE(at(n), u"2 QX4 eof"_s);
    n.remove();
    QCOMPARE(at(n), u"1 QX3"_s);
    n.next();
    QCOMPARE(at(n), u"1 QX3 eof"_s);
    // Deleting from the first while the end flag is clear empties the table.
    writes();
    int deleted = 0;
    for (n.first(); !n.eof(); ++deleted)
        n.remove();
    QCOMPARE(deleted, 2);
    QCOMPARE(writes(), L("TBL_NUCLEO DELETE 1|TBL_NUCLEO DELETE 3"));
    // The only row gone: no current row, both flags.
    QCOMPARE(at(n), u"-1 <NULL> bof eof"_s);
    QCOMPARE(n.recordCount(), 0);
    QCOMPARE(members().rowCount(), 0);
    // Delete on an empty table.
    QCOMPARE(errorOf([&] { n.remove(); }),
             u"TBL_NUCLEO: Cannot perform this operation on an empty dataset"_s);
    QCOMPARE(n.state(), dsBrowse);
    // Deleting a family unit leaves its members in the database.
    QCOMPARE(m_sql->count(u"TBL_ANAGRAFICA"_s), 4);
}

void TestCursor::postStoresExactlyWhatChanged() {
    start();
    DataSet& n = nucleo();
    // An edit in which nothing changed stores nothing: another copy's change
    // survives and no conflict is reported.
    n.edit();
    m_sql->exec(u"UPDATE TBL_NUCLEO SET TELEFONO = 'altro' WHERE ID_NUCLEO = 1"_s);
    writes();
    n.post();
    QCOMPARE(n.state(), dsBrowse);
    QVERIFY(writes().isEmpty());
    // Writing the value a column already holds is no change either.
    n.edit();
    set(n, "CODICE_NUCLEO", "QX1");
    QVERIFY(n.modified());
    n.post();
    QVERIFY(writes().isEmpty());
    // Only the changed column is written; the others keep the database's
    // values, the new value of TELEFONO among them after the refresh.
    n.refresh();
    QCOMPARE(text(n, "TELEFONO"), u"altro"_s);
    change(n, "DENOMINAZIONE", "Famiglia nuova");
    QCOMPARE(writes(), L("TBL_NUCLEO UPDATE 1"));
    QCOMPARE(m_sql->row(u"SELECT DENOMINAZIONE, TELEFONO FROM TBL_NUCLEO WHERE ID_NUCLEO = 1"_s),
             u"Famiglia nuova|altro"_s);
    // Values travel as bound parameters: quotes, SQL, backslashes, any
    // script, emoji are stored and read back as they went.
    const QStringList texts = {u"O'Brien \"il\" primo"_s, u"'; DROP TABLE TBL_NUCLEO; --"_s,
                               u"C:\\dB\\dbQuaz.mdb \\n \\0"_s, u"Łódź Ελλάδα Україна 日本 عربي"_s,
                               u"\U0001F600\U0001F1EE\U0001F1F9 %s %1 ? :nome @x $1"_s};
    for (const QString& t : texts) {
        members().insert();
        members().setFieldValue(u"COGNOME"_s, Value::text(t));
        members().setFieldValue(u"NOTE"_s, Value::text(t));
        members().post();
    }
    QCOMPARE(m_sql->count(u"TBL_NUCLEO"_s), 3);
    QCOMPARE(
        strings(u"SELECT NOTE FROM TBL_ANAGRAFICA WHERE NOTE = COGNOME ORDER BY ID_ANAGRAFICA"_s),
        texts);
    members().refresh();
    QCOMPARE(walk(members(), "NOTE"), L("<NULL>|<NULL>") + texts);
}

void TestCursor::controlsWriteTheirTextWhenEditEnds() {
    start();
    // A bound control with an unwritten change writes it on deUpdateRecord;
    // the row then counts as changed and is stored when the family-unit
    // table moves.
    QString unwritten = u"Scritta dal controllo"_s;
    m_rec->onEvent = [&](const QString& source, DataEvent e) {
        if (source == QLatin1String("dsANAGRAFICA") && e == deUpdateRecord &&
            !unwritten.isEmpty()) {
            members().fieldByName(u"FRONTIERA"_s)->setText(unwritten);
            unwritten.clear();
        }
    };
    members().edit();
    QVERIFY(!members().modified());
    writes();
    nucleo().next();
    QCOMPARE(writes(), L("TBL_ANAGRAFICA UPDATE 2"));
    QCOMPARE(
        m_sql->one(u"SELECT FRONTIERA FROM TBL_ANAGRAFICA WHERE ID_ANAGRAFICA = 2"_s).toString(),
        u"Scritta dal controllo"_s);
    QCOMPARE(memberNames(), L("Bianchi|Neri"));
    // Post makes the controls write first too.
    unwritten = u"Austria"_s;
    members().edit();
    members().post();
    QCOMPARE(text(members(), "FRONTIERA"), u"Austria"_s);
}

void TestCursor::memberTableFollowsFamilyUnit() {
    start();
    // Members of the current family unit only, in counter order; each move
    // of the family unit makes the first member current.
    QCOMPARE(memberNames(), L("Rossi|Verdi"));
    QCOMPARE(members().recordCount(), 2);
    QCOMPARE(at(members(), "COGNOME"), u"0 Rossi bof"_s);
    members().next();
    nucleo().next();
    QCOMPARE(memberNames(), L("Bianchi|Neri"));
    QCOMPARE(at(members(), "COGNOME"), u"0 Bianchi bof"_s);
    nucleo().next();
    QCOMPARE(members().rowCount(), 0);
    QCOMPARE(members().recordCount(), 0);
    QCOMPARE(at(members(), "COGNOME"), u"-1 <NULL> bof eof"_s);
    nucleo().first();
    QCOMPARE(memberNames(), L("Rossi|Verdi"));

    // "Crea Nucleo": while the family unit is new, no members; a member
    // insert meanwhile gets no code, and nothing is stored when nothing was
    // typed. Typing the family code does not re-filter while inserting.
    members().last();
    nucleo().insert();
    QCOMPARE(members().rowCount(), 0);
    QCOMPARE(at(members(), "COGNOME"), u"-1 <NULL> bof eof"_s);
    members().insert();
    QVERIFY(members().fieldValue(u"CODICE_NUCLEO"_s).isNull());
    members().cancel();
    set(nucleo(), "CODICE_NUCLEO", "QX2");
    QCOMPARE(members().rowCount(), 0);
    // "Annulla": the members of the family unit current again, the first one
    // current.
    nucleo().cancel();
    QVERIFY(writes().isEmpty());
    QCOMPARE(text(nucleo(), "CODICE_NUCLEO"), u"QX1"_s);
    QCOMPARE(memberNames(), L("Rossi|Verdi"));
    QCOMPARE(at(members(), "COGNOME"), u"0 Rossi bof"_s);
    // A stored new family unit has no members yet.
    add(nucleo(), "CODICE_NUCLEO", "QX7");
    QCOMPARE(members().rowCount(), 0);

    // Editing the family code shows the members of the code being typed;
    // other columns do not re-check the code; cancel shows the members of
    // the stored code again.
    nucleo().moveTo(1);  // QX1, after the new QX7
    nucleo().edit();
    set(nucleo(), "CODICE_NUCLEO", "QX2");
    QCOMPARE(memberNames(), L("Bianchi|Neri"));
    members().next();
    set(nucleo(), "DENOMINAZIONE", "x");
    QCOMPARE(members().currentRow(), 1);
    nucleo().cancel();
    QCOMPARE(memberNames(), L("Rossi|Verdi"));

    // Changing a family unit's other columns never changes its members' code.
    nucleo().edit();
    set(nucleo(), "DENOMINAZIONE", "Altra");
    set(nucleo(), "NOME_OSPITANTE", "Ospite");
    nucleo().setFieldValue(u"TERMINE_ALLOGGIO"_s, Value::date(QDate(2025, 1, 1)));
    nucleo().post();
    QCOMPARE(m_sql->count(u"TBL_ANAGRAFICA"_s, u"CODICE_NUCLEO = 'QX1'"_s), 2);
    QCOMPARE(memberNames(), L("Rossi|Verdi"));
    writes();

    // A new member row shows its family code at once, unmodified; with
    // nothing typed it is abandoned when the family unit moves.
    members().insert();
    QCOMPARE(text(members(), "CODICE_NUCLEO"), u"QX1"_s);
    QCOMPARE(members().fieldByName(u"CODICE_NUCLEO"_s)->displayText(), u"QX1"_s);
    QVERIFY(!members().modified());
    QCOMPARE(members().currentRow(), 0);
    QCOMPARE(members().rowCount(), 3);
    QCOMPARE(members().recordCount(), 2);
    nucleo().next();
    QCOMPARE(memberNames(), L("Bianchi|Neri"));
    // Typed into: stored with exactly the values it holds.
    members().insert();
    members().fieldByName(u"COGNOME"_s)->setText(u"Gialli"_s);
    nucleo().prior();
    QCOMPARE(writes(), L("TBL_ANAGRAFICA INSERT 5"));
    QCOMPARE(m_sql->row(u"SELECT CODICE_NUCLEO, COGNOME, NOME FROM TBL_ANAGRAFICA "
                        "WHERE ID_ANAGRAFICA = 5"_s),
             u"QX2|Gialli|<NULL>"_s);
    QCOMPARE(memberNames(), L("Rossi|Verdi"));
    // A stored member being edited without a change: abandoned when the
    // family unit moves.
    members().edit();
    nucleo().next();
    QCOMPARE(members().state(), dsBrowse);
    QVERIFY(writes().isEmpty());
}

void TestCursor::sameCodeKeepsMemberRow() {
    start([](Sql& sql) {
        sql.addNucleo(u"QX1"_s, u"Prima"_s);
        sql.addNucleo(u"QX1"_s, u"Seconda"_s);
        sql.addNucleo(u"QX2"_s);
        sql.addMember(u"QX1"_s, u"Rossi"_s);
        sql.addMember(u"QX1"_s, u"Verdi"_s);
    });
    members().next();
    QCOMPARE(text(members(), "COGNOME"), u"Verdi"_s);
    m_rec->clear();
    nucleo().next();
    QCOMPARE(text(nucleo(), "DENOMINAZIONE"), u"Seconda"_s);
    QCOMPARE(at(members(), "COGNOME"), u"1 Verdi"_s);
    QVERIFY(m_rec->of(u"dsANAGRAFICA"_s).filter(u"deDataSetChange"_s).isEmpty());
    // Another code: the first member of its family unit.
    nucleo().next();
    QCOMPARE(members().rowCount(), 0);
    nucleo().first();
    QCOMPARE(text(members(), "COGNOME"), u"Rossi"_s);
}

void TestCursor::failedStoreKeepsPendingRow() {
    start();
    refuse("UPDATE", "TBL_ANAGRAFICA", "COGNOME", "Cognome rifiutato");
    refuse("INSERT", "TBL_NUCLEO", "DENOMINAZIONE", "Denominazione rifiutata");
    refuse("UPDATE", "TBL_NUCLEO", "DENOMINAZIONE", "Denominazione rifiutata");
    // A member change the database refuses: the family unit does not move,
    // the member table keeps its filter and its editing state.
    members().next();
    members().edit();
    set(members(), "COGNOME", "RIFIUTA");
    for (const auto& op : QList<std::function<void()>>{
             [&] { nucleo().next(); }, [&] { nucleo().insert(); }, [&] { nucleo().refresh(); },
             [&] { nucleo().edit(); }, [&] { nucleo().remove(); }}) {
        const QString message = errorOf(op);
        QVERIFY2(message.contains(QLatin1String("Cognome rifiutato")), qPrintable(message));
        QCOMPARE(nucleo().state(), dsBrowse);
        QCOMPARE(nucleo().currentRow(), 0);
        QCOMPARE(nucleo().recordCount(), 3);
        QCOMPARE(members().state(), dsEdit);
        QCOMPARE(at(members(), "COGNOME"), u"1 RIFIUTA"_s);
        QCOMPARE(memberNames(), L("Rossi|RIFIUTA"));
    }
    QCOMPARE(m_sql->count(u"TBL_NUCLEO"_s), 3);
    QVERIFY(writes().isEmpty());

    // A bound control whose text cannot be written stops the move the same
    // way (its conversion error reaches the caller).
    set(members(), "COGNOME", "Verdi");
    members().post();
    members().edit();
    bool failWrite = true;
    m_rec->onEvent = [&](const QString& source, DataEvent e) {
        if (source == QLatin1String("dsANAGRAFICA") && e == deUpdateRecord && failWrite)
            members().fieldByName(u"DATA_NASCITA"_s)->setText(u"31/02/2022"_s);
    };
    QCOMPARE(errorOf([&] { nucleo().next(); }), u"'31/02/2022' is not a valid date and time"_s);
    QCOMPARE(nucleo().currentRow(), 0);
    QCOMPARE(members().state(), dsEdit);
    failWrite = false;
    nucleo().next();
    QCOMPARE(members().state(), dsBrowse);
    QCOMPARE(memberNames(), L("Bianchi|Neri"));

    // A refused new family unit: the table stays in dsInsert with its
    // pending values.
    DataSet& n = nucleo();
    writes();
    n.insert();
    set(n, "CODICE_NUCLEO", "QX8");
    set(n, "DENOMINAZIONE", "RIFIUTA");
    m_rec->clear();
    QString message = errorOf([&] { n.post(); });
    QVERIFY2(message.contains(QLatin1String("Denominazione rifiutata")), qPrintable(message));
    QVERIFY2(!message.startsWith(QLatin1String("TBL_NUCLEO: ")), qPrintable(message));
    QCOMPARE(n.state(), dsInsert);
    QCOMPARE(text(n, "CODICE_NUCLEO"), u"QX8"_s);
    QCOMPARE(text(n, "DENOMINAZIONE"), u"RIFIUTA"_s);
    QVERIFY(m_rec->stateChanges().isEmpty());
    QCOMPARE(n.recordCount(), 3);
    QVERIFY(writes().isEmpty());
    // Corrected, it is stored.
    set(n, "DENOMINAZIONE", "Accettata");
    n.post();
    QCOMPARE(n.state(), dsBrowse);
    QCOMPARE(writes(), L("TBL_NUCLEO INSERT 4"));
    QCOMPARE(n.recordCount(), 4);

    // A refused change of a stored row.
    n.edit();
    set(n, "DENOMINAZIONE", "RIFIUTA");
    set(n, "TELEFONO", "123");
    message = errorOf([&] { n.post(); });
    QVERIFY2(message.contains(QLatin1String("Denominazione rifiutata")), qPrintable(message));
    QCOMPARE(n.state(), dsEdit);
    QCOMPARE(text(n, "TELEFONO"), u"123"_s);
    QVERIFY(n.modified());
    // Abandoning it shows the stored row.
    n.cancel();
    QCOMPARE(text(n, "DENOMINAZIONE"), u"Accettata"_s);
    QVERIFY(n.fieldValue(u"TELEFONO"_s).isNull());
    QVERIFY(writes().isEmpty());
}

void TestCursor::closedTableAndClosingWhileEditing() {
    start();
    // Closing while editing abandons the pending row.
    nucleo().edit();
    set(nucleo(), "DENOMINAZIONE", "Mai");
    members().insert();
    set(members(), "COGNOME", "Mai");
    m_rec->clear();
    members().close();
    nucleo().close();
    QCOMPARE(m_rec->stateChanges(), events("A:StateChange(dsInactive)|N:StateChange(dsInactive)"));
    QCOMPARE(log().filter(u"deUpdateState"_s),
             events("A:deUpdateState(dsInactive)|N:deUpdateState(dsInactive)"));
    QVERIFY(writes().isEmpty());
    QCOMPARE(nucleo().rowCount(), 0);
    QCOMPARE(at(nucleo()), u"-1 <NULL> bof eof"_s);

    // On a closed table every operation but cancel fails, and neither they
    // nor a second close announce anything; open announces dsBrowse once.
    const QString closed = u"TBL_NUCLEO: Cannot perform this operation on a closed dataset"_s;
    DataSet& n = nucleo();
    m_rec->clear();
    for (const auto& op : QList<std::function<void()>>{
             [&] { n.first(); }, [&] { n.next(); }, [&] { n.prior(); }, [&] { n.last(); },
             [&] { n.insert(); }, [&] { n.edit(); }, [&] { n.remove(); }, [&] { n.refresh(); },
             [&] { n.recordCount(); }, [&] { n.moveTo(0); }}) {
        QCOMPARE(errorOf(op), closed);
        QCOMPARE(n.state(), dsInactive);
    }
    const QString notEditing = u"TBL_NUCLEO: Dataset not in edit or insert mode"_s;
    QCOMPARE(errorOf([&] { n.post(); }), notEditing);
    QCOMPARE(errorOf([&] { set(n, "DENOMINAZIONE", "x"); }), notEditing);
    n.cancel();
    n.close();
    QCOMPARE(n.state(), dsInactive);
    QVERIFY(log().isEmpty());
    n.open();
    QCOMPARE(m_rec->stateChanges(), events("N:StateChange(dsBrowse)"));
    QCOMPARE(log().filter(u"deUpdateState"_s), events("N:deUpdateState(dsBrowse)"));
    // The member table closed: TBL_NUCLEO's moves no longer reach it.
    n.next();
    QCOMPARE(members().state(), dsInactive);
    members().open();
    QCOMPARE(memberNames(), L("Bianchi|Neri"));

    // Closing the data store abandons every pending row, then closes; the
    // staging table stays open until the module goes.
    nucleo().insert();
    set(nucleo(), "CODICE_NUCLEO", "QX99");
    members().insert();
    set(members(), "COGNOME", "Mai");
    m_dm->closeDataStore();
    QVERIFY(writes().isEmpty());
    QCOMPARE(nucleo().state(), dsInactive);
    QCOMPARE(members().state(), dsInactive);
    QCOMPARE(m_dm->TBL_COMUNI.state(), dsInactive);
    QCOMPARE(m_dm->TBL_NAZIONI.state(), dsInactive);
    QVERIFY(!m_dm->cnQuaz.isConnected());
}

void TestCursor::refreshKeepsRowAndShowsOtherChanges() {
    start();
    DataSet& n = nucleo();
    n.moveTo(1);
    m_sql->exec(u"UPDATE TBL_NUCLEO SET DENOMINAZIONE = 'Da altrove' WHERE ID_NUCLEO = 2"_s);
    m_sql->exec(u"INSERT INTO TBL_NUCLEO (CODICE_NUCLEO) VALUES ('QX0')"_s);
    m_sql->exec(u"DELETE FROM TBL_NUCLEO WHERE ID_NUCLEO = 1"_s);
    QCOMPARE(text(n, "DENOMINAZIONE"), u"Famiglia QX2"_s);  // only through refresh
    QCOMPARE(logOf([&] { n.refresh(); }).filter(u"dsNUCLEO:"_s),
             events("N:deCheckBrowseMode|N:deDataSetChange"));
    QCOMPARE(text(n, "CODICE_NUCLEO"), u"QX2"_s);
    QCOMPARE(text(n, "DENOMINAZIONE"), u"Da altrove"_s);
    QCOMPARE(n.recordCount(), 3);
    QCOMPARE(n.currentRow(), 0);
    // The current row deleted elsewhere: a neighbour becomes current.
    n.last();
    m_sql->exec(u"DELETE FROM TBL_NUCLEO WHERE ID_NUCLEO = 4"_s);
    n.refresh();
    QCOMPARE(n.recordCount(), 2);
    QCOMPARE(text(n, "CODICE_NUCLEO"), u"QX3"_s);
    // Members too.
    n.first();
    QCOMPARE(memberNames(), L("Bianchi|Neri"));
    m_sql->addMember(u"QX2"_s, u"Nuovo"_s);
    QCOMPARE(members().rowCount(), 2);
    members().last();
    members().refresh();
    QCOMPARE(memberNames(), L("Bianchi|Neri|Nuovo"));
    QCOMPARE(text(members(), "COGNOME"), u"Neri"_s);
    // An empty table that receives rows elsewhere: after refresh it stands
    // on the first row with the end flag clear, so a walk from there visits
    // every row; the staging table's order is the family code (as text),
    // then the counter.
    DataSet& x = m_dm->TBL_EXPORT;
    QCOMPARE(x.recordCount(), 0);
    m_sql->exec(
        u"INSERT INTO TBL_EXPORT (CODICE_NUCLEO, COGNOME) VALUES ('QX2', 'n0'), "
        "('QX10', 'n1'), ('QX1', 'n2'), ('QX2', 'n3'), ('QX1', 'n4')"_s);
    x.refresh();
    QCOMPARE(x.recordCount(), 5);
    QCOMPARE(at(x), u"0 QX1 bof"_s);
    QStringList walked;
    for (; !x.eof(); x.next())
        walked << text(x, "CODICE_NUCLEO") + u' ' + text(x, "COGNOME");
    QCOMPARE(walked, L("QX1 n2|QX1 n4|QX10 n1|QX2 n0|QX2 n3"));
    // And emptied elsewhere: both flags.
    m_sql->exec(u"DELETE FROM TBL_EXPORT"_s);
    x.refresh();
    QCOMPARE(at(x), u"-1 <NULL> bof eof"_s);
}

void TestCursor::moveToWithPendingInsert() {
    start();
    // A grid shows the new row in the sequence; clicking a row below it
    // abandons the unchanged new row and must land on the row clicked.
    nucleo().insert();  // at row 0, before QX1
    QCOMPARE(nucleo().rowCount(), 4);
    nucleo().moveTo(2);  // QX2 as the grid shows it
    QCOMPARE(nucleo().state(), dsBrowse);
    QCOMPARE(text(nucleo(), "CODICE_NUCLEO"), u"QX2"_s);
    QCOMPARE(memberNames(), L("Bianchi|Neri"));
    // A row above the new one, and one below with a change that is kept.
    nucleo().moveTo(2);
    nucleo().insert();  // at row 2, before QX3
    nucleo().moveTo(0);
    QCOMPARE(text(nucleo(), "CODICE_NUCLEO"), u"QX1"_s);
    nucleo().insert();
    set(nucleo(), "CODICE_NUCLEO", "QX5");
    nucleo().moveTo(2);  // the new row is kept: rows are QX5, QX1, QX2, QX3
    QCOMPARE(text(nucleo(), "CODICE_NUCLEO"), u"QX2"_s);
    // Clicking the new row itself lands on the row it stood before.
    nucleo().moveTo(3);
    nucleo().insert();
    nucleo().moveTo(3);
    QCOMPARE(nucleo().state(), dsBrowse);
    QCOMPARE(text(nucleo(), "CODICE_NUCLEO"), u"QX3"_s);
    // The member table likewise.
    nucleo().moveTo(1);
    members().insert();
    members().moveTo(2);
    QCOMPARE(text(members(), "COGNOME"), u"Verdi"_s);
}

void TestCursor::twoCopiesOnOneFile() {
    start();
    // A second copy of the program, B, opens the same file while the first,
    // A, has it open; both read and write, each changing its own row.
    TdmMarvesa b;
    b.DataModuleCreate(m_path);
    QCOMPARE(b.TBL_NUCLEO.recordCount(), 3);
    add(b.TBL_NUCLEO, "CODICE_NUCLEO", "QX20");
    add(nucleo(), "CODICE_NUCLEO", "QX21");
    nucleo().refresh();
    b.TBL_NUCLEO.refresh();
    QCOMPARE(nucleo().recordCount(), 5);
    QCOMPARE(b.TBL_NUCLEO.recordCount(), 5);
    nucleo().last();
    nucleo().edit();
    set(nucleo(), "TELEFONO", "1");
    b.TBL_NUCLEO.first();
    change(b.TBL_NUCLEO, "TELEFONO", "2");
    nucleo().post();
    QCOMPARE(
        strings(u"SELECT TELEFONO FROM TBL_NUCLEO WHERE TELEFONO NOT NULL ORDER BY ID_NUCLEO"_s),
        L("2|1"));

    // A reads the row, B changes and stores it, A's change is refused.
    nucleo().refresh();
    nucleo().first();
    change(b.TBL_NUCLEO, "DENOMINAZIONE", "Da B");
    nucleo().edit();
    set(nucleo(), "TELEFONO", "da A");
    m_rec->clear();
    QCOMPARE(errorOf([&] { nucleo().post(); }), Changed);
    QCOMPARE(nucleo().state(), dsEdit);
    QCOMPARE(text(nucleo(), "TELEFONO"), u"da A"_s);
    QVERIFY(m_rec->stateChanges().isEmpty());
    QCOMPARE(m_sql->row(u"SELECT DENOMINAZIONE, TELEFONO FROM TBL_NUCLEO WHERE ID_NUCLEO = 1"_s),
             u"Da B|2"_s);
    // The same when the move ends the edit: the move does not happen.
    QCOMPARE(errorOf([&] { nucleo().next(); }), Changed);
    QCOMPARE(nucleo().currentRow(), 0);
    // Abandoned and read again, the change goes through.
    nucleo().cancel();
    nucleo().refresh();
    QCOMPARE(text(nucleo(), "DENOMINAZIONE"), u"Da B"_s);
    change(nucleo(), "TELEFONO", "da A");
    QCOMPARE(m_sql->row(u"SELECT DENOMINAZIONE, TELEFONO FROM TBL_NUCLEO WHERE ID_NUCLEO = 1"_s),
             u"Da B|da A"_s);
    // A NULL that B filled counts as a change too.
    b.TBL_NUCLEO.refresh();
    nucleo().next();
    b.TBL_NUCLEO.moveTo(1);
    change(b.TBL_NUCLEO, "COMUNE", "Trento");
    nucleo().edit();
    set(nucleo(), "INDIRIZZO", "Via Roma 1");
    QCOMPARE(errorOf([&] { nucleo().post(); }), Changed);
    nucleo().cancel();

    // B deletes the row A is changing.
    nucleo().last();
    b.TBL_NUCLEO.last();
    b.TBL_NUCLEO.remove();
    nucleo().edit();
    set(nucleo(), "DENOMINAZIONE", "Sparita");
    QCOMPARE(errorOf([&] { nucleo().post(); }), Changed);
    QCOMPARE(nucleo().state(), dsEdit);
    QCOMPARE(text(nucleo(), "DENOMINAZIONE"), u"Sparita"_s);
    QCOMPARE(m_sql->count(u"TBL_NUCLEO"_s), 4);
    nucleo().cancel();
    nucleo().refresh();
    QCOMPARE(nucleo().recordCount(), 4);

    // The same for a member.
    nucleo().first();
    members().first();
    b.TBL_NUCLEO.first();
    b.TBL_ANAGRAFICA.first();
    QCOMPARE(b.TBL_ANAGRAFICA.fieldValue(u"ID_ANAGRAFICA"_s),
             members().fieldValue(u"ID_ANAGRAFICA"_s));
    change(b.TBL_ANAGRAFICA, "NOTE", "nota di B");
    members().edit();
    set(members(), "NOTE", "nota di A");
    QCOMPARE(errorOf([&] { members().post(); }),
             QString(Changed).replace(u"TBL_NUCLEO"_s, u"TBL_ANAGRAFICA"_s));
    QCOMPARE(members().state(), dsEdit);
    members().cancel();

    // A table of its own connection, outside any data module.
    Connection own(u"cnProva"_s);
    own.setDatabasePath(m_path);
    own.connect();
    DataSet table(u"TBL_PROVA"_s, u"TBL_NUCLEO"_s, &own);
    table.declareFields(schema::nucleo());
    DataSource source(u"dsPROVA"_s, &table);
    int changes = 0;
    source.setOnStateChange([&](DataSource* s) { changes += s == &source; });
    table.open();
    QCOMPARE(changes, 1);
    QCOMPARE(table.recordCount(), 4);
    table.close();
    own.disconnect();
    QVERIFY(!own.isConnected());
    QCOMPARE(errorOf([&] { table.open(); }), u"cnProva: la connessione al database non è aperta"_s);
}

QTEST_GUILESS_MAIN(TestCursor)
#include "tst_cursor.moc"
