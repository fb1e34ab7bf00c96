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
        const QString id = t == QLatin1String("TBL_NUCLEO") ? u"ID_NUCLEO"_s
                                                            : u"ID_ANAGRAFICA"_s;
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
        if (e.startsWith(QLatin1String("N:"))) e.replace(0, 2, u"dsNUCLEO:"_s);
        if (e.startsWith(QLatin1String("A:"))) e.replace(0, 2, u"dsANAGRAFICA:"_s);
    }
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
    QStringList writes() {
        QStringList r;
        for (const QVariant& v : m_sql->exec(u"SELECT what FROM WRITES ORDER BY n"_s))
            r << v.toString();
        m_sql->exec(u"DELETE FROM WRITES"_s);
        return r;
    }
    QStringList memberNames() {
        QStringList r;
        for (int i = 0; i < members().rowCount(); ++i)
            r << Field::displayTextOf(members().valueAt(i, members().fieldByName(u"COGNOME"_s)->index()));
        return r;
    }
    void checkFlags(DataSet& ds, int current, bool bof, bool eof) {
        QCOMPARE(ds.currentRow(), current);
        QCOMPARE(ds.bof(), bof);
        QCOMPARE(ds.eof(), eof);
    }

private slots:
    void cleanup();

    void openAndMoves();
    void stateTable();
    void notificationOrder();
    void notificationOrderWithPendingMember();
    void stateChangeHandlerOncePerRealChange();
    void editAndInsertEdgeCases();
    void deleteEdgeCases();
    void postStoresExactlyWhatChanged();
    void controlsWriteTheirTextWhenEditEnds();
    void masterDetailFollowsFamilyUnit();
    void masterDetailPendingMemberRows();
    void sameCodeKeepsMemberRow();
    void failedPostKeepsPendingRow();
    void failedEndOfEditStopsTheOperation();
    void closedTableAndClosingWhileEditing();
    void refreshKeepsRowAndShowsOtherChanges();
    void ordering();
    void moveToWithPendingInsert();
    void twoCopiesOnOneFile();
    void optimisticCheckOnChangedAndDeletedRows();
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
    m_rec.reset();
    m_dm.reset();
    m_sql.reset();
}

void TestCursor::openAndMoves() {
    start();
    // Opening announces dsBrowse through both handlers, family units first.
    QCOMPARE(m_rec->stateChanges(), events("N:StateChange(dsBrowse)|A:StateChange(dsBrowse)"));
    QCOMPARE(m_rec->wrongSenders, 0);
    for (DataSet* ds : {&m_dm->TBL_NUCLEO, &m_dm->TBL_ANAGRAFICA, &m_dm->TBL_COMUNI, &m_dm->TBL_NAZIONI,
                        &m_dm->TBL_EXPORT})
        QCOMPARE(ds->state(), dsBrowse);
    checkFlags(nucleo(), 0, true, false);
    QCOMPARE(nucleo().recordCount(), 3);
    QCOMPARE(text(nucleo(), "CODICE_NUCLEO"), u"QX1"_s);
    // The empty staging table: no current row, both flags.
    checkFlags(m_dm->TBL_EXPORT, -1, true, true);
    QCOMPARE(m_dm->TBL_EXPORT.recordCount(), 0);
    QVERIFY(m_dm->TBL_EXPORT.fieldValue(u"COGNOME"_s).isNull());

    // Each move: the row it lands on, both flags, its code, and what
    // TBL_NUCLEO announces (where given). Next on the last row sets the end
    // flag and keeps the row; next there again, like prior on the first row,
    // does nothing but end a pending edit.
    DataSet& n = nucleo();
    struct Move {
        std::function<void()> move;
        int row;
        bool bof, eof;
        const char* code;
        const char* events;
    };
    const Move moves[] = {
        {[&] { n.next(); }, 1, false, false, "QX2", "N:deCheckBrowseMode|N:deDataSetScroll"},
        {[&] { n.next(); }, 2, false, false, "QX3", nullptr},
        {[&] { n.next(); }, 2, false, true, "QX3", nullptr},
        {[&] { n.next(); }, 2, false, true, "QX3", "N:deCheckBrowseMode"},
        {[&] { n.prior(); }, 1, false, false, "QX2", nullptr},
        {[&] { n.prior(); n.prior(); }, 0, true, false, "QX1", nullptr},
        {[&] { n.prior(); }, 0, true, false, "QX1", "N:deCheckBrowseMode"},
        {[&] { n.last(); }, 2, false, true, "QX3", "N:deCheckBrowseMode|N:deDataSetChange"},
        {[&] { n.first(); }, 0, true, false, "QX1", nullptr},
        {[&] { n.moveTo(2); }, 2, false, false, "QX3", nullptr},  // a grid's move
        {[&] { n.moveTo(7); }, 2, false, false, "QX3", nullptr},  // no such row: stays
    };
    for (const Move& m : moves) {
        m_rec->clear();
        m.move();
        checkFlags(n, m.row, m.bof, m.eof);
        QCOMPARE(text(n, "CODICE_NUCLEO"), QString::fromLatin1(m.code));
        if (m.events) QCOMPARE(m_rec->of(u"dsNUCLEO"_s), events(m.events));
    }
    // The walk of the export: first, then next while the end flag is clear.
    QStringList walked;
    for (nucleo().first(); !nucleo().eof(); nucleo().next()) walked << text(nucleo(), "CODICE_NUCLEO");
    QCOMPARE(walked, L("QX1|QX2|QX3"));
    // On an empty table the walk visits nothing.
    int visited = 0;
    for (m_dm->TBL_EXPORT.first(); !m_dm->TBL_EXPORT.eof(); m_dm->TBL_EXPORT.next()) ++visited;
    QCOMPARE(visited, 0);
    m_dm->TBL_EXPORT.last();
    checkFlags(m_dm->TBL_EXPORT, -1, true, true);
    // Opening an open table changes nothing.
    m_rec->clear();
    nucleo().open();
    QVERIFY(log().isEmpty());
    QCOMPARE(m_rec->wrongSenders, 0);
}

