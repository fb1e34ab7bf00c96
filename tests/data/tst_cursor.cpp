// The table cursors on real database files: every operation and state
// change, the order of their notifications, the edge cases of moving and
// deleting, the member table following the family-unit table, failures that
// leave the pending row in place, refresh, ordering, and two copies of the
// program working on one file.

#include <QtTest>

#include "DataTestSupport.h"

using namespace marvesa;
using namespace marvesa::test;

namespace {

// Standard rows: three family units (QX3 without members) and four members,
// entered out of family order.
void standardRows(Sql& sql) {
    sql.addNucleo(QStringLiteral("QX1"));
    sql.addNucleo(QStringLiteral("QX2"));
    sql.addNucleo(QStringLiteral("QX3"));
    sql.addMember(QStringLiteral("QX2"), QStringLiteral("Bianchi"));
    sql.addMember(QStringLiteral("QX1"), QStringLiteral("Rossi"));
    sql.addMember(QStringLiteral("QX1"), QStringLiteral("Verdi"));
    sql.addMember(QStringLiteral("QX2"), QStringLiteral("Neri"));
}

// Every insert, update and delete the database performs on the two tables is
// written to WRITES, so tests can see what was stored and when.
void logWrites(Sql& sql) {
    sql.exec(QStringLiteral("CREATE TABLE WRITES (n INTEGER PRIMARY KEY, what TEXT)"));
    for (const QString& t : {QStringLiteral("TBL_NUCLEO"), QStringLiteral("TBL_ANAGRAFICA")}) {
        const QString id = t == QLatin1String("TBL_NUCLEO") ? QStringLiteral("ID_NUCLEO")
                                                            : QStringLiteral("ID_ANAGRAFICA");
        for (const QString& op : {QStringLiteral("INSERT"), QStringLiteral("UPDATE"), QStringLiteral("DELETE")}) {
            const QString row = op == QLatin1String("DELETE") ? QStringLiteral("OLD") : QStringLiteral("NEW");
            sql.exec(QStringLiteral("CREATE TRIGGER log_%1_%2 AFTER %2 ON %1 BEGIN "
                                    "INSERT INTO WRITES (what) VALUES ('%1 %2 ' || %3.%4); END")
                         .arg(t, op, row, id));
        }
    }
}

const QString Changed = QStringLiteral(
    "TBL_NUCLEO: la riga è stata modificata o cancellata da un altro utente dopo essere stata "
    "letta e non è stata salvata. Annullare le modifiche e aggiornare i dati");

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
        for (const QVariant& v : m_sql->exec(QStringLiteral("SELECT what FROM WRITES ORDER BY n")))
            r << v.toString();
        m_sql->exec(QStringLiteral("DELETE FROM WRITES"));
        return r;
    }
    QStringList memberNames() {
        QStringList r;
        for (int i = 0; i < members().rowCount(); ++i)
            r << Field::displayTextOf(members().valueAt(i, members().fieldByName(QStringLiteral("COGNOME"))->index()));
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
    m_path = newDatabase(m_dir, QStringLiteral("c-%1.db").arg(QUuid::createUuid().toString(QUuid::Id128)));
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
    QCOMPARE(m_rec->stateChanges(), (QStringList{QStringLiteral("dsNUCLEO:StateChange(dsBrowse)"),
                                                 QStringLiteral("dsANAGRAFICA:StateChange(dsBrowse)")}));
    QCOMPARE(m_rec->wrongSenders, 0);
    for (DataSet* ds : {&m_dm->TBL_NUCLEO, &m_dm->TBL_ANAGRAFICA, &m_dm->TBL_COMUNI, &m_dm->TBL_NAZIONI,
                        &m_dm->TBL_EXPORT})
        QCOMPARE(ds->state(), dsBrowse);
    checkFlags(nucleo(), 0, true, false);
    QCOMPARE(nucleo().recordCount(), 3);
    QCOMPARE(text(nucleo(), "CODICE_NUCLEO"), QStringLiteral("QX1"));
    // The empty staging table: no current row, both flags.
    checkFlags(m_dm->TBL_EXPORT, -1, true, true);
    QCOMPARE(m_dm->TBL_EXPORT.recordCount(), 0);
    QVERIFY(m_dm->TBL_EXPORT.fieldValue(QStringLiteral("COGNOME")).isNull());

    m_rec->clear();
    nucleo().next();
    checkFlags(nucleo(), 1, false, false);
    QCOMPARE(m_rec->of(QStringLiteral("dsNUCLEO")),
             (QStringList{QStringLiteral("dsNUCLEO:deCheckBrowseMode"), QStringLiteral("dsNUCLEO:deDataSetScroll")}));
    nucleo().next();
    checkFlags(nucleo(), 2, false, false);
    // Next on the last row: the end flag, the last row stays current.
    nucleo().next();
    checkFlags(nucleo(), 2, false, true);
    QCOMPARE(text(nucleo(), "CODICE_NUCLEO"), QStringLiteral("QX3"));
    // Another next does nothing but end a pending edit.
    m_rec->clear();
    nucleo().next();
    checkFlags(nucleo(), 2, false, true);
    QCOMPARE(m_rec->of(QStringLiteral("dsNUCLEO")), QStringList{QStringLiteral("dsNUCLEO:deCheckBrowseMode")});
    // Prior mirrors next.
    nucleo().prior();
    checkFlags(nucleo(), 1, false, false);
    nucleo().prior();
    nucleo().prior();
    checkFlags(nucleo(), 0, true, false);
    QCOMPARE(text(nucleo(), "CODICE_NUCLEO"), QStringLiteral("QX1"));
    m_rec->clear();
    nucleo().prior();
    checkFlags(nucleo(), 0, true, false);
    QCOMPARE(m_rec->of(QStringLiteral("dsNUCLEO")), QStringList{QStringLiteral("dsNUCLEO:deCheckBrowseMode")});
    // Last and first.
    m_rec->clear();
    nucleo().last();
    checkFlags(nucleo(), 2, false, true);
    QCOMPARE(m_rec->of(QStringLiteral("dsNUCLEO")),
             (QStringList{QStringLiteral("dsNUCLEO:deCheckBrowseMode"), QStringLiteral("dsNUCLEO:deDataSetChange")}));
    nucleo().first();
    checkFlags(nucleo(), 0, true, false);
    // A grid's move.
    nucleo().moveTo(2);
    checkFlags(nucleo(), 2, false, false);
    nucleo().moveTo(7);  // no such row: stays
    checkFlags(nucleo(), 2, false, false);
    // The walk of the export: first, then next while the end flag is clear.
    QStringList walked;
    for (nucleo().first(); !nucleo().eof(); nucleo().next()) walked << text(nucleo(), "CODICE_NUCLEO");
    QCOMPARE(walked, (QStringList{QStringLiteral("QX1"), QStringLiteral("QX2"), QStringLiteral("QX3")}));
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
    const QString notEditing = QStringLiteral("TBL_NUCLEO: Dataset not in edit or insert mode");

    // dsBrowse: post is an error and changes nothing; cancel does nothing.
    QCOMPARE(errorOf([&] { n.post(); }), notEditing);
    QCOMPARE(n.state(), dsBrowse);
    m_rec->clear();
    n.cancel();
    QVERIFY(log().isEmpty());
    QCOMPARE(errorOf([&] { n.setFieldValue(QStringLiteral("DENOMINAZIONE"), txt("x")); }), notEditing);

    // dsBrowse -> edit -> dsEdit; edit again: nothing.
    n.edit();
    QCOMPARE(n.state(), dsEdit);
    m_rec->clear();
    n.edit();
    QCOMPARE(n.state(), dsEdit);
    QVERIFY(log().isEmpty());
    // dsEdit -> cancel -> dsBrowse, the stored values shown again.
    n.setFieldValue(QStringLiteral("DENOMINAZIONE"), txt("Cambiata"));
    n.cancel();
    QCOMPARE(n.state(), dsBrowse);
    QCOMPARE(text(n, "DENOMINAZIONE"), QStringLiteral("Famiglia QX1"));
    QVERIFY(writes().isEmpty());
    // dsEdit -> post -> dsBrowse.
    n.edit();
    n.setFieldValue(QStringLiteral("DENOMINAZIONE"), txt("Cambiata"));
    n.post();
    QCOMPARE(n.state(), dsBrowse);
    QCOMPARE(writes(), QStringList{QStringLiteral("TBL_NUCLEO UPDATE 1")});
    QCOMPARE(text(n, "DENOMINAZIONE"), QStringLiteral("Cambiata"));

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
    QCOMPARE(m_rec->stateChanges(), (QStringList{QStringLiteral("dsNUCLEO:StateChange(dsBrowse)"),
                                                 QStringLiteral("dsNUCLEO:StateChange(dsInsert)")}));
    QCOMPARE(n.recordCount(), 3);
    // dsInsert with a change -> insert: the row is posted, then dsInsert.
    n.setFieldValue(QStringLiteral("CODICE_NUCLEO"), txt("QX4"));
    n.insert();
    QCOMPARE(n.state(), dsInsert);
    QCOMPARE(writes(), QStringList{QStringLiteral("TBL_NUCLEO INSERT 4")});
    QCOMPARE(n.recordCount(), 4);
    // dsInsert -> cancel -> dsBrowse.
    n.cancel();
    QCOMPARE(n.state(), dsBrowse);
    QCOMPARE(n.recordCount(), 4);
    // dsEdit -> insert: the changed row is posted first.
    n.first();
    n.edit();
    n.setFieldValue(QStringLiteral("TELEFONO"), txt("0461 000000"));
    m_rec->clear();
    n.insert();
    // The new rows went in where the current row stood: QX4 is the first.
    QCOMPARE(writes(), QStringList{QStringLiteral("TBL_NUCLEO UPDATE 4")});
    QCOMPARE(m_rec->stateChanges(), (QStringList{QStringLiteral("dsNUCLEO:StateChange(dsBrowse)"),
                                                 QStringLiteral("dsNUCLEO:StateChange(dsInsert)")}));
    // dsInsert -> post -> dsBrowse.
    n.setFieldValue(QStringLiteral("CODICE_NUCLEO"), txt("QX5"));
    n.post();
    QCOMPARE(n.state(), dsBrowse);
    QCOMPARE(writes(), QStringList{QStringLiteral("TBL_NUCLEO INSERT 5")});
    QCOMPARE(text(n, "CODICE_NUCLEO"), QStringLiteral("QX5"));

    // dsInsert -> delete: the new row is abandoned, nothing is deleted.
    n.insert();
    n.setFieldValue(QStringLiteral("CODICE_NUCLEO"), txt("QX6"));
    n.remove();
    QCOMPARE(n.state(), dsBrowse);
    QVERIFY(writes().isEmpty());
    QCOMPARE(n.recordCount(), 5);
    // dsEdit -> delete: the row goes with its pending changes.
    n.first();
    n.edit();
    n.setFieldValue(QStringLiteral("DENOMINAZIONE"), txt("Mai salvata"));
    n.remove();
    QCOMPARE(n.state(), dsBrowse);
    QCOMPARE(writes(), QStringList{QStringLiteral("TBL_NUCLEO DELETE 5")});
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
        n.setFieldValue(QStringLiteral("INDIRIZZO"), Value::text(QString::fromLatin1(move.first)));
        move.second();
        QVERIFY2(n.state() == dsBrowse, move.first);
        QCOMPARE(writes().size(), 1);
        QCOMPARE(m_sql->one(QStringLiteral("SELECT count(*) FROM TBL_NUCLEO WHERE INDIRIZZO = ?"),
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
    const QString cbm = QStringLiteral("dsNUCLEO:deCheckBrowseMode");
    const QString memberCbm = QStringLiteral("dsANAGRAFICA:deCheckBrowseMode");

    // Snapshots taken at each announcement: what is stored, the member code.
    QStringList seen;
    m_rec->onEvent = [&](const QString& source, DataEvent e) {
        if (source != QLatin1String("dsNUCLEO") || (e != deUpdateState && e != deCheckBrowseMode)) return;
        seen << eventName(e) + QStringLiteral(" writes=") +
                    m_sql->one(QStringLiteral("SELECT count(*) FROM WRITES")).toString();
    };

    // insert: ending a pending edit (the member table's first), dsInsert,
    // then the new row is shown; the member table empties after that.
    m_rec->clear();
    n.insert();
    QCOMPARE(log(), (QStringList{cbm, memberCbm, QStringLiteral("dsNUCLEO:deUpdateState(dsInsert)"),
                                 QStringLiteral("dsNUCLEO:StateChange(dsInsert)"),
                                 QStringLiteral("dsNUCLEO:deDataSetChange"), memberCbm, memberCbm,
                                 QStringLiteral("dsANAGRAFICA:deDataSetChange")}));
    QCOMPARE(members().rowCount(), 0);

    // post: deUpdateRecord, deCheckBrowseMode, storing, dsBrowse, the stored
    // row shown; the member table follows the new code.
    n.setFieldValue(QStringLiteral("CODICE_NUCLEO"), txt("QX9"));
    m_rec->clear();
    seen.clear();
    n.post();
    QCOMPARE(log(), (QStringList{QStringLiteral("dsNUCLEO:deUpdateRecord"), cbm, memberCbm,
                                 QStringLiteral("dsNUCLEO:deUpdateState(dsBrowse)"),
                                 QStringLiteral("dsNUCLEO:StateChange(dsBrowse)"),
                                 QStringLiteral("dsNUCLEO:deDataSetChange"), memberCbm, memberCbm,
                                 QStringLiteral("dsANAGRAFICA:deDataSetChange")}));
    QCOMPARE(seen, (QStringList{QStringLiteral("deCheckBrowseMode writes=0"),
                                QStringLiteral("deUpdateState writes=1")}));
    writes();

    // edit: ending a pending edit, dsEdit, deRecordChange; the member
    // table's link re-checks the code and finds it unchanged.
    n.moveTo(1);  // QX1, after the new QX9
    QCOMPARE(text(n, "CODICE_NUCLEO"), QStringLiteral("QX1"));
    m_rec->clear();
    n.edit();
    QCOMPARE(log(), (QStringList{cbm, memberCbm, QStringLiteral("dsNUCLEO:deUpdateState(dsEdit)"),
                                 QStringLiteral("dsNUCLEO:StateChange(dsEdit)"),
                                 QStringLiteral("dsNUCLEO:deRecordChange"), memberCbm}));

    // A column write announces the column.
    m_rec->clear();
    n.setFieldValue(QStringLiteral("DENOMINAZIONE"), txt("Nuova"));
    QCOMPARE(log(), QStringList{QStringLiteral("dsNUCLEO:deFieldChange(DENOMINAZIONE)")});

    // cancel: deCheckBrowseMode, discarding, dsBrowse, the row shown again.
    m_rec->clear();
    n.cancel();
    QCOMPARE(log(), (QStringList{cbm, memberCbm, QStringLiteral("dsNUCLEO:deUpdateState(dsBrowse)"),
                                 QStringLiteral("dsNUCLEO:StateChange(dsBrowse)"),
                                 QStringLiteral("dsNUCLEO:deDataSetChange"), memberCbm}));
    QCOMPARE(text(n, "DENOMINAZIONE"), QStringLiteral("Famiglia QX1"));

    // delete in dsBrowse: deCheckBrowseMode, deleting, no state change, the
    // next row shown; the member table shows its family's members.
    m_rec->clear();
    seen.clear();
    n.remove();
    QCOMPARE(log(), (QStringList{cbm, memberCbm, QStringLiteral("dsNUCLEO:deDataSetChange"), memberCbm,
                                 memberCbm, QStringLiteral("dsANAGRAFICA:deDataSetChange")}));
    QCOMPARE(seen, QStringList{QStringLiteral("deCheckBrowseMode writes=0")});
    QCOMPARE(writes(), QStringList{QStringLiteral("TBL_NUCLEO DELETE 1")});
    QCOMPARE(memberNames(), (QStringList{QStringLiteral("Bianchi"), QStringLiteral("Neri")}));

    // delete in dsEdit: the state change comes after deleting.
    n.edit();
    m_rec->clear();
    seen.clear();
    n.remove();
    QCOMPARE(m_rec->of(QStringLiteral("dsNUCLEO")),
             (QStringList{cbm, QStringLiteral("dsNUCLEO:deUpdateState(dsBrowse)"),
                          QStringLiteral("dsNUCLEO:StateChange(dsBrowse)"), QStringLiteral("dsNUCLEO:deDataSetChange")}));
    QCOMPARE(seen, (QStringList{QStringLiteral("deCheckBrowseMode writes=0"), QStringLiteral("deUpdateState writes=1")}));
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
    QCOMPARE(log(), (QStringList{memberCbm, QStringLiteral("dsANAGRAFICA:deUpdateState(dsInsert)"),
                                 QStringLiteral("dsANAGRAFICA:StateChange(dsInsert)"),
                                 QStringLiteral("dsANAGRAFICA:deDataSetChange")}));
    QCOMPARE(codes, (QStringList{QStringLiteral("deUpdateState <NULL>"), QStringLiteral("deDataSetChange QX9")}));
    QVERIFY(!members().modified());
    m_rec->onEvent = nullptr;
}

void TestCursor::notificationOrderWithPendingMember() {
    start();
    // A member being edited with a typed change: an insert on TBL_NUCLEO
    // first stores the member, then enters dsInsert.
    members().edit();
    members().fieldByName(QStringLiteral("COGNOME"))->setText(QStringLiteral("Rossini"));
    m_rec->clear();
    nucleo().insert();
    const QString memberCbm = QStringLiteral("dsANAGRAFICA:deCheckBrowseMode");
    QCOMPARE(log(), (QStringList{QStringLiteral("dsNUCLEO:deCheckBrowseMode"), memberCbm,
                                 QStringLiteral("dsANAGRAFICA:deUpdateRecord"),
                                 QStringLiteral("dsANAGRAFICA:deUpdateRecord"), memberCbm,
                                 QStringLiteral("dsANAGRAFICA:deUpdateState(dsBrowse)"),
                                 QStringLiteral("dsANAGRAFICA:StateChange(dsBrowse)"),
                                 QStringLiteral("dsANAGRAFICA:deDataSetChange"),
                                 QStringLiteral("dsNUCLEO:deUpdateState(dsInsert)"),
                                 QStringLiteral("dsNUCLEO:StateChange(dsInsert)"),
                                 QStringLiteral("dsNUCLEO:deDataSetChange"), memberCbm, memberCbm,
                                 QStringLiteral("dsANAGRAFICA:deDataSetChange")}));
    QCOMPARE(m_rec->stateChanges(), (QStringList{QStringLiteral("dsANAGRAFICA:StateChange(dsBrowse)"),
                                                 QStringLiteral("dsNUCLEO:StateChange(dsInsert)")}));
    QCOMPARE(writes(), QStringList{QStringLiteral("TBL_ANAGRAFICA UPDATE 2")});
    QCOMPARE(m_sql->one(QStringLiteral("SELECT COGNOME FROM TBL_ANAGRAFICA WHERE ID_ANAGRAFICA = 2")).toString(),
             QStringLiteral("Rossini"));

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
        QVERIFY2(writes().filter(QStringLiteral("TBL_ANAGRAFICA")).isEmpty(), op.first);
        if (nucleo().isEditing()) nucleo().cancel();
    }
    // post and cancel of TBL_NUCLEO end the member's pending edit too.
    for (const bool doPost : {true, false}) {
        nucleo().first();
        nucleo().edit();
        members().insert();
        members().setFieldValue(QStringLiteral("COGNOME"), txt(doPost ? "DaPost" : "DaCancel"));
        m_rec->clear();
        doPost ? nucleo().post() : nucleo().cancel();
        QCOMPARE(m_rec->stateChanges(), (QStringList{QStringLiteral("dsANAGRAFICA:StateChange(dsBrowse)"),
                                                     QStringLiteral("dsNUCLEO:StateChange(dsBrowse)")}));
        QCOMPARE(writes().filter(QStringLiteral("TBL_ANAGRAFICA INSERT")).size(), 1);
    }
}

void TestCursor::stateChangeHandlerOncePerRealChange() {
    start();
    DataSet& n = nucleo();
    m_rec->clear();
    n.edit();
    n.edit();
    n.setFieldValue(QStringLiteral("DENOMINAZIONE"), txt("x"));
    n.post();
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
    QCOMPARE(m_rec->of(QStringLiteral("dsNUCLEO")).filter(QStringLiteral("StateChange")),
             (QStringList{QStringLiteral("dsNUCLEO:StateChange(dsEdit)"), QStringLiteral("dsNUCLEO:StateChange(dsBrowse)"),
                          QStringLiteral("dsNUCLEO:StateChange(dsInsert)"), QStringLiteral("dsNUCLEO:StateChange(dsBrowse)"),
                          QStringLiteral("dsNUCLEO:StateChange(dsInactive)"),
                          QStringLiteral("dsNUCLEO:StateChange(dsBrowse)")}));
    // Each handler call follows the deUpdateState of the same change.
    QCOMPARE(m_rec->of(QStringLiteral("dsNUCLEO")).filter(QStringLiteral("deUpdateState")).size(), 6);
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
    QCOMPARE(m_dm->dsANAGRAFICA.dataSet(), &members());
    QCOMPARE(m_dm->dataSourceByName(QStringLiteral("dsANAGRAFICA")), &m_dm->dsANAGRAFICA);
    QCOMPARE(m_dm->dataSourceByName(QStringLiteral("dsEXPORT")), &m_dm->dsEXPORT);
    QCOMPARE(m_dm->dataSourceByName(QStringLiteral("dsNIENTE")), nullptr);
}

void TestCursor::editAndInsertEdgeCases() {
    start([](Sql&) {});
    DataSet& n = nucleo();
    checkFlags(n, -1, true, true);
    QCOMPARE(n.recordCount(), 0);
    // Reading the code of an empty table gives NULL, which is no text.
    QVERIFY(n.fieldValue(QStringLiteral("CODICE_NUCLEO")).isNull());
    QCOMPARE(errorOf([&] { n.fieldValue(QStringLiteral("CODICE_NUCLEO")).toText(); }),
             QStringLiteral("Could not convert variant of type (Null) into type (OleStr)"));
    // Edit on an empty table: dsInsert, no error.
    m_rec->clear();
    n.edit();
    QCOMPARE(n.state(), dsInsert);
    QCOMPARE(m_rec->stateChanges(), QStringList{QStringLiteral("dsNUCLEO:StateChange(dsInsert)")});
    QVERIFY(!n.modified());
    // Post of an untouched new row stores a row with only its counter
    // (DATA_INSERIMENTO takes the database's default).
    n.post();
    QCOMPARE(writes(), QStringList{QStringLiteral("TBL_NUCLEO INSERT 1")});
    const QList<QVariantList> rows = m_sql->rows(QStringLiteral("SELECT * FROM TBL_NUCLEO"));
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0][0].toLongLong(), 1);
    for (int i = 1; i < rows[0].size(); ++i) {
        if (i == 3) {
            QVERIFY(!rows[0][i].isNull());  // DATA_INSERIMENTO
        } else {
            QVERIFY2(rows[0][i].isNull(), qPrintable(QString::number(i)));
        }
    }
    QCOMPARE(text(n, "ID_NUCLEO"), QStringLiteral("1"));
    QVERIFY(!n.fieldValue(QStringLiteral("DATA_INSERIMENTO")).isNull());
    QCOMPARE(n.fieldValue(QStringLiteral("DATA_INSERIMENTO")).toDateTime().date(), QDate::currentDate());
    checkFlags(n, 0, false, false);
    // The member table follows a family unit whose code is NULL: no rows.
    QCOMPARE(members().rowCount(), 0);

    // A member insert into which nothing was typed stores only its code.
    n.edit();
    n.setFieldValue(QStringLiteral("CODICE_NUCLEO"), txt("QX1"));
    n.post();
    members().insert();
    QCOMPARE(text(members(), "CODICE_NUCLEO"), QStringLiteral("QX1"));
    QVERIFY(!members().modified());
    members().post();
    const QList<QVariantList> m = m_sql->rows(QStringLiteral("SELECT * FROM TBL_ANAGRAFICA"));
    QCOMPARE(m.size(), 1);
    QCOMPARE(m[0][1].toString(), QStringLiteral("QX1"));
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
    n.insert();
    n.setFieldValue(QStringLiteral("CODICE_NUCLEO"), txt("QX2"));
    n.post();
    n.insert();
    n.setFieldValue(QStringLiteral("CODICE_NUCLEO"), txt("QX3"));
    n.post();
    QStringList order;
    for (n.first(); !n.eof(); n.next()) order << text(n, "CODICE_NUCLEO");
    QCOMPARE(order, (QStringList{QStringLiteral("QX3"), QStringLiteral("QX2"), QStringLiteral("QX1")}));
    n.moveTo(1);
    n.insert();
    QCOMPARE(n.currentRow(), 1);
    QCOMPARE(n.rowCount(), 4);
    QCOMPARE(n.recordCount(), 3);
    QCOMPARE(members().rowCount(), 0);
    n.cancel();
    checkFlags(n, 1, false, false);
    QCOMPARE(text(n, "CODICE_NUCLEO"), QStringLiteral("QX2"));
    n.last();
    n.next();
    n.insert();
    n.cancel();
    checkFlags(n, 2, false, true);
    QCOMPARE(text(n, "CODICE_NUCLEO"), QStringLiteral("QX1"));
    n.first();
    n.insert();
    n.cancel();
    checkFlags(n, 0, true, false);
    // After the reopen, the stored order.
    n.close();
    n.open();
    order.clear();
    for (n.first(); !n.eof(); n.next()) order << text(n, "CODICE_NUCLEO");
    QCOMPARE(order, (QStringList{QStringLiteral("QX1"), QStringLiteral("QX2"), QStringLiteral("QX3")}));
}

