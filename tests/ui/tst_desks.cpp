// Two desks on one database file: desk B is the real window, desk A a data
// module of its own on the same file (as another copy of the program would
// be). What A stores or deletes shows at B while B browses; B's rows being
// edited, and the rows a box of B asks about, are never touched.

#include <QScrollBar>
#include <QtTest>

#include "support/DataTestSupport.h"
#include "support/TestApplication.h"
#include "support/WindowFixture.h"
#include "ui/window/Commands.h"

using namespace marvesa;
using namespace marvesa::test;
using namespace Qt::StringLiterals;

namespace {

// Longer than a change takes to show (under two seconds), with room for a
// slow machine.
constexpr int kShown = 3000;
// Long enough for several polls and retries to have come and gone.
constexpr int kSeveralPolls = 900;

void click(QWidget* button) {
    QTest::mouseClick(button, Qt::LeftButton);
}

void typeInto(QWidget* control, const char* text) {
    WindowFixture::focus(control);
    QTest::keyClicks(control, QString::fromUtf8(text));
}

// Another desk: a data module of its own on the same file.
struct Desk {
    TdmMarvesa dm;
    explicit Desk(const QString& path) { dm.DataModuleCreate(path); }

    void addFamily(const char* code, const char* name) {
        DataSet& t = dm.TBL_NUCLEO;
        t.insert();
        set(t, "CODICE_NUCLEO", code);
        set(t, "DENOMINAZIONE", name);
        set(t, "TELEFONO", "049 1");
        t.post();
    }
    void addMember(const char* surname, const char* name) {
        DataSet& t = dm.TBL_ANAGRAFICA;
        t.insert();
        set(t, "COGNOME", surname);
        set(t, "NOME", name);
        t.post();
    }
    // Makes the family unit with `code` current at this desk.
    void goTo(const char* code) {
        DataSet& t = dm.TBL_NUCLEO;
        t.first();
        while (!t.eof() && text(t, "CODICE_NUCLEO") != QString::fromLatin1(code))
            t.next();
        QCOMPARE(text(t, "CODICE_NUCLEO"), QString::fromLatin1(code));
    }
    void deleteFamily(const char* code) {
        goTo(code);
        deleteFamilyUnitWithMembers(dm);
    }
};

QString gridCell(QTableView* grid, int row, int column = 0) {
    return grid->model()->index(row, column).data().toString();
}

}  // namespace