void TestCursor::stateTable() {
    start();
    DataSet& n = nucleo();
    const QString notEditing = u"TBL_NUCLEO: Dataset not in edit or insert mode"_s;

    // dsBrowse: post is an error and changes nothing; cancel does nothing.
    QCOMPARE(errorOf([&] { n.post(); }), notEditing);
    QCOMPARE(n.state(), dsBrowse);
    m_rec->clear();
    n.cancel();
    QVERIFY(log().isEmpty());
    QCOMPARE(errorOf([&] { set(n, "DENOMINAZIONE", "x"); }), notEditing);

    // dsBrowse -> edit -> dsEdit; edit again: nothing.
    n.edit();
    QCOMPARE(n.state(), dsEdit);
    m_rec->clear();
    n.edit();
    QCOMPARE(n.state(), dsEdit);
    QVERIFY(log().isEmpty());
    // dsEdit -> cancel -> dsBrowse, the stored values shown again.
    set(n, "DENOMINAZIONE", "Cambiata");
    n.cancel();
    QCOMPARE(n.state(), dsBrowse);
    QCOMPARE(text(n, "DENOMINAZIONE"), u"Famiglia QX1"_s);
    QVERIFY(writes().isEmpty());
    // dsEdit -> post -> dsBrowse.
    change(n, "DENOMINAZIONE", "Cambiata");
    QCOMPARE(n.state(), dsBrowse);
    QCOMPARE(writes(), L("TBL_NUCLEO UPDATE 1"));
    QCOMPARE(text(n, "DENOMINAZIONE"), u"Cambiata"_s);

    // dsBrowse -> insert -> dsInsert; edit in dsInsert: nothing.
    n.insert();
    QCOMPARE(n.state(), dsInsert);
    m_rec->clear();
    n.edit();
    QCOMPARE(n.state(), dsInsert);
    QVERIFY(log().isEmpty());
    // dsInsert -> insert: the unchanged new row is abandoned, then dsInsert.
    m_rec->clear();
    n.insert();
    QCOMPARE(m_rec->stateChanges(), events("N:StateChange(dsBrowse)|N:StateChange(dsInsert)"));
    QCOMPARE(n.recordCount(), 3);
    // dsInsert with a change -> insert: the row is posted, then dsInsert.
    set(n, "CODICE_NUCLEO", "QX4");
    n.insert();
    QCOMPARE(n.state(), dsInsert);
    QCOMPARE(writes(), L("TBL_NUCLEO INSERT 4"));
    QCOMPARE(n.recordCount(), 4);
    // dsInsert -> cancel -> dsBrowse.
    n.cancel();
    QCOMPARE(n.state(), dsBrowse);
    QCOMPARE(n.recordCount(), 4);
    // dsEdit -> insert: the changed row is posted first.
    n.first();
    n.edit();
    set(n, "TELEFONO", "0461 000000");
    m_rec->clear();
    n.insert();
    // The new rows went in where the current row stood: QX4 is the first.
    QCOMPARE(writes(), L("TBL_NUCLEO UPDATE 4"));
    QCOMPARE(m_rec->stateChanges(), events("N:StateChange(dsBrowse)|N:StateChange(dsInsert)"));
    // dsInsert -> post -> dsBrowse.
    set(n, "CODICE_NUCLEO", "QX5");
    n.post();
    QCOMPARE(n.state(), dsBrowse);
    QCOMPARE(writes(), L("TBL_NUCLEO INSERT 5"));
    QCOMPARE(text(n, "CODICE_NUCLEO"), u"QX5"_s);

    // dsInsert -> delete: the new row is abandoned, nothing is deleted.
    n.insert();
    set(n, "CODICE_NUCLEO", "QX6");
    n.remove();
    QCOMPARE(n.state(), dsBrowse);
    QVERIFY(writes().isEmpty());
    QCOMPARE(n.recordCount(), 5);
    // dsEdit -> delete: the row goes with its pending changes.
    n.first();
    n.edit();
    set(n, "DENOMINAZIONE", "Mai salvata");
    n.remove();
    QCOMPARE(n.state(), dsBrowse);
    QCOMPARE(writes(), L("TBL_NUCLEO DELETE 5"));
    QCOMPARE(n.recordCount(), 4);

    // dsEdit and dsInsert -> first, next, prior, last, refresh: the pending
    // edit is ended, then the move.
    using Move = std::function<void()>;
    const QList<QPair<const char*, Move>> moves = {
        {"first", [&] { n.first(); }}, {"next", [&] { n.next(); }},   {"prior", [&] { n.prior(); }},
        {"last", [&] { n.last(); }},   {"refresh", [&] { n.refresh(); }}, {"moveTo", [&] { n.moveTo(0); }}};
    for (const auto& move : moves) {
        n.moveTo(1);
        n.edit();
        n.setFieldValue(u"INDIRIZZO"_s, Value::text(QString::fromLatin1(move.first)));
        move.second();
        QVERIFY2(n.state() == dsBrowse, move.first);
        QCOMPARE(writes().size(), 1);
        QCOMPARE(m_sql->one(u"SELECT count(*) FROM TBL_NUCLEO WHERE INDIRIZZO = ?"_s,
                            {QString::fromLatin1(move.first)}).toInt(), 1);
        n.insert();  // unchanged: abandoned by the move
        move.second();
        QVERIFY2(n.state() == dsBrowse, move.first);
        QVERIFY(writes().isEmpty());
        QCOMPARE(n.recordCount(), 4);
    }
    // dsInactive -> open -> dsBrowse; any -> close -> dsInactive.
    n.close();
    QCOMPARE(n.state(), dsInactive);
    n.open();
    QCOMPARE(n.state(), dsBrowse);
    checkFlags(n, 0, true, false);
}