void TestCursor::deleteEdgeCases() {
    start();
    DataSet& n = nucleo();
    // The second of three: the third becomes current.
    n.moveTo(1);
    n.remove();
    QCOMPARE(text(n, "CODICE_NUCLEO"), QStringLiteral("QX3"));
    checkFlags(n, 1, false, false);
    // Back to three; delete the last: the new last row, end flag clear.
    m_sql->addNucleo(QStringLiteral("QX4"));
    n.refresh();
    QCOMPARE(n.recordCount(), 3);
    n.last();
    QCOMPARE(text(n, "CODICE_NUCLEO"), QStringLiteral("QX4"));
    n.remove();
    QCOMPARE(text(n, "CODICE_NUCLEO"), QStringLiteral("QX3"));
    checkFlags(n, 1, false, false);
    n.next();
    QVERIFY(n.eof());
    QCOMPARE(text(n, "CODICE_NUCLEO"), QStringLiteral("QX3"));
    // Deleting from the first while the end flag is clear empties the table.
    writes();
    int deleted = 0;
    for (n.first(); !n.eof(); ++deleted) n.remove();
    QCOMPARE(deleted, 2);
    QCOMPARE(writes(), (QStringList{QStringLiteral("TBL_NUCLEO DELETE 1"), QStringLiteral("TBL_NUCLEO DELETE 3")}));
    // The only row gone: no current row, both flags.
    checkFlags(n, -1, true, true);
    QCOMPARE(n.recordCount(), 0);
    QCOMPARE(members().rowCount(), 0);
    // Delete on an empty table.
    QCOMPARE(errorOf([&] { n.remove(); }),
             QStringLiteral("TBL_NUCLEO: Cannot perform this operation on an empty dataset"));
    QCOMPARE(n.state(), dsBrowse);
    // Deleting a family unit leaves its members in the database.
    QCOMPARE(m_sql->one(QStringLiteral("SELECT count(*) FROM TBL_ANAGRAFICA")).toInt(), 4);
}

