// "Cerca", "Riepilogo" and the keyboard shortcuts, through the real window
// driven with QTest keys.

#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>

#include "data/schema/FileBackup.h"
#include "support/DataTestSupport.h"
#include "support/TestApplication.h"
#include "support/WindowFixture.h"
#include "ui/window/OfficeCommands.h"
#include "ui/window/WindowLayout.h"

using namespace marvesa;
using namespace marvesa::test;

namespace {

const QString kMissingFamilyFields = QStringLiteral(
    "I seguenti Campi sono Obbligatori\r\rDescrizione "
    "Nucleo\r\rOspitante\r\rComune\r\rIndirizzo\r\r");

// A key pressed wherever the focus is in the window (the window itself
// when a closed dialog left no control focused).
void press(int key, Qt::KeyboardModifiers modifiers = Qt::ControlModifier) {
    // A closed dialog gives the activation back to the window (the offscreen
    // platform leaves that to the test).
    if (QApplication::activeWindow() != frmMain->window())
        QApplication::setActiveWindow(frmMain->window());
    QWidget* target = QApplication::focusWidget();
    if (!target || !frmMain->isAncestorOf(target))
        target = frmMain;
    QTest::keyClick(target, Qt::Key(key), modifiers);
}

}  // namespace

class TstOffice : public QObject {
    Q_OBJECT

private slots:
    void ctrlFTypingAndEnterGoToTheMember() {
        WindowFixture f;
        TfrmMain& w = f.w();
        {
            // Stored by another desk after the window read its tables.
            Sql sql(f.path);
            sql.exec(QStringLiteral(
                "INSERT INTO TBL_NUCLEO (CODICE_NUCLEO, DENOMINAZIONE, NOME_OSPITANTE, "
                "COMUNE) VALUES ('QX400', 'KOVAL', 'LIA', 'Gorizia')"));
            sql.addMember(QStringLiteral("QX400"), QStringLiteral("KOVAL"), QStringLiteral("IRA"));
            sql.addMember(QStringLiteral("QX400"), QStringLiteral("D'ANGELO"),
                          QStringLiteral("NICOLÒ"));
        }
        OfficeCommands* office = officeCommands(w);
        QVERIFY(office);
        WindowFixture::focus(w.dbeNome);
        press(Qt::Key_F);
        SearchDialog* dialog = office->searchDialog();
        QVERIFY(dialog && dialog->isVisible());
        QVERIFY(dialog->isModal());
        QTRY_COMPARE(QApplication::focusWidget(), dialog->field());
        QTest::keyClicks(dialog->field(), QStringLiteral("d"));
        QCOMPARE(dialog->results()->rowCount(), 0);  // from the second character
        QTest::keyClicks(dialog->field(), QStringLiteral("angelo"));
        QCOMPARE(dialog->results()->rowCount(), 1);
        QCOMPARE(dialog->results()->item(0, 0)->text(), QStringLiteral("D'ANGELO"));
        QCOMPARE(dialog->results()->item(0, 1)->text(), QStringLiteral("NICOLÒ"));
        QCOMPARE(dialog->results()->item(0, 3)->text(), QStringLiteral("QX400"));
        QCOMPARE(dialog->results()->item(0, 4)->text(), QStringLiteral("LIA"));
        QCOMPARE(dialog->results()->item(0, 5)->text(), QStringLiteral("Gorizia"));
        QTest::keyClick(dialog->field(), Qt::Key_Return);
        QTRY_VERIFY(!office->searchDialog());

        // Both tables stand on them; the controls and the grids show them.
        QCOMPARE(f.column(f.nucleo(), "CODICE_NUCLEO"), QStringLiteral("QX400"));
        QCOMPARE(f.column(f.members(), "COGNOME"), QStringLiteral("D'ANGELO"));
        QCOMPARE(f.members().recordCount(), 2);
        QCOMPARE(w.edtDescNucleo->text(), QStringLiteral("KOVAL"));
        QCOMPARE(w.edtCodiceNucleo->caption(), QStringLiteral("QX400"));
        QCOMPARE(w.dbeCognome->text(), QStringLiteral("D'ANGELO"));
        QCOMPARE(w.dbeNome->text(), QStringLiteral("NICOLÒ"));
        QCOMPARE(w.DBGrid2->currentIndex().row(), f.nucleo().currentRow());
        QCOMPARE(w.DBGrid2->model()->index(w.DBGrid2->currentIndex().row(), 0).data().toString(),
                 QStringLiteral("QX400"));
        QCOMPARE(w.DBGrid1->model()->index(w.DBGrid1->currentIndex().row(), 0).data().toString(),
                 QStringLiteral("D'ANGELO"));
        QCOMPARE(f.nucleo().state(), dsBrowse);
        QVERIFY(f.dialogs.shown.isEmpty());

        // Arrows move through the list from the field; Escape closes
        // without moving anything.
        QTest::mouseClick(office->searchButton(), Qt::LeftButton);
        dialog = office->searchDialog();
        QVERIFY(dialog && dialog->isVisible());
        QTest::keyClicks(dialog->field(), QStringLiteral("rossi"));
        QCOMPARE(dialog->results()->rowCount(), 3);  // the family unit ROSSI, ANNA, LUCA
        QCOMPARE(dialog->results()->item(0, 1)->text(), QStringLiteral("(nucleo familiare)"));
        QTest::keyClick(dialog->field(), Qt::Key_Down);
        QTest::keyClick(dialog->field(), Qt::Key_Down);
        QCOMPARE(dialog->results()->currentRow(), 2);
        QTest::keyClick(dialog->field(), Qt::Key_Escape);
        QTRY_VERIFY(!office->searchDialog());
        QCOMPARE(f.column(f.members(), "COGNOME"), QStringLiteral("D'ANGELO"));

        // Enter on a family unit's line: that family unit, its first member.
        press(Qt::Key_F);
        dialog = office->searchDialog();
        QTest::keyClicks(dialog->field(), QStringLiteral("QX1"));
        QCOMPARE(dialog->results()->rowCount(), 1);
        QTest::keyClick(dialog->field(), Qt::Key_Enter);
        QTRY_VERIFY(!office->searchDialog());
        QCOMPARE(f.column(f.nucleo(), "CODICE_NUCLEO"), QStringLiteral("QX100"));
        QCOMPARE(w.dbeNome->text(), QStringLiteral("ANNA"));
    }