void TestCursor::notificationOrder() {
    start();
    DataSet& n = nucleo();

    // Snapshots taken at each announcement: what is stored, the member code.
    QStringList seen;
    m_rec->onEvent = [&](const QString& source, DataEvent e) {
        if (source != QLatin1String("dsNUCLEO") || (e != deUpdateState && e != deCheckBrowseMode)) return;
        seen << eventName(e) + u" writes="_s +
                    m_sql->one(u"SELECT count(*) FROM WRITES"_s).toString();
    };

    // insert: ending a pending edit (the member table's first), dsInsert,
    // then the new row is shown; the member table empties after that.
    m_rec->clear();
    n.insert();
    QCOMPARE(log(), events("N:deCheckBrowseMode|A:deCheckBrowseMode|N:deUpdateState(dsInsert)|"
                           "N:StateChange(dsInsert)|N:deDataSetChange|A:deCheckBrowseMode|A:deCheckBrowseMode|"
                           "A:deDataSetChange"));
    QCOMPARE(members().rowCount(), 0);

    // post: deUpdateRecord, deCheckBrowseMode, storing, dsBrowse, the stored
    // row shown; the member table follows the new code.
    set(n, "CODICE_NUCLEO", "QX9");
    m_rec->clear();
    seen.clear();
    n.post();
    QCOMPARE(log(), events("N:deUpdateRecord|N:deCheckBrowseMode|A:deCheckBrowseMode|N:deUpdateState(dsBrowse)|"
                           "N:StateChange(dsBrowse)|N:deDataSetChange|A:deCheckBrowseMode|A:deCheckBrowseMode|"
                           "A:deDataSetChange"));
    QCOMPARE(seen, L("deCheckBrowseMode writes=0|deUpdateState writes=1"));
    writes();

    // edit: ending a pending edit, dsEdit, deRecordChange; the member
    // table's link re-checks the code and finds it unchanged.
    n.moveTo(1);  // QX1, after the new QX9
    QCOMPARE(text(n, "CODICE_NUCLEO"), u"QX1"_s);
    m_rec->clear();
    n.edit();
    QCOMPARE(log(), events("N:deCheckBrowseMode|A:deCheckBrowseMode|N:deUpdateState(dsEdit)|"
                           "N:StateChange(dsEdit)|N:deRecordChange|A:deCheckBrowseMode"));

    // A column write announces the column.
    m_rec->clear();
    set(n, "DENOMINAZIONE", "Nuova");
    QCOMPARE(log(), events("N:deFieldChange(DENOMINAZIONE)"));

    // cancel: deCheckBrowseMode, discarding, dsBrowse, the row shown again.
    m_rec->clear();
    n.cancel();
    QCOMPARE(log(), events("N:deCheckBrowseMode|A:deCheckBrowseMode|N:deUpdateState(dsBrowse)|"
                           "N:StateChange(dsBrowse)|N:deDataSetChange|A:deCheckBrowseMode"));
    QCOMPARE(text(n, "DENOMINAZIONE"), u"Famiglia QX1"_s);

    // delete in dsBrowse: deCheckBrowseMode, deleting, no state change, the
    // next row shown; the member table shows its family's members.
    m_rec->clear();
    seen.clear();
    n.remove();
    QCOMPARE(log(), events("N:deCheckBrowseMode|A:deCheckBrowseMode|N:deDataSetChange|A:deCheckBrowseMode|"
                           "A:deCheckBrowseMode|A:deDataSetChange"));
    QCOMPARE(seen, L("deCheckBrowseMode writes=0"));
    QCOMPARE(writes(), L("TBL_NUCLEO DELETE 1"));
    QCOMPARE(memberNames(), L("Bianchi|Neri"));

    // delete in dsEdit: the state change comes after deleting.
    n.edit();
    m_rec->clear();
    seen.clear();
    n.remove();
    QCOMPARE(m_rec->of(u"dsNUCLEO"_s),
             events("N:deCheckBrowseMode|N:deUpdateState(dsBrowse)|N:StateChange(dsBrowse)|N:deDataSetChange"));
    QCOMPARE(seen, L("deCheckBrowseMode writes=0|deUpdateState writes=1"));
    m_rec->onEvent = nullptr;

    // A member insert: dsInsert announced while the row is still without its
    // code; the code is there when the row is shown.
    n.first();
    QStringList codes;
    m_rec->onEvent = [&](const QString& source, DataEvent e) {
        if (source == QLatin1String("dsANAGRAFICA") && (e == deUpdateState || e == deDataSetChange))
            codes << eventName(e) + QLatin1Char(' ') + text(members(), "CODICE_NUCLEO");
    };
    m_rec->clear();
    members().insert();
    QCOMPARE(log(), events("A:deCheckBrowseMode|A:deUpdateState(dsInsert)|A:StateChange(dsInsert)|"
                           "A:deDataSetChange"));
    QCOMPARE(codes, L("deUpdateState <NULL>|deDataSetChange QX9"));
    QVERIFY(!members().modified());
    m_rec->onEvent = nullptr;
}