void TestCursor::postStoresExactlyWhatChanged() {
    start();
    DataSet& n = nucleo();
    // An edit in which nothing changed stores nothing: another copy's change
    // survives and no conflict is reported.
    n.edit();
    m_sql->exec(QStringLiteral("UPDATE TBL_NUCLEO SET TELEFONO = 'altro' WHERE ID_NUCLEO = 1"));
    writes();
    n.post();
    QCOMPARE(n.state(), dsBrowse);
    QVERIFY(writes().isEmpty());
    // Writing the value a column already holds is no change either.
    n.edit();
    n.setFieldValue(QStringLiteral("CODICE_NUCLEO"), txt("QX1"));
    QVERIFY(n.modified());
    n.post();
    QVERIFY(writes().isEmpty());
    // Only the changed column is written; the others keep the database's
    // values, the new value of TELEFONO among them after the refresh.
    n.refresh();
    QCOMPARE(text(n, "TELEFONO"), QStringLiteral("altro"));
    n.edit();
    n.setFieldValue(QStringLiteral("DENOMINAZIONE"), txt("Famiglia nuova"));
    n.post();
    QCOMPARE(writes(), QStringList{QStringLiteral("TBL_NUCLEO UPDATE 1")});
    const QVariantList row = m_sql->rows(QStringLiteral("SELECT DENOMINAZIONE, TELEFONO FROM TBL_NUCLEO WHERE ID_NUCLEO = 1")).value(0);
    QCOMPARE(row.value(0).toString(), QStringLiteral("Famiglia nuova"));
    QCOMPARE(row.value(1).toString(), QStringLiteral("altro"));
    // Values travel as bound parameters: quotes, SQL, backslashes, any
    // script, emoji come back as they went.
    const QStringList texts = {QStringLiteral("O'Brien \"il\" primo"), QStringLiteral("'; DROP TABLE TBL_NUCLEO; --"),
                               QStringLiteral("C:\\dB\\dbQuaz.mdb \\n \\0"), QStringLiteral("Łódź Ελλάδα Україна 日本 عربي"),
                               QStringLiteral("\U0001F600\U0001F1EE\U0001F1F9 %s %1 ? :nome @x $1")};
    for (const QString& t : texts) {
        members().insert();
        members().setFieldValue(QStringLiteral("COGNOME"), Value::text(t.left(50)));
        members().setFieldValue(QStringLiteral("NOTE"), Value::text(t));
        members().post();
    }
    members().refresh();
    QCOMPARE(m_sql->one(QStringLiteral("SELECT count(*) FROM TBL_NUCLEO")).toInt(), 3);
    for (const QString& t : texts) {
        QCOMPARE(m_sql->one(QStringLiteral("SELECT count(*) FROM TBL_ANAGRAFICA WHERE NOTE = ? AND COGNOME = ?"),
                            {t, t.left(50)}).toInt(), 1);
    }
    QStringList notes;
    for (members().first(); !members().eof(); members().next())
        if (!members().fieldValue(QStringLiteral("NOTE")).isNull()) notes << text(members(), "NOTE");
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
    QString unwritten = QStringLiteral("Scritta dal controllo");
    m_rec->onEvent = [&](const QString& source, DataEvent e) {
        if (source == QLatin1String("dsANAGRAFICA") && e == deUpdateRecord && !unwritten.isEmpty()) {
            members().fieldByName(QStringLiteral("FRONTIERA"))->setText(unwritten);
            unwritten.clear();
        }
    };
    members().edit();
    QVERIFY(!members().modified());
    writes();
    nucleo().next();
    QCOMPARE(writes(), QStringList{QStringLiteral("TBL_ANAGRAFICA UPDATE 2")});
    QCOMPARE(m_sql->one(QStringLiteral("SELECT FRONTIERA FROM TBL_ANAGRAFICA WHERE ID_ANAGRAFICA = 2")).toString(),
             QStringLiteral("Scritta dal controllo"));
    QCOMPARE(memberNames(), (QStringList{QStringLiteral("Bianchi"), QStringLiteral("Neri")}));
    // Post makes the controls write first too.
    unwritten = QStringLiteral("Austria");
    members().edit();
    members().post();
    QCOMPARE(text(members(), "FRONTIERA"), QStringLiteral("Austria"));
    m_rec->onEvent = nullptr;
}