    // Pasted into "Cerca": a NUL, halves of characters, a page of 10,000
    // characters. Results or an empty list, never an error box.
    void cercaTakesWhateverIsPasted() {
        WindowFixture f;
        TfrmMain& w = f.w();
        OfficeCommands* office = officeCommands(w);
        WindowFixture::focus(w.dbeNome);
        press(Qt::Key_F);
        SearchDialog* dialog = office->searchDialog();
        QVERIFY(dialog && dialog->isVisible());
        const QList<QPair<QString, int>> pasted{
            {QStringLiteral("ros") + QChar(0) + QStringLiteral("si"), 3},
            {QString(QChar(0xD800)) + QStringLiteral("rossi"), 3},
            {QStringLiteral("rossi") + QChar(0xDC00), 3},
            {QStringLiteral("ｒｏｓｓｉ"), 3},
            {QString(10000, QLatin1Char('a')), 0},
            {QString(5000, QChar(0xD83D)), 0},
            {QString(QChar(0)) + QChar(0), 0},
        };
        for (const auto& [text, rows] : pasted) {
            dialog->field()->setText(text);
            QTRY_COMPARE(dialog->results()->rowCount(), rows);
        }
        QVERIFY2(f.dialogs.shown.isEmpty(), qPrintable(f.dialogs.texts().join(u'\n')));
    }

    void cercaAndRiepilogoAreRefusedWhileEditing() {
        WindowFixture f;
        TfrmMain& w = f.w();
        OfficeCommands* office = officeCommands(w);
        w.btnNewNucleo->click();
        press(Qt::Key_F);
        press(Qt::Key_R);
        QTest::mouseClick(office->searchButton(), Qt::LeftButton);
        QCOMPARE(f.dialogs.texts(), QStringList(3, kFinishEditingFirst));
        QVERIFY(!office->searchDialog());
        QVERIFY(!office->summaryDialog());
        QCOMPARE(f.nucleo().state(), dsInsert);
        // The two buttons sit in the family-unit header, take no focus and
        // tell their shortcuts.
        QCOMPARE(office->searchButton()->geometry(), QRect(770, 18, 72, 21));
        QCOMPARE(office->summaryButton()->geometry(), QRect(848, 18, 76, 21));
        QCOMPARE(office->searchButton()->focusPolicy(), Qt::NoFocus);
        QVERIFY(office->searchButton()->toolTip().contains(QStringLiteral("Ctrl+F")));
        QVERIFY(office->summaryButton()->toolTip().contains(QStringLiteral("Ctrl+R")));
    }