void TestCursor::notificationOrderWithPendingMember() {
    start();
    // A member being edited with a typed change: an insert on TBL_NUCLEO
    // first stores the member, then enters dsInsert.
    members().edit();
    members().fieldByName(u"COGNOME"_s)->setText(u"Rossini"_s);
    m_rec->clear();
    nucleo().insert();
    QCOMPARE(log(), events("N:deCheckBrowseMode|A:deCheckBrowseMode|A:deUpdateRecord|A:deUpdateRecord|"
                           "A:deCheckBrowseMode|A:deUpdateState(dsBrowse)|A:StateChange(dsBrowse)|"
                           "A:deDataSetChange|N:deUpdateState(dsInsert)|N:StateChange(dsInsert)|"
                           "N:deDataSetChange|A:deCheckBrowseMode|A:deCheckBrowseMode|A:deDataSetChange"));
    QCOMPARE(m_rec->stateChanges(), events("A:StateChange(dsBrowse)|N:StateChange(dsInsert)"));
    QCOMPARE(writes(), L("TBL_ANAGRAFICA UPDATE 2"));
    QCOMPARE(m_sql->one(u"SELECT COGNOME FROM TBL_ANAGRAFICA WHERE ID_ANAGRAFICA = 2"_s).toString(), u"Rossini"_s);

    // The same for edit, post, cancel and delete of TBL_NUCLEO, and for a
    // new member row into which nothing was typed (abandoned).
    using Op = std::function<void()>;
    const QList<QPair<const char*, Op>> ops = {
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
        QVERIFY2(!changes.isEmpty() && changes.first() == QLatin1String("dsANAGRAFICA:StateChange(dsBrowse)"),
                 op.first);
        QCOMPARE(members().state(), dsBrowse);
        QVERIFY2(writes().filter(u"TBL_ANAGRAFICA"_s).isEmpty(), op.first);
        if (nucleo().isEditing()) nucleo().cancel();
    }
    // post and cancel of TBL_NUCLEO end the member's pending edit too.
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

void TestCursor::stateChangeHandlerOncePerRealChange() {
    start();
    DataSet& n = nucleo();
    m_rec->clear();
    n.edit();
    change(n, "DENOMINAZIONE", "x");
    QVERIFY(errorOf([&] { n.post(); }).endsWith(QLatin1String("Dataset not in edit or insert mode")));
    n.cancel();  // nothing
    n.insert();
    n.cancel();
    n.cancel();
    n.next();
    n.refresh();
    n.close();
    n.close();
    n.open();
    QCOMPARE(m_rec->of(u"dsNUCLEO"_s).filter(u"StateChange"_s),
             events("N:StateChange(dsEdit)|N:StateChange(dsBrowse)|N:StateChange(dsInsert)|"
                    "N:StateChange(dsBrowse)|N:StateChange(dsInactive)|N:StateChange(dsBrowse)"));
    // Each handler call follows the deUpdateState of the same change.
    QCOMPARE(m_rec->of(u"dsNUCLEO"_s).filter(u"deUpdateState"_s).size(), 6);
    QCOMPARE(m_rec->wrongSenders, 0);
    // The handler reads the new state from its sender.
    DataSetState seenState = dsInactive;
    DataSource* seenSender = nullptr;
    m_dm->dsANAGRAFICA.setOnStateChange([&](DataSource* s) {
        seenSender = s;
        seenState = s->state();
    });
    members().edit();
    QCOMPARE(seenSender, &m_dm->dsANAGRAFICA);
    QCOMPARE(seenState, dsEdit);
}

void TestCursor::editAndInsertEdgeCases() {
    start([](Sql&) {});
    DataSet& n = nucleo();
    checkFlags(n, -1, true, true);
    QCOMPARE(n.recordCount(), 0);
    // Reading the code of an empty table gives NULL, which is no text.
    QVERIFY(n.fieldValue(u"CODICE_NUCLEO"_s).isNull());
    QCOMPARE(errorOf([&] { n.fieldValue(u"CODICE_NUCLEO"_s).toText(); }),
             u"Could not convert variant of type (Null) into type (OleStr)"_s);
    // Edit on an empty table: dsInsert, no error.
    m_rec->clear();
    n.edit();
    QCOMPARE(n.state(), dsInsert);
    QCOMPARE(m_rec->stateChanges(), events("N:StateChange(dsInsert)"));
    QVERIFY(!n.modified());
    // Post of an untouched new row stores a row with only its counter
    // (DATA_INSERIMENTO takes the database's default).
    n.post();
    QCOMPARE(writes(), L("TBL_NUCLEO INSERT 1"));
    const QList<QVariantList> rows = m_sql->rows(u"SELECT * FROM TBL_NUCLEO"_s);
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0][0].toLongLong(), 1);
    for (int i = 1; i < rows[0].size(); ++i) {
        if (i == 3) {
            QVERIFY(!rows[0][i].isNull());  // DATA_INSERIMENTO
        } else {
            QVERIFY2(rows[0][i].isNull(), qPrintable(QString::number(i)));
        }
    }
    QCOMPARE(text(n, "ID_NUCLEO"), u"1"_s);
    QVERIFY(!n.fieldValue(u"DATA_INSERIMENTO"_s).isNull());
    QCOMPARE(n.fieldValue(u"DATA_INSERIMENTO"_s).toDateTime().date(), QDate::currentDate());
    checkFlags(n, 0, false, false);
    // The member table follows a family unit whose code is NULL: no rows.
    QCOMPARE(members().rowCount(), 0);

    // A member insert into which nothing was typed stores only its code.
    change(n, "CODICE_NUCLEO", "QX1");
    members().insert();
    QCOMPARE(text(members(), "CODICE_NUCLEO"), u"QX1"_s);
    QVERIFY(!members().modified());
    members().post();
    const QList<QVariantList> m = m_sql->rows(u"SELECT * FROM TBL_ANAGRAFICA"_s);
    QCOMPARE(m.size(), 1);
    QCOMPARE(m[0][1].toString(), u"QX1"_s);
    for (int i = 2; i < m[0].size(); ++i) {
        if (i == 17) {
            QVERIFY(!m[0][i].isNull());  // DATA_INSERIMENTO
        } else {
            QVERIFY2(m[0][i].isNull(), qPrintable(QString::number(i)));
        }
    }
    QCOMPARE(members().recordCount(), 1);

    // An insert is placed where the current row stood; cancel brings back
    // the row current before, with its flags.
    add(n, "CODICE_NUCLEO", "QX2");
    add(n, "CODICE_NUCLEO", "QX3");
    QStringList order;
    for (n.first(); !n.eof(); n.next()) order << text(n, "CODICE_NUCLEO");
    QCOMPARE(order, L("QX3|QX2|QX1"));
    n.moveTo(1);
    n.insert();
    QCOMPARE(n.currentRow(), 1);
    QCOMPARE(n.rowCount(), 4);
    QCOMPARE(n.recordCount(), 3);
    QCOMPARE(members().rowCount(), 0);
    n.cancel();
    checkFlags(n, 1, false, false);
    QCOMPARE(text(n, "CODICE_NUCLEO"), u"QX2"_s);
    n.last();
    n.next();
    n.insert();
    n.cancel();
    checkFlags(n, 2, false, true);
    QCOMPARE(text(n, "CODICE_NUCLEO"), u"QX1"_s);
    n.first();
    n.insert();
    n.cancel();
    checkFlags(n, 0, true, false);
    // After the reopen, the stored order.
    n.close();
    n.open();
    order.clear();
    for (n.first(); !n.eof(); n.next()) order << text(n, "CODICE_NUCLEO");
    QCOMPARE(order, L("QX1|QX2|QX3"));
}