void TestCursor::masterDetailFollowsFamilyUnit() {
    start();
    // Members of the current family unit only, in counter order.
    QCOMPARE(memberNames(), (QStringList{QStringLiteral("Rossi"), QStringLiteral("Verdi")}));
    QCOMPARE(members().recordCount(), 2);
    checkFlags(members(), 0, true, false);
    members().next();
    nucleo().next();
    QCOMPARE(memberNames(), (QStringList{QStringLiteral("Bianchi"), QStringLiteral("Neri")}));
    checkFlags(members(), 0, true, false);  // the first member current
    nucleo().next();
    QCOMPARE(members().rowCount(), 0);
    checkFlags(members(), -1, true, true);
    QCOMPARE(members().recordCount(), 0);
    nucleo().first();
    QCOMPARE(memberNames(), (QStringList{QStringLiteral("Rossi"), QStringLiteral("Verdi")}));

    // "Crea Nucleo": while the family unit is new, no members.
    members().last();
    nucleo().insert();
    QCOMPARE(members().rowCount(), 0);
    checkFlags(members(), -1, true, true);
    nucleo().setFieldValue(QStringLiteral("CODICE_NUCLEO"), txt("QX2"));  // no re-filter while inserting
    QCOMPARE(members().rowCount(), 0);
    // "Annulla": the members of the family unit current again, the first one
    // current.
    nucleo().cancel();
    QCOMPARE(text(nucleo(), "CODICE_NUCLEO"), QStringLiteral("QX1"));
    QCOMPARE(memberNames(), (QStringList{QStringLiteral("Rossi"), QStringLiteral("Verdi")}));
    checkFlags(members(), 0, true, false);
    // A stored new family unit has no members yet.
    nucleo().insert();
    nucleo().setFieldValue(QStringLiteral("CODICE_NUCLEO"), txt("QX7"));
    nucleo().post();
    QCOMPARE(members().rowCount(), 0);

    // Editing the family code shows the members of the code being typed;
    // cancel shows those of the stored code again.
    nucleo().moveTo(1);  // QX1, after the new QX7
    QCOMPARE(text(nucleo(), "CODICE_NUCLEO"), QStringLiteral("QX1"));
    nucleo().edit();
    nucleo().setFieldValue(QStringLiteral("CODICE_NUCLEO"), txt("QX2"));
    QCOMPARE(memberNames(), (QStringList{QStringLiteral("Bianchi"), QStringLiteral("Neri")}));
    // Other columns do not re-check the code.
    members().next();
    nucleo().setFieldValue(QStringLiteral("DENOMINAZIONE"), txt("x"));
    QCOMPARE(members().currentRow(), 1);
    nucleo().cancel();
    QCOMPARE(memberNames(), (QStringList{QStringLiteral("Rossi"), QStringLiteral("Verdi")}));

    // Changing a family unit's other columns never changes its members' code.
    nucleo().edit();
    nucleo().setFieldValue(QStringLiteral("DENOMINAZIONE"), txt("Altra"));
    nucleo().setFieldValue(QStringLiteral("NOME_OSPITANTE"), txt("Ospite"));
    nucleo().setFieldValue(QStringLiteral("TERMINE_ALLOGGIO"), Value::date(QDate(2025, 1, 1)));
    nucleo().post();
    QCOMPARE(m_sql->one(QStringLiteral("SELECT count(*) FROM TBL_ANAGRAFICA WHERE CODICE_NUCLEO = 'QX1'")).toInt(), 2);
    QCOMPARE(memberNames(), (QStringList{QStringLiteral("Rossi"), QStringLiteral("Verdi")}));

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
    QCOMPARE(text(members(), "CODICE_NUCLEO"), QStringLiteral("QX1"));
    QCOMPARE(members().fieldByName(QStringLiteral("CODICE_NUCLEO"))->displayText(), QStringLiteral("QX1"));
    QVERIFY(!members().modified());
    QCOMPARE(members().currentRow(), 0);
    QCOMPARE(members().rowCount(), 3);
    QCOMPARE(members().recordCount(), 2);
    // Nothing typed and the family unit moves: abandoned.
    writes();
    nucleo().next();
    QCOMPARE(members().state(), dsBrowse);
    QVERIFY(writes().isEmpty());
    QCOMPARE(memberNames(), (QStringList{QStringLiteral("Bianchi"), QStringLiteral("Neri")}));

    // Typed into: stored with exactly the values it holds.
    members().insert();
    members().fieldByName(QStringLiteral("COGNOME"))->setText(QStringLiteral("Gialli"));
    nucleo().prior();
    QCOMPARE(writes(), QStringList{QStringLiteral("TBL_ANAGRAFICA INSERT 5")});
    const QVariantList stored =
        m_sql->rows(QStringLiteral("SELECT CODICE_NUCLEO, COGNOME, NOME FROM TBL_ANAGRAFICA WHERE ID_ANAGRAFICA = 5")).value(0);
    QCOMPARE(stored.value(0).toString(), QStringLiteral("QX2"));
    QCOMPARE(stored.value(1).toString(), QStringLiteral("Gialli"));
    QVERIFY(stored.value(2).isNull());
    QCOMPARE(memberNames(), (QStringList{QStringLiteral("Rossi"), QStringLiteral("Verdi")}));

    // A stored member being edited: with a typed change it is posted when
    // the family unit moves (no window checks), unchanged it is abandoned.
    members().next();
    members().edit();
    members().fieldByName(QStringLiteral("NOME"))->setText(QStringLiteral("Anna"));
    nucleo().next();
    QCOMPARE(writes(), QStringList{QStringLiteral("TBL_ANAGRAFICA UPDATE 3")});
    QCOMPARE(m_sql->one(QStringLiteral("SELECT NOME FROM TBL_ANAGRAFICA WHERE ID_ANAGRAFICA = 3")).toString(),
             QStringLiteral("Anna"));
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
    QVERIFY(members().fieldValue(QStringLiteral("CODICE_NUCLEO")).isNull());
    members().cancel();
    nucleo().cancel();
    QCOMPARE(memberNames(), (QStringList{QStringLiteral("Rossi"), QStringLiteral("Verdi")}));
}