class TstDesks : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { TemplateDatabase::path(); }

    // Stored, changed and deleted at A: B's grids and bound controls show
    // it, keeping the current row while it exists, the next one (or the new
    // last one) when A deleted it.
    void browsingShowsWhatTheOtherDeskDid() {
        WindowFixture f;
        TfrmMain& w = f.w();
        Desk a(f.path);

        a.addFamily("QX400", "BIANCHI");
        QTRY_COMPARE_WITH_TIMEOUT(w.DBGrid2->model()->rowCount(), 4, kShown);
        QCOMPARE(gridCell(w.DBGrid2, 3), u"QX400"_s);
        QCOMPARE(w.edtDescNucleo->text(), u"ROSSI"_s);
        QCOMPARE(f.nucleo().currentRow(), 0);
        QCOMPARE(w.DBGrid2->currentIndex().row(), 0);
        QCOMPARE(w.DBGrid1->model()->rowCount(), 2);

        // A changes the family unit B shows.
        a.goTo("QX100");
        change(a.dm.TBL_NUCLEO, "DENOMINAZIONE", "ROSSI E FIGLI");
        QTRY_COMPARE_WITH_TIMEOUT(w.edtDescNucleo->text(), u"ROSSI E FIGLI"_s, kShown);
        QCOMPARE(gridCell(w.DBGrid2, 0, 1), u"ROSSI E FIGLI"_s);

        // A deletes the family unit B shows: the next one becomes current,
        // with its members.
        clickGridRow(w.DBGrid2, 1);
        QCOMPARE(w.edtDescNucleo->text(), u"VERDI"_s);
        QCOMPARE(w.dbeNome->text(), u"PIA"_s);
        a.deleteFamily("QX200");
        QTRY_COMPARE_WITH_TIMEOUT(w.edtDescNucleo->text(), u"NERI"_s, kShown);
        QCOMPARE(w.DBGrid2->model()->rowCount(), 3);
        QCOMPARE(w.DBGrid2->currentIndex().row(), 1);
        QCOMPARE(w.DBGrid1->model()->rowCount(), 0);
        QCOMPARE(w.dbeNome->text(), QString());
        QVERIFY(!f.nucleo().bof() && !f.nucleo().eof());

        // A deletes the last one while B shows it: the new last one.
        clickGridRow(w.DBGrid2, 2);
        QCOMPARE(w.edtDescNucleo->text(), u"BIANCHI"_s);
        a.deleteFamily("QX400");
        QTRY_COMPARE_WITH_TIMEOUT(w.edtDescNucleo->text(), u"NERI"_s, kShown);
        QCOMPARE(w.DBGrid2->model()->rowCount(), 2);
        QCOMPARE(w.DBGrid2->currentIndex().row(), 1);
        QCOMPARE(w.edtCodiceNucleo->caption(), u"QX300"_s);

        // A adds a member to the family unit B shows; then one to another
        // family unit, which B's member grid does not show.
        a.goTo("QX300");
        a.addMember("NERI", "ADA");
        QTRY_COMPARE_WITH_TIMEOUT(w.DBGrid1->model()->rowCount(), 1, kShown);
        QCOMPARE(gridCell(w.DBGrid1, 0, 1), u"ADA"_s);
        QCOMPARE(w.dbeCognome->text(), u"NERI"_s);
        QCOMPARE(w.dbeNucleoAnag->caption(), u"QX300"_s);
        a.goTo("QX100");
        a.addMember("ROSSI", "EVA");
        QTest::qWait(kSeveralPolls);
        QCOMPARE(w.DBGrid1->model()->rowCount(), 1);
        clickGridRow(w.DBGrid2, 0);
        QCOMPARE(w.DBGrid1->model()->rowCount(), 3);
        QCOMPARE(gridCell(w.DBGrid1, 2, 1), u"EVA"_s);
    }

    // A grid scrolled down keeps its current row and its place when rows
    // arrive from the other desk.
    void theGridKeepsItsPlace() {
        WindowFixture f;
        TfrmMain& w = f.w();
        Sql sql(f.path);
        sql.exec(u"BEGIN"_s);
        for (int i = 0; i < 40; ++i)
            sql.addNucleo(u"QX9%1"_s.arg(i, 2, 10, QLatin1Char('0')));
        sql.exec(u"COMMIT"_s);
        QTRY_COMPARE_WITH_TIMEOUT(w.DBGrid2->model()->rowCount(), 43, kShown);
        clickGridRow(w.DBGrid2, 0);
        for (int i = 0; i < 25; ++i)
            QTest::keyClick(w.DBGrid2, Qt::Key_Down);
        QCOMPARE(f.nucleo().currentRow(), 25);
        const int scrolled = w.DBGrid2->verticalScrollBar()->value();
        QVERIFY(scrolled > 0);

        Desk a(f.path);
        a.addFamily("QX500", "GIALLI");
        QTRY_COMPARE_WITH_TIMEOUT(w.DBGrid2->model()->rowCount(), 44, kShown);
        QCOMPARE(f.nucleo().currentRow(), 25);
        QCOMPARE(w.DBGrid2->currentIndex().row(), 25);
        QCOMPARE(w.DBGrid2->verticalScrollBar()->value(), scrolled);
        QCOMPARE(w.edtCodiceNucleo->caption(), u"QX922"_s);

        // On the last row with the end-of-table flag set, a row A adds after
        // it is one step further down.
        QTest::keyClick(w.DBGrid2, Qt::Key_End);
        QTest::keyClick(w.DBGrid2, Qt::Key_Down);
        QVERIFY(f.nucleo().eof());
        QCOMPARE(w.edtCodiceNucleo->caption(), u"QX500"_s);
        a.addFamily("QX501", "ROSA");
        QTRY_COMPARE_WITH_TIMEOUT(w.DBGrid2->model()->rowCount(), 45, kShown);
        QCOMPARE(w.edtCodiceNucleo->caption(), u"QX500"_s);
        QTest::keyClick(w.DBGrid2, Qt::Key_Down);
        QCOMPARE(w.edtCodiceNucleo->caption(), u"QX501"_s);
    }

    // A row being edited at B is never changed by what A does, nor is the
    // family table moved under a member being edited; B catches up once the
    // edit is stored or abandoned.
    void rowsBeingEditedAreNeverTouched() {
        WindowFixture f;
        TfrmMain& w = f.w();
        Desk a(f.path);
        Sql sql(f.path);

        // A family unit being changed at B while A changes that very row and
        // adds another.
        click(w.btnEditNucleo);
        typeInto(w.dbeIndirizzo, " BIS");
        a.goTo("QX100");
        change(a.dm.TBL_NUCLEO, "NOME_OSPITANTE", "GIANNI");
        a.addFamily("QX400", "BIANCHI");
        QTest::qWait(kSeveralPolls);
        QCOMPARE(f.nucleo().state(), dsEdit);
        QCOMPARE(w.dbeIndirizzo->text(), u"VIA ROMA 1 BIS"_s);
        QCOMPARE(w.dbeOspite->text(), u"MARIO BIANCHI "_s);
        QCOMPARE(w.DBGrid2->model()->rowCount(), 3);
        // A changed the row since B read it: B's "Salva" is refused and
        // keeps what was typed; "Annulla" abandons it and B catches up.
        click(w.btnSaveNucleo);
        QCOMPARE(f.nucleo().state(), dsEdit);
        QCOMPARE(w.dbeIndirizzo->text(), u"VIA ROMA 1 BIS"_s);
        click(w.btnAnnNucleo);
        QTRY_COMPARE_WITH_TIMEOUT(w.DBGrid2->model()->rowCount(), 4, kShown);
        QCOMPARE(w.dbeOspite->text(), u"GIANNI"_s);
        QCOMPARE(w.dbeIndirizzo->text(), u"VIA ROMA 1"_s);

        // Changed at B and stored with "Salva", while A adds a family unit.
        f.dialogs.clear();
        click(w.btnEditNucleo);
        typeInto(w.dbeTelefono, " 2");
        a.addFamily("QX500", "GIALLI");
        QTest::qWait(kSeveralPolls);
        QCOMPARE(w.DBGrid2->model()->rowCount(), 4);
        QCOMPARE(w.dbeTelefono->text(), u"049 123456 2"_s);
        click(w.btnSaveNucleo);
        QVERIFY(f.dialogs.shown.isEmpty());
        QCOMPARE(f.nucleo().state(), dsBrowse);
        QTRY_COMPARE_WITH_TIMEOUT(w.DBGrid2->model()->rowCount(), 5, kShown);
        QCOMPARE(w.edtDescNucleo->text(), u"ROSSI"_s);
        QCOMPARE(w.dbeTelefono->text(), u"049 123456 2"_s);
        QCOMPARE(sql.row(u"SELECT TELEFONO FROM TBL_NUCLEO WHERE CODICE_NUCLEO = 'QX100'"_s),
                 u"049 123456 2"_s);

        // A member being changed at B while A deletes its family unit with
        // every member: neither table of B moves until the edit is abandoned.
        click(w.btnEditAnag);
        typeInto(w.dbeNome, "MARIA");
        a.deleteFamily("QX100");
        a.addFamily("QX600", "VIOLA");
        QTest::qWait(kSeveralPolls);
        QCOMPARE(f.members().state(), dsEdit);
        QCOMPARE(w.dbeNome->text(), u"ANNAMARIA"_s);
        QCOMPARE(w.edtDescNucleo->text(), u"ROSSI"_s);
        QCOMPARE(w.DBGrid2->model()->rowCount(), 5);
        QCOMPARE(w.DBGrid1->model()->rowCount(), 2);
        click(w.btnAnagAnnulla);
        QTRY_COMPARE_WITH_TIMEOUT(w.edtDescNucleo->text(), u"VERDI"_s, kShown);
        QCOMPARE(w.DBGrid2->model()->rowCount(), 5);
        QCOMPARE(w.dbeNome->text(), u"PIA"_s);
        QCOMPARE(w.DBGrid1->model()->rowCount(), 1);
        QCOMPARE(sql.count(u"TBL_ANAGRAFICA"_s, u"NOME = 'ANNA'"_s), 0);
    }

    // "Elimina" asks first. While the box is open, A deletes the family unit
    // it asks about: B must not move to the next one under the box, or the
    // answer "Yes" would delete a family unit nobody asked about.
    void aBoxHoldsChangesBack() {
        WindowFixture f;
        TfrmMain& w = f.w();
        Desk a(f.path);
        Sql sql(f.path);
        clickGridRow(w.DBGrid2, 1);
        QCOMPARE(w.edtDescNucleo->text(), u"VERDI"_s);

        QString shownWhileAsking;
        int rowWhileAsking = -1;
        bool asked = false;
        f.dialogs.onAsk = [&](const DialogRequest&) {
            if (asked)
                return;
            asked = true;
            a.deleteFamily("QX200");
            QTest::qWait(kSeveralPolls);
            shownWhileAsking = w.edtDescNucleo->text();
            rowWhileAsking = f.nucleo().currentRow();
        };
        f.dialogs.answerNext(DialogButton::Yes);
        click(w.btnEliminaNucleo);
        QCOMPARE(shownWhileAsking, u"VERDI"_s);
        QCOMPARE(rowWhileAsking, 1);
        // NERI, which would have been current under the box, is still there.
        QCOMPARE(sql.row(u"SELECT "_s + sql.joined(u"CODICE_NUCLEO"_s, u"ID_NUCLEO"_s) +
                         u" FROM TBL_NUCLEO"_s),
                 u"QX100,QX300"_s);
        QCOMPARE(sql.count(u"TBL_ANAGRAFICA"_s, u"CODICE_NUCLEO = 'QX100'"_s), 2);
        QTRY_COMPARE_WITH_TIMEOUT(w.DBGrid2->model()->rowCount(), 2, kShown);
        QCOMPARE(w.edtDescNucleo->text(), u"NERI"_s);
    }
};

MARVESA_TEST_MAIN(TstDesks)
#include "tst_desks.moc"