void TestCursor::deleteEdgeCases() {
    start();
    DataSet& n = nucleo();
    // The second of three: the third becomes current.
    n.moveTo(1);
    n.remove();
    QCOMPARE(text(n, "CODICE_NUCLEO"), u"QX3"_s);
    checkFlags(n, 1, false, false);
    // Back to three; delete the last: the new last row, end flag clear.
    m_sql->addNucleo(u"QX4"_s);
    n.refresh();
    QCOMPARE(n.recordCount(), 3);
    n.last();
    QCOMPARE(text(n, "CODICE_NUCLEO"), u"QX4"_s);
    n.remove();
    QCOMPARE(text(n, "CODICE_NUCLEO"), u"QX3"_s);
    checkFlags(n, 1, false, false);
    n.next();
    QVERIFY(n.eof());
    QCOMPARE(text(n, "CODICE_NUCLEO"), u"QX3"_s);
    // Deleting from the first while the end flag is clear empties the table.
    writes();
    int deleted = 0;
    for (n.first(); !n.eof(); ++deleted) n.remove();
    QCOMPARE(deleted, 2);
    QCOMPARE(writes(), L("TBL_NUCLEO DELETE 1|TBL_NUCLEO DELETE 3"));
    // The only row gone: no current row, both flags.
    checkFlags(n, -1, true, true);
    QCOMPARE(n.recordCount(), 0);
    QCOMPARE(members().rowCount(), 0);
    // Delete on an empty table.
    QCOMPARE(errorOf([&] { n.remove(); }), u"TBL_NUCLEO: Cannot perform this operation on an empty dataset"_s);
    QCOMPARE(n.state(), dsBrowse);
    // Deleting a family unit leaves its members in the database.
    QCOMPARE(m_sql->one(u"SELECT count(*) FROM TBL_ANAGRAFICA"_s).toInt(), 4);
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
    const QVariantList row = m_sql->rows(u"SELECT DENOMINAZIONE, TELEFONO FROM TBL_NUCLEO WHERE ID_NUCLEO = 1"_s).value(0);
    QCOMPARE(row.value(0).toString(), u"Famiglia nuova"_s);
    QCOMPARE(row.value(1).toString(), u"altro"_s);
    // Values travel as bound parameters: quotes, SQL, backslashes, any
    // script, emoji come back as they went.
    const QStringList texts = {u"O'Brien \"il\" primo"_s, u"'; DROP TABLE TBL_NUCLEO; --"_s,
                               u"C:\\dB\\dbQuaz.mdb \\n \\0"_s, u"Łódź Ελλάδα Україна 日本 عربي"_s,
                               u"\U0001F600\U0001F1EE\U0001F1F9 %s %1 ? :nome @x $1"_s};
    for (const QString& t : texts) {
        members().insert();
        members().setFieldValue(u"COGNOME"_s, Value::text(t.left(50)));
        members().setFieldValue(u"NOTE"_s, Value::text(t));
        members().post();
    }
    members().refresh();
    QCOMPARE(m_sql->one(u"SELECT count(*) FROM TBL_NUCLEO"_s).toInt(), 3);
    for (const QString& t : texts) {
        QCOMPARE(m_sql->one(u"SELECT count(*) FROM TBL_ANAGRAFICA WHERE NOTE = ? AND COGNOME = ?"_s,
                            {t, t.left(50)}).toInt(), 1);
    }
    QStringList notes;
    for (members().first(); !members().eof(); members().next())
        if (!members().fieldValue(u"NOTE"_s).isNull()) notes << text(members(), "NOTE");
    std::sort(notes.begin(), notes.end());
    QStringList expected = texts;
    std::sort(expected.begin(), expected.end());
    QCOMPARE(notes, expected);
}

void TestCursor::controlsWriteTheirTextWhenEditEnds() {
    start();
    // A bound control with an unwritten change writes it on deUpdateRecord;
    // the row then counts as changed and is stored when the family-unit
    // table moves.
    QString unwritten = u"Scritta dal controllo"_s;
    m_rec->onEvent = [&](const QString& source, DataEvent e) {
        if (source == QLatin1String("dsANAGRAFICA") && e == deUpdateRecord && !unwritten.isEmpty()) {
            members().fieldByName(u"FRONTIERA"_s)->setText(unwritten);
            unwritten.clear();
        }
    };
    members().edit();
    QVERIFY(!members().modified());
    writes();
    nucleo().next();
    QCOMPARE(writes(), L("TBL_ANAGRAFICA UPDATE 2"));
    QCOMPARE(m_sql->one(u"SELECT FRONTIERA FROM TBL_ANAGRAFICA WHERE ID_ANAGRAFICA = 2"_s).toString(),
             u"Scritta dal controllo"_s);
    QCOMPARE(memberNames(), L("Bianchi|Neri"));
    // Post makes the controls write first too.
    unwritten = u"Austria"_s;
    members().edit();
    members().post();
    QCOMPARE(text(members(), "FRONTIERA"), u"Austria"_s);
    m_rec->onEvent = nullptr;
}