void TestCursor::sameCodeKeepsMemberRow() {
    start([](Sql& sql) {
        sql.addNucleo(QStringLiteral("QX1"), QStringLiteral("Prima"));
        sql.addNucleo(QStringLiteral("QX1"), QStringLiteral("Seconda"));
        sql.addNucleo(QStringLiteral("QX2"));
        sql.addMember(QStringLiteral("QX1"), QStringLiteral("Rossi"));
        sql.addMember(QStringLiteral("QX1"), QStringLiteral("Verdi"));
    });
    members().next();
    QCOMPARE(text(members(), "COGNOME"), QStringLiteral("Verdi"));
    m_rec->clear();
    nucleo().next();
    QCOMPARE(text(nucleo(), "DENOMINAZIONE"), QStringLiteral("Seconda"));
    QCOMPARE(text(members(), "COGNOME"), QStringLiteral("Verdi"));
    checkFlags(members(), 1, false, false);
    QVERIFY(m_rec->of(QStringLiteral("dsANAGRAFICA")).filter(QStringLiteral("deDataSetChange")).isEmpty());
    // Another code: the first member of its family unit.
    nucleo().next();
    QCOMPARE(members().rowCount(), 0);
    nucleo().first();
    QCOMPARE(text(members(), "COGNOME"), QStringLiteral("Rossi"));
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
    n.setFieldValue(QStringLiteral("CODICE_NUCLEO"), txt("QX8"));
    n.setFieldValue(QStringLiteral("DENOMINAZIONE"), txt("RIFIUTA"));
    m_rec->clear();
    QString message = errorOf([&] { n.post(); });
    QVERIFY2(message.contains(QLatin1String("Denominazione rifiutata")), qPrintable(message));
    QVERIFY2(!message.startsWith(QLatin1String("TBL_NUCLEO: ")), qPrintable(message));
    QCOMPARE(n.state(), dsInsert);
    QCOMPARE(text(n, "CODICE_NUCLEO"), QStringLiteral("QX8"));
    QCOMPARE(text(n, "DENOMINAZIONE"), QStringLiteral("RIFIUTA"));
    QVERIFY(m_rec->stateChanges().isEmpty());
    QCOMPARE(n.recordCount(), 3);
    QVERIFY(writes().isEmpty());
    // Corrected, it is stored.
    n.setFieldValue(QStringLiteral("DENOMINAZIONE"), txt("Accettata"));
    n.post();
    QCOMPARE(n.state(), dsBrowse);
    QCOMPARE(writes(), QStringList{QStringLiteral("TBL_NUCLEO INSERT 4")});
    QCOMPARE(n.recordCount(), 4);

    // A refused change of a stored row.
    n.edit();
    n.setFieldValue(QStringLiteral("DENOMINAZIONE"), txt("RIFIUTA"));
    n.setFieldValue(QStringLiteral("TELEFONO"), txt("123"));
    message = errorOf([&] { n.post(); });
    QVERIFY2(message.contains(QLatin1String("Denominazione rifiutata")), qPrintable(message));
    QCOMPARE(n.state(), dsEdit);
    QCOMPARE(text(n, "TELEFONO"), QStringLiteral("123"));
    QVERIFY(n.modified());
    // Abandoning it shows the stored row.
    n.cancel();
    QCOMPARE(text(n, "DENOMINAZIONE"), QStringLiteral("Accettata"));
    QVERIFY(n.fieldValue(QStringLiteral("TELEFONO")).isNull());
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
    members().setFieldValue(QStringLiteral("COGNOME"), txt("RIFIUTA"));
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
        QCOMPARE(text(members(), "COGNOME"), QStringLiteral("RIFIUTA"));
        QCOMPARE(memberNames(), (QStringList{QStringLiteral("Rossi"), QStringLiteral("RIFIUTA")}));
    }
    QCOMPARE(m_sql->one(QStringLiteral("SELECT count(*) FROM TBL_NUCLEO")).toInt(), 3);
    QVERIFY(writes().isEmpty());

    // A bound control whose text cannot be written stops the move the same
    // way (its conversion error reaches the caller).
    members().setFieldValue(QStringLiteral("COGNOME"), txt("Verdi"));
    members().post();
    members().edit();
    bool failWrite = true;
    m_rec->onEvent = [&](const QString& source, DataEvent e) {
        if (source == QLatin1String("dsANAGRAFICA") && e == deUpdateRecord && failWrite)
            members().fieldByName(QStringLiteral("DATA_NASCITA"))->setText(QStringLiteral("31/02/2022"));
    };
    QCOMPARE(errorOf([&] { nucleo().next(); }), QStringLiteral("'31/02/2022' is not a valid date and time"));
    QCOMPARE(nucleo().currentRow(), 0);
    QCOMPARE(members().state(), dsEdit);
    failWrite = false;
    nucleo().next();
    QCOMPARE(members().state(), dsBrowse);
    QCOMPARE(memberNames(), (QStringList{QStringLiteral("Bianchi"), QStringLiteral("Neri")}));
    m_rec->onEvent = nullptr;
}