    void ctrlSStoresThePanelExactlyAsSalva() {
        WindowFixture f;
        TfrmMain& w = f.w();
        QVERIFY(w.btnSaveNucleo->toolTip().contains(QStringLiteral("Ctrl+S")));
        QVERIFY(w.btnSaveAnag->toolTip().contains(QStringLiteral("Ctrl+S")));
        QVERIFY(w.btnNewNucleo->toolTip().contains(QStringLiteral("Ctrl+Maiusc+N")));
        QVERIFY(w.btnNewAnag->toolTip().contains(QStringLiteral("Ctrl+N")));

        // In browse Ctrl+S does nothing.
        press(Qt::Key_S);
        QVERIFY(f.dialogs.shown.isEmpty());
        QCOMPARE(f.nucleo().state(), dsBrowse);

        // Ctrl+Maiusc+N is "Crea Nucleo": a new row, a code, the focus in the description.
        press(Qt::Key_N, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(f.nucleo().state(), dsInsert);
        QVERIFY(w.edtCodiceNucleo->caption().startsWith(QStringLiteral("QX")));
        QCOMPARE(focused(), static_cast<QWidget*>(w.edtDescNucleo));
        // Ctrl+N does nothing while "Nuovo" is disabled.
        press(Qt::Key_N);
        QCOMPARE(f.members().state(), dsBrowse);

        // With fields missing: the same message as "Salva", the row stays,
        // the focus goes back where the operator was.
        WindowFixture::focus(w.dbeTelefono);
        QTest::keyClicks(w.dbeTelefono, QStringLiteral("040 5"));
        press(Qt::Key_S);
        QCOMPARE(f.dialogs.texts(), QStringList{kMissingFamilyFields});
        QCOMPARE(f.nucleo().state(), dsInsert);
        QCOMPARE(focused(), static_cast<QWidget*>(w.dbeTelefono));
        f.dialogs.clear();

        // The same with the button, for comparison.
        w.btnSaveNucleo->click();
        QCOMPARE(f.dialogs.texts(), QStringList{kMissingFamilyFields});
        f.dialogs.clear();

        WindowFixture::focus(w.edtDescNucleo);
        QTest::keyClicks(w.edtDescNucleo, QStringLiteral("bruni"));
        tab(w.edtDescNucleo);
        QTest::keyClicks(w.dbeOspite, QStringLiteral("ugo"));
        tab(w.dbeOspite);
        chooseFromList(w.dbeComune, 2);
        WindowFixture::focus(w.dbeIndirizzo);
        // Left by Ctrl+S as by a click on "Salva": the blanks go.
        QTest::keyClicks(w.dbeIndirizzo, QStringLiteral("via po 3  "));
        const QString code = w.edtCodiceNucleo->caption();
        press(Qt::Key_S);
        QVERIFY(f.dialogs.shown.isEmpty());
        QCOMPARE(f.nucleo().state(), dsBrowse);
        Sql sql(f.path);
        QCOMPARE(sql.count(QStringLiteral("TBL_NUCLEO")), 4);
        QCOMPARE(sql.row(QStringLiteral(
                     "SELECT CODICE_NUCLEO, DENOMINAZIONE, NOME_OSPITANTE, INDIRIZZO, "
                     "TELEFONO FROM TBL_NUCLEO ORDER BY ID_NUCLEO DESC LIMIT 1")),
                 code + QStringLiteral("|BRUNI|UGO|VIA PO 3|040 5"));

        // Ctrl+N is "Nuovo"; Ctrl+S stores the member panel with its own checks.
        press(Qt::Key_N);
        QCOMPARE(f.members().state(), dsInsert);
        QCOMPARE(focused(), static_cast<QWidget*>(w.dbeCognome));
        press(Qt::Key_S);
        QCOMPARE(f.dialogs.texts().size(), 1);
        QVERIFY(f.dialogs.texts().at(0).startsWith(
            QStringLiteral("I seguenti Campi sono Obbligatori\r\rCognome\r\rNome\r\rSesso\r\r")));
        QCOMPARE(f.members().state(), dsInsert);
        // Escape keeps its meaning: the edit's change is discarded.
        QTest::keyClicks(w.dbeCognome, QStringLiteral("X"));
        QTest::keyClick(w.dbeCognome, Qt::Key_Escape);
        QCOMPARE(w.dbeCognome->text(), QString());
        QCOMPARE(f.members().state(), dsInsert);
    }

    void ctrlSDoesNothingWhenTheControlBeingLeftRefuses() {
        WindowFixture f;
        TfrmMain& w = f.w();
        w.btnEditNucleo->click();
        WindowFixture::focus(w.dbeDataTermine);
        w.dbeDataTermine->selectAll();
        QTest::keyClicks(w.dbeDataTermine, QStringLiteral("31022025"));
        press(Qt::Key_S);
        // The date error is shown; the row is not stored and the focus stays.
        QCOMPARE(f.dialogs.shown.size(), 1);
        QCOMPARE(f.dialogs.shown[0].icon, DialogIcon::Error);
        QCOMPARE(f.nucleo().state(), dsEdit);
        QCOMPARE(focused(), static_cast<QWidget*>(w.dbeDataTermine));
    }

    void riepilogoShowsTheNumbersAndGoesToAFamilyUnit() {
        WindowFixture f;
        TfrmMain& w = f.w();
        OfficeCommands* office = officeCommands(w);
        office->setClock([] { return QDate(2025, 6, 25); });
        press(Qt::Key_R);
        SummaryDialog* dialog = office->summaryDialog();
        QVERIFY(dialog && dialog->isVisible());
        const OfficeSummary& s = dialog->summary();
        QCOMPARE(s.today, QDate(2025, 6, 25));
        QCOMPARE(s.familiesHosted, 3);
        QCOMPARE(s.peopleHosted, 3);
        QCOMPARE(s.endingWithin7, 1);
        QCOMPARE(dialog->endingList()->rowCount(), 1);
        QCOMPARE(dialog->endingList()->item(0, 0)->text(), QStringLiteral("QX200"));
        QCOMPARE(dialog->endingList()->item(0, 4)->text(), QStringLiteral("30/06/2025"));
        QCOMPARE(dialog->chart()->bars().size(), size_t(2));
        QCOMPARE(dialog->chart()->bars()[0].name, QStringLiteral("Abano Terme"));

        // The copies of the database: when the last copy of a file was made;
        // that a server's are the office's to keep.
        const auto copiesLine = [&] {
            const QLabel* line =
                office->summaryDialog()->findChild<QLabel*>(QStringLiteral("lblCopie"));
            return line ? line->text() : QStringLiteral("<none>");
        };
        if (onServer()) {
            QCOMPARE(copiesLine(),
                     QStringLiteral("Il database è su un server: le sue copie di sicurezza sono a "
                                    "cura dell'ufficio (pg_dump sul server)."));
        } else {
            QCOMPARE(copiesLine(),
                     QStringLiteral("Nessuna copia di sicurezza del database finora: la prima si "
                                    "fa alla chiusura del programma."));
            schema::makeDailyBackup(f.path, QDateTime(QDate(2025, 6, 24), QTime(18, 5)), {});
            QTest::keyClick(dialog, Qt::Key_Escape);
            QTRY_VERIFY(!office->summaryDialog());
            press(Qt::Key_R);
            dialog = office->summaryDialog();
            QVERIFY(dialog && dialog->isVisible());
            QCOMPARE(copiesLine(), QStringLiteral("Ultima copia di sicurezza del database: "
                                                  "24/06/2025 alle 18:05."));
        }

        QPushButton* copy = dialog->findChild<QPushButton*>(QStringLiteral("btnCopia"));
        QVERIFY(copy);
        QGuiApplication::clipboard()->clear();
        QTest::mouseClick(copy, Qt::LeftButton);
        QCOMPARE(QGuiApplication::clipboard()->text(), dialog->summary().toTabSeparatedText());

        QCOMPARE(f.column(f.nucleo(), "CODICE_NUCLEO"), QStringLiteral("QX100"));
        QTest::keyClick(dialog->endingList(), Qt::Key_Return);
        QTRY_VERIFY(!office->summaryDialog());
        QCOMPARE(f.column(f.nucleo(), "CODICE_NUCLEO"), QStringLiteral("QX200"));
        QCOMPARE(w.dbeNome->text(), QStringLiteral("PIA"));

        // Always current when opened: a family unit another desk stored.
        {
            Sql sql(f.path);
            sql.exec(
                QStringLiteral("INSERT INTO TBL_NUCLEO (CODICE_NUCLEO, TERMINE_ALLOGGIO) "
                               "VALUES ('QX500', '2025-06-26T00:00:00')"));
        }
        press(Qt::Key_R);
        dialog = office->summaryDialog();
        QVERIFY(dialog && dialog->isVisible());
        QCOMPARE(dialog->endingList()->rowCount(), 2);
        // Earliest end first.
        QCOMPARE(dialog->endingList()->item(0, 0)->text(), QStringLiteral("QX500"));
        QCOMPARE(dialog->endingList()->item(1, 0)->text(), QStringLiteral("QX200"));
        QTest::keyClick(dialog->endingList(), Qt::Key_Escape);
        QTRY_VERIFY(!office->summaryDialog());
        QCOMPARE(f.column(f.nucleo(), "CODICE_NUCLEO"), QStringLiteral("QX200"));
    }
};

MARVESA_TEST_MAIN(TstOffice)
#include "tst_office.moc"