void TestCursor::masterDetailFollowsFamilyUnit() {
    start();
    // Members of the current family unit only, in counter order.
    QCOMPARE(memberNames(), L("Rossi|Verdi"));
    QCOMPARE(members().recordCount(), 2);
    checkFlags(members(), 0, true, false);
    members().next();
    nucleo().next();
    QCOMPARE(memberNames(), L("Bianchi|Neri"));
    checkFlags(members(), 0, true, false);  // the first member current
    nucleo().next();
    QCOMPARE(members().rowCount(), 0);
    checkFlags(members(), -1, true, true);
    QCOMPARE(members().recordCount(), 0);
    nucleo().first();
    QCOMPARE(memberNames(), L("Rossi|Verdi"));

    // "Crea Nucleo": while the family unit is new, no members.
    members().last();
    nucleo().insert();
    QCOMPARE(members().rowCount(), 0);
    checkFlags(members(), -1, true, true);
    set(nucleo(), "CODICE_NUCLEO", "QX2");  // no re-filter while inserting
    QCOMPARE(members().rowCount(), 0);
    // "Annulla": the members of the family unit current again, the first one
    // current.
    nucleo().cancel();
    QCOMPARE(text(nucleo(), "CODICE_NUCLEO"), u"QX1"_s);
    QCOMPARE(memberNames(), L("Rossi|Verdi"));
    checkFlags(members(), 0, true, false);
    // A stored new family unit has no members yet.
    add(nucleo(), "CODICE_NUCLEO", "QX7");
    QCOMPARE(members().rowCount(), 0);

    // Editing the family code shows the members of the code being typed;
    // cancel shows those of the stored code again.
    nucleo().moveTo(1);  // QX1, after the new QX7
    QCOMPARE(text(nucleo(), "CODICE_NUCLEO"), u"QX1"_s);
    nucleo().edit();
    set(nucleo(), "CODICE_NUCLEO", "QX2");
    QCOMPARE(memberNames(), L("Bianchi|Neri"));
    // Other columns do not re-check the code.
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
    QCOMPARE(m_sql->one(u"SELECT count(*) FROM TBL_ANAGRAFICA WHERE CODICE_NUCLEO = 'QX1'"_s).toInt(), 2);
    QCOMPARE(memberNames(), L("Rossi|Verdi"));

    // Deleting the last family unit: no current family unit, no members.
    writes();
    for (nucleo().first(); !nucleo().eof();) nucleo().remove();
    QCOMPARE(members().rowCount(), 0);
    QCOMPARE(writes().size(), 4);
}

void TestCursor::masterDetailPendingMemberRows() {
    start();
    // A new member row shows its family code at once, unmodified.
    members().insert();
    QCOMPARE(text(members(), "CODICE_NUCLEO"), u"QX1"_s);
    QCOMPARE(members().fieldByName(u"CODICE_NUCLEO"_s)->displayText(), u"QX1"_s);
    QVERIFY(!members().modified());
    QCOMPARE(members().currentRow(), 0);
    QCOMPARE(members().rowCount(), 3);
    QCOMPARE(members().recordCount(), 2);
    // Nothing typed and the family unit moves: abandoned.
    writes();
    nucleo().next();
    QCOMPARE(members().state(), dsBrowse);
    QVERIFY(writes().isEmpty());
    QCOMPARE(memberNames(), L("Bianchi|Neri"));

    // Typed into: stored with exactly the values it holds.
    members().insert();
    members().fieldByName(u"COGNOME"_s)->setText(u"Gialli"_s);
    nucleo().prior();
    QCOMPARE(writes(), L("TBL_ANAGRAFICA INSERT 5"));
    const QVariantList stored =
        m_sql->rows(u"SELECT CODICE_NUCLEO, COGNOME, NOME FROM TBL_ANAGRAFICA WHERE ID_ANAGRAFICA = 5"_s).value(0);
    QCOMPARE(stored.value(0).toString(), u"QX2"_s);
    QCOMPARE(stored.value(1).toString(), u"Gialli"_s);
    QVERIFY(stored.value(2).isNull());
    QCOMPARE(memberNames(), L("Rossi|Verdi"));

    // A stored member being edited: with a typed change it is posted when
    // the family unit moves (no window checks), unchanged it is abandoned.
    members().next();
    members().edit();
    members().fieldByName(u"NOME"_s)->setText(u"Anna"_s);
    nucleo().next();
    QCOMPARE(writes(), L("TBL_ANAGRAFICA UPDATE 3"));
    QCOMPARE(m_sql->one(u"SELECT NOME FROM TBL_ANAGRAFICA WHERE ID_ANAGRAFICA = 3"_s).toString(), u"Anna"_s);
    members().edit();
    nucleo().next();
    QCOMPARE(members().state(), dsBrowse);
    QVERIFY(writes().isEmpty());

    // The member table on its own: an unchanged new row abandoned by its own
    // move, the row before it current again.
    nucleo().first();
    members().last();
    members().insert();
    QCOMPARE(members().currentRow(), 1);
    members().first();
    QCOMPARE(members().rowCount(), 2);
    QVERIFY(writes().isEmpty());
    // A member insert while the family unit is new gets no code... and none
    // is stored when nothing was typed.
    nucleo().insert();
    members().insert();
    QVERIFY(members().fieldValue(u"CODICE_NUCLEO"_s).isNull());
    members().cancel();
    nucleo().cancel();
    QCOMPARE(memberNames(), L("Rossi|Verdi"));
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
    QCOMPARE(text(members(), "COGNOME"), u"Verdi"_s);
    checkFlags(members(), 1, false, false);
    QVERIFY(m_rec->of(u"dsANAGRAFICA"_s).filter(u"deDataSetChange"_s).isEmpty());
    // Another code: the first member of its family unit.
    nucleo().next();
    QCOMPARE(members().rowCount(), 0);
    nucleo().first();
    QCOMPARE(text(members(), "COGNOME"), u"Rossi"_s);
}