void TestCursor::closedTableAndClosingWhileEditing() {
    start();
    // Closing while editing abandons the pending row.
    nucleo().edit();
    nucleo().setFieldValue(QStringLiteral("DENOMINAZIONE"), txt("Mai"));
    members().insert();
    members().setFieldValue(QStringLiteral("COGNOME"), txt("Mai"));
    m_rec->clear();
    members().close();
    nucleo().close();
    QCOMPARE(m_rec->stateChanges(), (QStringList{QStringLiteral("dsANAGRAFICA:StateChange(dsInactive)"),
                                                 QStringLiteral("dsNUCLEO:StateChange(dsInactive)")}));
    QVERIFY(writes().isEmpty());
    QCOMPARE(nucleo().rowCount(), 0);
    checkFlags(nucleo(), -1, true, true);
    QVERIFY(nucleo().fieldValue(QStringLiteral("CODICE_NUCLEO")).isNull());

    const QString closed = QStringLiteral("TBL_NUCLEO: Cannot perform this operation on a closed dataset");
    DataSet& n = nucleo();
    for (const auto& op : QList<QPair<const char*, std::function<void()>>>{
             {"first", [&] { n.first(); }},   {"next", [&] { n.next(); }},     {"prior", [&] { n.prior(); }},
             {"last", [&] { n.last(); }},     {"insert", [&] { n.insert(); }}, {"edit", [&] { n.edit(); }},
             {"delete", [&] { n.remove(); }}, {"refresh", [&] { n.refresh(); }},
             {"record count", [&] { n.recordCount(); }}, {"moveTo", [&] { n.moveTo(0); }}}) {
        QCOMPARE(errorOf(op.second), closed);
        QCOMPARE(n.state(), dsInactive);
    }
    const QString notEditing = QStringLiteral("TBL_NUCLEO: Dataset not in edit or insert mode");
    QCOMPARE(errorOf([&] { n.post(); }), notEditing);
    QCOMPARE(errorOf([&] { n.setFieldValue(QStringLiteral("DENOMINAZIONE"), txt("x")); }), notEditing);
    n.cancel();  // nothing
    QCOMPARE(n.state(), dsInactive);
    // The member table closed: TBL_NUCLEO's moves no longer reach it.
    n.open();
    n.next();
    QCOMPARE(members().state(), dsInactive);
    members().open();
    QCOMPARE(memberNames(), (QStringList{QStringLiteral("Bianchi"), QStringLiteral("Neri")}));

    // Closing the data store abandons every pending row, then closes; the
    // staging table stays open until the module goes.
    nucleo().insert();
    nucleo().setFieldValue(QStringLiteral("CODICE_NUCLEO"), txt("QX99"));
    members().insert();
    members().setFieldValue(QStringLiteral("COGNOME"), txt("Mai"));
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
    m_sql->exec(QStringLiteral("UPDATE TBL_NUCLEO SET DENOMINAZIONE = 'Da altrove' WHERE ID_NUCLEO = 2"));
    m_sql->exec(QStringLiteral("INSERT INTO TBL_NUCLEO (CODICE_NUCLEO) VALUES ('QX0')"));
    m_sql->exec(QStringLiteral("DELETE FROM TBL_NUCLEO WHERE ID_NUCLEO = 1"));
    QCOMPARE(text(n, "DENOMINAZIONE"), QStringLiteral("Famiglia QX2"));  // only through refresh
    m_rec->clear();
    n.refresh();
    QCOMPARE(m_rec->of(QStringLiteral("dsNUCLEO")),
             (QStringList{QStringLiteral("dsNUCLEO:deCheckBrowseMode"), QStringLiteral("dsNUCLEO:deDataSetChange")}));
    QCOMPARE(text(n, "CODICE_NUCLEO"), QStringLiteral("QX2"));
    QCOMPARE(text(n, "DENOMINAZIONE"), QStringLiteral("Da altrove"));
    QCOMPARE(n.recordCount(), 3);
    QCOMPARE(n.currentRow(), 0);
    // The current row deleted elsewhere: a neighbour becomes current.
    n.last();
    m_sql->exec(QStringLiteral("DELETE FROM TBL_NUCLEO WHERE ID_NUCLEO = 4"));
    n.refresh();
    QCOMPARE(n.recordCount(), 2);
    QCOMPARE(text(n, "CODICE_NUCLEO"), QStringLiteral("QX3"));
    // Members too.
    n.first();
    QCOMPARE(memberNames(), (QStringList{QStringLiteral("Bianchi"), QStringLiteral("Neri")}));
    m_sql->addMember(QStringLiteral("QX2"), QStringLiteral("Nuovo"));
    QCOMPARE(members().rowCount(), 2);
    members().last();
    members().refresh();
    QCOMPARE(memberNames(), (QStringList{QStringLiteral("Bianchi"), QStringLiteral("Neri"), QStringLiteral("Nuovo")}));
    QCOMPARE(text(members(), "COGNOME"), QStringLiteral("Neri"));
    // An empty table that receives rows elsewhere: after refresh they can be
    // walked.
    QCOMPARE(m_dm->TBL_EXPORT.recordCount(), 0);
    m_sql->exec(QStringLiteral("INSERT INTO TBL_EXPORT (CODICE_NUCLEO) VALUES ('QX1'), ('QX2')"));
    m_dm->TBL_EXPORT.refresh();
    QCOMPARE(m_dm->TBL_EXPORT.recordCount(), 2);
    QCOMPARE(m_dm->TBL_EXPORT.currentRow(), 0);
    QVERIFY(!m_dm->TBL_EXPORT.eof());
    int walked = 0;
    for (; !m_dm->TBL_EXPORT.eof(); m_dm->TBL_EXPORT.next()) ++walked;
    QCOMPARE(walked, 2);
    // And emptied elsewhere: both flags.
    m_sql->exec(QStringLiteral("DELETE FROM TBL_EXPORT"));
    m_dm->TBL_EXPORT.refresh();
    checkFlags(m_dm->TBL_EXPORT, -1, true, true);
}

void TestCursor::ordering() {
    start([](Sql& sql) {
        standardRows(sql);
        sql.addMember(QStringLiteral("QX1"), QStringLiteral("Ultimo"));
        for (const char* code : {"QX2", "QX10", "QX1", "QX2", "QX1"})
            sql.exec(QStringLiteral("INSERT INTO TBL_EXPORT (CODICE_NUCLEO, COGNOME) VALUES (?, ?)"),
                     {QString::fromLatin1(code), QStringLiteral("n%1").arg(sql.one(QStringLiteral("SELECT count(*) FROM TBL_EXPORT")).toInt())});
    });
    // Members: equal codes in counter order.
    QCOMPARE(memberNames(), (QStringList{QStringLiteral("Rossi"), QStringLiteral("Verdi"), QStringLiteral("Ultimo")}));
    // The staging table by family code (text order), equal codes by counter.
    m_dm->TBL_EXPORT.refresh();
    QStringList exported;
    for (m_dm->TBL_EXPORT.first(); !m_dm->TBL_EXPORT.eof(); m_dm->TBL_EXPORT.next())
        exported << text(m_dm->TBL_EXPORT, "CODICE_NUCLEO") + QLatin1Char(' ') + text(m_dm->TBL_EXPORT, "COGNOME");
    QCOMPARE(exported, (QStringList{QStringLiteral("QX1 n2"), QStringLiteral("QX1 n4"), QStringLiteral("QX10 n1"),
                                    QStringLiteral("QX2 n0"), QStringLiteral("QX2 n3")}));
    // Reference lists in their own order.
    QCOMPARE(m_dm->TBL_COMUNI.recordCount(), 7896);
    QCOMPARE(m_dm->TBL_NAZIONI.recordCount(), 251);
    const QVariant firstComune = m_sql->one(QStringLiteral("SELECT Denominazione FROM TBL_SYS_COMUNI ORDER BY rowid LIMIT 1"));
    QCOMPARE(text(m_dm->TBL_COMUNI, "Denominazione"), firstComune.toString());
    // Family units in the table's own (counter) order.
    QStringList codes;
    for (nucleo().first(); !nucleo().eof(); nucleo().next()) codes << text(nucleo(), "CODICE_NUCLEO");
    QCOMPARE(codes, (QStringList{QStringLiteral("QX1"), QStringLiteral("QX2"), QStringLiteral("QX3")}));
}

void TestCursor::moveToWithPendingInsert() {
    start();
    // A grid shows the new row in the sequence; clicking a row below it
    // abandons the unchanged new row and must land on the row clicked.
    nucleo().insert();  // at row 0, before QX1
    QCOMPARE(nucleo().rowCount(), 4);
    nucleo().moveTo(2);  // QX2 as the grid shows it
    QCOMPARE(nucleo().state(), dsBrowse);
    QCOMPARE(text(nucleo(), "CODICE_NUCLEO"), QStringLiteral("QX2"));
    QCOMPARE(memberNames(), (QStringList{QStringLiteral("Bianchi"), QStringLiteral("Neri")}));
    // A row above the new one, and one below with a change that is kept.
    nucleo().moveTo(2);
    nucleo().insert();  // at row 2, before QX3
    nucleo().moveTo(0);
    QCOMPARE(text(nucleo(), "CODICE_NUCLEO"), QStringLiteral("QX1"));
    nucleo().insert();
    nucleo().setFieldValue(QStringLiteral("CODICE_NUCLEO"), txt("QX5"));
    nucleo().moveTo(2);  // the new row is kept: rows are QX5, QX1, QX2, QX3
    QCOMPARE(text(nucleo(), "CODICE_NUCLEO"), QStringLiteral("QX2"));
    // Clicking the new row itself lands on the row it stood before.
    nucleo().moveTo(3);
    nucleo().insert();
    nucleo().moveTo(3);
    QCOMPARE(nucleo().state(), dsBrowse);
    QCOMPARE(text(nucleo(), "CODICE_NUCLEO"), QStringLiteral("QX3"));
    // The member table likewise.
    nucleo().moveTo(1);
    members().insert();
    members().moveTo(2);
    QCOMPARE(text(members(), "COGNOME"), QStringLiteral("Verdi"));
}