void TestCursor::failedPostKeepsPendingRow() {
    start();
    m_sql->exec(QStringLiteral("CREATE TRIGGER refuse_insert BEFORE INSERT ON TBL_NUCLEO "
                               "WHEN NEW.DENOMINAZIONE = 'RIFIUTA' BEGIN SELECT RAISE(ABORT, 'Denominazione rifiutata'); END"));
    m_sql->exec(QStringLiteral("CREATE TRIGGER refuse_update BEFORE UPDATE ON TBL_NUCLEO "
                               "WHEN NEW.DENOMINAZIONE = 'RIFIUTA' BEGIN SELECT RAISE(ABORT, 'Denominazione rifiutata'); END"));
    DataSet& n = nucleo();
    // A refused new row: the table stays in dsInsert with its pending values.
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

void TestCursor::failedEndOfEditStopsTheOperation() {
    start();
    m_sql->exec(QStringLiteral("CREATE TRIGGER refuse BEFORE UPDATE ON TBL_ANAGRAFICA "
                               "WHEN NEW.COGNOME = 'RIFIUTA' BEGIN SELECT RAISE(ABORT, 'Cognome rifiutato'); END"));
    // A member change the database refuses: the family unit does not move,
    // the member table keeps its filter and its editing state.
    members().next();
    members().edit();
    set(members(), "COGNOME", "RIFIUTA");
    for (const auto& op : QList<std::function<void()>>{[&] { nucleo().next(); }, [&] { nucleo().insert(); },
                                                        [&] { nucleo().refresh(); }, [&] { nucleo().edit(); },
                                                        [&] { nucleo().remove(); }}) {
        const QString message = errorOf(op);
        QVERIFY2(message.contains(QLatin1String("Cognome rifiutato")), qPrintable(message));
        QCOMPARE(nucleo().state(), dsBrowse);
        QCOMPARE(nucleo().currentRow(), 0);
        QCOMPARE(nucleo().recordCount(), 3);
        QCOMPARE(members().state(), dsEdit);
        QCOMPARE(members().currentRow(), 1);
        QCOMPARE(text(members(), "COGNOME"), u"RIFIUTA"_s);
        QCOMPARE(memberNames(), L("Rossi|RIFIUTA"));
    }
    QCOMPARE(m_sql->one(u"SELECT count(*) FROM TBL_NUCLEO"_s).toInt(), 3);
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
    m_rec->onEvent = nullptr;
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
    QVERIFY(writes().isEmpty());
    QCOMPARE(nucleo().rowCount(), 0);
    checkFlags(nucleo(), -1, true, true);
    QVERIFY(nucleo().fieldValue(u"CODICE_NUCLEO"_s).isNull());

    const QString closed = u"TBL_NUCLEO: Cannot perform this operation on a closed dataset"_s;
    DataSet& n = nucleo();
    for (const auto& op : QList<QPair<const char*, std::function<void()>>>{
             {"first", [&] { n.first(); }},   {"next", [&] { n.next(); }},     {"prior", [&] { n.prior(); }},
             {"last", [&] { n.last(); }},     {"insert", [&] { n.insert(); }}, {"edit", [&] { n.edit(); }},
             {"delete", [&] { n.remove(); }}, {"refresh", [&] { n.refresh(); }},
             {"record count", [&] { n.recordCount(); }}, {"moveTo", [&] { n.moveTo(0); }}}) {
        QCOMPARE(errorOf(op.second), closed);
        QCOMPARE(n.state(), dsInactive);
    }
    const QString notEditing = u"TBL_NUCLEO: Dataset not in edit or insert mode"_s;
    QCOMPARE(errorOf([&] { n.post(); }), notEditing);
    QCOMPARE(errorOf([&] { set(n, "DENOMINAZIONE", "x"); }), notEditing);
    n.cancel();  // nothing
    QCOMPARE(n.state(), dsInactive);
    // The member table closed: TBL_NUCLEO's moves no longer reach it.
    n.open();
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
    m_rec->clear();
    n.refresh();
    QCOMPARE(m_rec->of(u"dsNUCLEO"_s), events("N:deCheckBrowseMode|N:deDataSetChange"));
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
    // An empty table that receives rows elsewhere: after refresh they can be
    // walked.
    QCOMPARE(m_dm->TBL_EXPORT.recordCount(), 0);
    m_sql->exec(u"INSERT INTO TBL_EXPORT (CODICE_NUCLEO) VALUES ('QX1'), ('QX2')"_s);
    m_dm->TBL_EXPORT.refresh();
    QCOMPARE(m_dm->TBL_EXPORT.recordCount(), 2);
    QCOMPARE(m_dm->TBL_EXPORT.currentRow(), 0);
    QVERIFY(!m_dm->TBL_EXPORT.eof());
    int walked = 0;
    for (; !m_dm->TBL_EXPORT.eof(); m_dm->TBL_EXPORT.next()) ++walked;
    QCOMPARE(walked, 2);
    // And emptied elsewhere: both flags.
    m_sql->exec(u"DELETE FROM TBL_EXPORT"_s);
    m_dm->TBL_EXPORT.refresh();
    checkFlags(m_dm->TBL_EXPORT, -1, true, true);
}

void TestCursor::ordering() {
    start([](Sql& sql) {
        standardRows(sql);
        sql.addMember(u"QX1"_s, u"Ultimo"_s);
        for (const char* code : {"QX2", "QX10", "QX1", "QX2", "QX1"})
            sql.exec(u"INSERT INTO TBL_EXPORT (CODICE_NUCLEO, COGNOME) VALUES (?, ?)"_s,
                     {QString::fromLatin1(code), u"n%1"_s.arg(sql.one(u"SELECT count(*) FROM TBL_EXPORT"_s).toInt())});
    });
    // Members: equal codes in counter order.
    QCOMPARE(memberNames(), L("Rossi|Verdi|Ultimo"));
    // The staging table by family code (text order), equal codes by counter.
    m_dm->TBL_EXPORT.refresh();
    QStringList exported;
    for (m_dm->TBL_EXPORT.first(); !m_dm->TBL_EXPORT.eof(); m_dm->TBL_EXPORT.next())
        exported << text(m_dm->TBL_EXPORT, "CODICE_NUCLEO") + QLatin1Char(' ') + text(m_dm->TBL_EXPORT, "COGNOME");
    QCOMPARE(exported, L("QX1 n2|QX1 n4|QX10 n1|QX2 n0|QX2 n3"));
    // Reference lists in their own order.
    QCOMPARE(m_dm->TBL_COMUNI.recordCount(), 7896);
    QCOMPARE(m_dm->TBL_NAZIONI.recordCount(), 251);
    const QVariant firstComune = m_sql->one(u"SELECT Denominazione FROM TBL_SYS_COMUNI ORDER BY rowid LIMIT 1"_s);
    QCOMPARE(text(m_dm->TBL_COMUNI, "Denominazione"), firstComune.toString());
    // Family units in the table's own (counter) order.
    QStringList codes;
    for (nucleo().first(); !nucleo().eof(); nucleo().next()) codes << text(nucleo(), "CODICE_NUCLEO");
    QCOMPARE(codes, L("QX1|QX2|QX3"));
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
    // A second copy of the program opens the same file while the first has
    // it open; both read and write.
    TdmMarvesa second;
    second.DataModuleCreate(m_path);
    QCOMPARE(second.TBL_NUCLEO.recordCount(), 3);
    add(second.TBL_NUCLEO, "CODICE_NUCLEO", "QX20");
    add(nucleo(), "CODICE_NUCLEO", "QX21");
    nucleo().refresh();
    second.TBL_NUCLEO.refresh();
    QCOMPARE(nucleo().recordCount(), 5);
    QCOMPARE(second.TBL_NUCLEO.recordCount(), 5);
    // Both change different rows.
    nucleo().last();
    nucleo().edit();
    set(nucleo(), "TELEFONO", "1");
    second.TBL_NUCLEO.first();
    change(second.TBL_NUCLEO, "TELEFONO", "2");
    nucleo().post();
    QCOMPARE(m_sql->one(u"SELECT group_concat(TELEFONO, ',') FROM TBL_NUCLEO WHERE TELEFONO IS NOT NULL"_s).toString().size(), 3);

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
    QCOMPARE(table.recordCount(), 5);
    table.close();
    own.disconnect();
    QVERIFY(!own.isConnected());
    QCOMPARE(errorOf([&] { table.open(); }), u"cnProva: la connessione al database non è aperta"_s);
}

void TestCursor::optimisticCheckOnChangedAndDeletedRows() {
    start();
    TdmMarvesa b;
    b.DataModuleCreate(m_path);
    // A reads the row, B changes and stores it, A's change is refused.
    nucleo().first();
    b.TBL_NUCLEO.first();
    change(b.TBL_NUCLEO, "DENOMINAZIONE", "Da B");
    nucleo().edit();
    set(nucleo(), "TELEFONO", "da A");
    m_rec->clear();
    QCOMPARE(errorOf([&] { nucleo().post(); }), Changed);
    QCOMPARE(nucleo().state(), dsEdit);
    QCOMPARE(text(nucleo(), "TELEFONO"), u"da A"_s);
    QVERIFY(m_rec->stateChanges().isEmpty());
    QCOMPARE(m_sql->one(u"SELECT DENOMINAZIONE FROM TBL_NUCLEO WHERE ID_NUCLEO = 1"_s).toString(), u"Da B"_s);
    QVERIFY(m_sql->one(u"SELECT TELEFONO FROM TBL_NUCLEO WHERE ID_NUCLEO = 1"_s).isNull());
    // The same when the move ends the edit: the move does not happen.
    QCOMPARE(errorOf([&] { nucleo().next(); }), Changed);
    QCOMPARE(nucleo().currentRow(), 0);
    // Abandoned and read again, the change goes through.
    nucleo().cancel();
    nucleo().refresh();
    QCOMPARE(text(nucleo(), "DENOMINAZIONE"), u"Da B"_s);
    change(nucleo(), "TELEFONO", "da A");
    QCOMPARE(m_sql->one(u"SELECT TELEFONO || ' ' || DENOMINAZIONE FROM TBL_NUCLEO WHERE ID_NUCLEO = 1"_s).toString(),
             u"da A Da B"_s);
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
    QCOMPARE(m_sql->one(u"SELECT count(*) FROM TBL_NUCLEO"_s).toInt(), 2);
    nucleo().cancel();
    nucleo().refresh();
    QCOMPARE(nucleo().recordCount(), 2);

    // The same for a member.
    nucleo().first();
    members().first();
    b.TBL_NUCLEO.first();
    b.TBL_ANAGRAFICA.first();
    QCOMPARE(b.TBL_ANAGRAFICA.fieldValue(u"ID_ANAGRAFICA"_s), members().fieldValue(u"ID_ANAGRAFICA"_s));
    change(b.TBL_ANAGRAFICA, "NOTE", "nota di B");
    members().edit();
    set(members(), "NOTE", "nota di A");
    QCOMPARE(errorOf([&] { members().post(); }), QString(Changed).replace(u"TBL_NUCLEO"_s, u"TBL_ANAGRAFICA"_s));
    QCOMPARE(members().state(), dsEdit);
}

QTEST_GUILESS_MAIN(TestCursor)
#include "tst_cursor.moc"