void TestCursor::twoCopiesOnOneFile() {
    start();
    // A second copy of the program opens the same file while the first has
    // it open; both read and write.
    TdmMarvesa second;
    second.DataModuleCreate(m_path);
    QCOMPARE(second.TBL_NUCLEO.recordCount(), 3);
    second.TBL_NUCLEO.insert();
    second.TBL_NUCLEO.setFieldValue(QStringLiteral("CODICE_NUCLEO"), txt("QX20"));
    second.TBL_NUCLEO.post();
    nucleo().insert();
    nucleo().setFieldValue(QStringLiteral("CODICE_NUCLEO"), txt("QX21"));
    nucleo().post();
    nucleo().refresh();
    second.TBL_NUCLEO.refresh();
    QCOMPARE(nucleo().recordCount(), 5);
    QCOMPARE(second.TBL_NUCLEO.recordCount(), 5);
    // Both change different rows.
    nucleo().last();
    nucleo().edit();
    nucleo().setFieldValue(QStringLiteral("TELEFONO"), txt("1"));
    second.TBL_NUCLEO.first();
    second.TBL_NUCLEO.edit();
    second.TBL_NUCLEO.setFieldValue(QStringLiteral("TELEFONO"), txt("2"));
    second.TBL_NUCLEO.post();
    nucleo().post();
    QCOMPARE(m_sql->one(QStringLiteral("SELECT group_concat(TELEFONO, ',') FROM TBL_NUCLEO WHERE TELEFONO IS NOT NULL")).toString().size(), 3);

    // A table of its own connection, outside any data module.
    Connection own(QStringLiteral("cnProva"));
    own.setDatabasePath(m_path);
    own.connect();
    DataSet table(QStringLiteral("TBL_PROVA"), QStringLiteral("TBL_NUCLEO"), &own);
    table.declareFields(schema::nucleo());
    DataSource source(QStringLiteral("dsPROVA"), &table);
    int changes = 0;
    source.setOnStateChange([&](DataSource* s) { changes += s == &source; });
    table.open();
    QCOMPARE(changes, 1);
    QCOMPARE(table.recordCount(), 5);
    table.close();
    own.disconnect();
    QVERIFY(!own.isConnected());
    QCOMPARE(errorOf([&] { table.open(); }), QStringLiteral("cnProva: la connessione al database non è aperta"));
}

void TestCursor::optimisticCheckOnChangedAndDeletedRows() {
    start();
    TdmMarvesa b;
    b.DataModuleCreate(m_path);
    // A reads the row, B changes and stores it, A's change is refused.
    nucleo().first();
    b.TBL_NUCLEO.first();
    b.TBL_NUCLEO.edit();
    b.TBL_NUCLEO.setFieldValue(QStringLiteral("DENOMINAZIONE"), txt("Da B"));
    b.TBL_NUCLEO.post();
    nucleo().edit();
    nucleo().setFieldValue(QStringLiteral("TELEFONO"), txt("da A"));
    m_rec->clear();
    QCOMPARE(errorOf([&] { nucleo().post(); }), Changed);
    QCOMPARE(nucleo().state(), dsEdit);
    QCOMPARE(text(nucleo(), "TELEFONO"), QStringLiteral("da A"));
    QVERIFY(m_rec->stateChanges().isEmpty());
    QCOMPARE(m_sql->one(QStringLiteral("SELECT DENOMINAZIONE FROM TBL_NUCLEO WHERE ID_NUCLEO = 1")).toString(),
             QStringLiteral("Da B"));
    QVERIFY(m_sql->one(QStringLiteral("SELECT TELEFONO FROM TBL_NUCLEO WHERE ID_NUCLEO = 1")).isNull());
    // The same when the move ends the edit: the move does not happen.
    QCOMPARE(errorOf([&] { nucleo().next(); }), Changed);
    QCOMPARE(nucleo().currentRow(), 0);
    // Abandoned and read again, the change goes through.
    nucleo().cancel();
    nucleo().refresh();
    QCOMPARE(text(nucleo(), "DENOMINAZIONE"), QStringLiteral("Da B"));
    nucleo().edit();
    nucleo().setFieldValue(QStringLiteral("TELEFONO"), txt("da A"));
    nucleo().post();
    QCOMPARE(m_sql->one(QStringLiteral("SELECT TELEFONO || ' ' || DENOMINAZIONE FROM TBL_NUCLEO WHERE ID_NUCLEO = 1")).toString(),
             QStringLiteral("da A Da B"));
    // A NULL that B filled counts as a change too.
    b.TBL_NUCLEO.refresh();
    nucleo().next();
    b.TBL_NUCLEO.moveTo(1);
    b.TBL_NUCLEO.edit();
    b.TBL_NUCLEO.setFieldValue(QStringLiteral("COMUNE"), txt("Trento"));
    b.TBL_NUCLEO.post();
    nucleo().edit();
    nucleo().setFieldValue(QStringLiteral("INDIRIZZO"), txt("Via Roma 1"));
    QCOMPARE(errorOf([&] { nucleo().post(); }), Changed);
    nucleo().cancel();

    // B deletes the row A is changing.
    nucleo().last();
    b.TBL_NUCLEO.last();
    b.TBL_NUCLEO.remove();
    nucleo().edit();
    nucleo().setFieldValue(QStringLiteral("DENOMINAZIONE"), txt("Sparita"));
    QCOMPARE(errorOf([&] { nucleo().post(); }), Changed);
    QCOMPARE(nucleo().state(), dsEdit);
    QCOMPARE(text(nucleo(), "DENOMINAZIONE"), QStringLiteral("Sparita"));
    QCOMPARE(m_sql->one(QStringLiteral("SELECT count(*) FROM TBL_NUCLEO")).toInt(), 2);
    nucleo().cancel();
    nucleo().refresh();
    QCOMPARE(nucleo().recordCount(), 2);

    // The same for a member.
    nucleo().first();
    members().first();
    b.TBL_NUCLEO.first();
    b.TBL_ANAGRAFICA.first();
    QCOMPARE(b.TBL_ANAGRAFICA.fieldValue(QStringLiteral("ID_ANAGRAFICA")), members().fieldValue(QStringLiteral("ID_ANAGRAFICA")));
    b.TBL_ANAGRAFICA.edit();
    b.TBL_ANAGRAFICA.setFieldValue(QStringLiteral("NOTE"), txt("nota di B"));
    b.TBL_ANAGRAFICA.post();
    members().edit();
    members().setFieldValue(QStringLiteral("NOTE"), txt("nota di A"));
    QCOMPARE(errorOf([&] { members().post(); }), QString(Changed).replace(QStringLiteral("TBL_NUCLEO"), QStringLiteral("TBL_ANAGRAFICA")));
    QCOMPARE(members().state(), dsEdit);
}

QTEST_GUILESS_MAIN(TestCursor)
#include "tst_cursor.moc"
