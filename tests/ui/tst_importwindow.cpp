// The duplicate check and "Importa" in the real window: the warning at the
// member "Salva" before anything is stored, "Doppioni" from "Riepilogo",
// the import's command, preview and storing, and their dialogs as a screen
// reader and the keyboard reach them.

#include <QAccessible>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QTabWidget>
#include <QTableWidget>
#include <QTreeWidget>
#include <QtTest>

#include "data/registry/DuplicateCheck.h"
#include "support/ScriptedProgress.h"
#include "support/Sql.h"
#include "support/TestApplication.h"
#include "support/WindowFixture.h"
#include "ui/office/DuplicateDialog.h"
#include "ui/window/OfficeCommands.h"

using namespace marvesa;
using namespace marvesa::test;

namespace {

void click(QWidget* button) {
    QTest::mouseClick(button, Qt::LeftButton);
}

QString stored(int y, int m, int d) {
    return dateTimeToStorage(naiveDateTime(QDate(y, m, d)));
}

qint64 addMember(Sql& sql, const char* code, const char* surname, const char* name,
                 const QString& born) {
    sql.exec(
        QStringLiteral("INSERT INTO TBL_ANAGRAFICA (CODICE_NUCLEO, COGNOME, NOME, "
                       "DATA_NASCITA) VALUES (?, ?, ?, ?)"),
        {QString::fromLatin1(code), QString::fromUtf8(surname), QString::fromUtf8(name), born});
    return sql.one(QStringLiteral("SELECT max(ID_ANAGRAFICA) FROM TBL_ANAGRAFICA")).toLongLong();
}

// A new member of the current family unit, every required field filled, as
// "Nuovo" and the clerk's typing leave it.
void newMember(WindowFixture& f, const char* surname, const char* name, const char* birth) {
    click(f.w().btnNewAnag);
    DataSet& m = f.members();
    m.setFieldValue(QStringLiteral("COGNOME"), Value::text(QString::fromUtf8(surname)));
    m.setFieldValue(QStringLiteral("NOME"), Value::text(QString::fromUtf8(name)));
    m.setFieldValue(QStringLiteral("SESSO"), Value::text(QStringLiteral("M")));
    m.setFieldValue(QStringLiteral("DATA_NASCITA"), Value::text(QString::fromLatin1(birth)));
    m.setFieldValue(QStringLiteral("NAZIONE_NASCITA"), Value::text(QStringLiteral("Albania")));
    m.setFieldValue(QStringLiteral("CITTADINANZA"), Value::text(QStringLiteral("Albania")));
    m.setFieldValue(QStringLiteral("GRADO_PARENTELA"), Value::text(QStringLiteral("Coniuge")));
    m.setFieldValue(QStringLiteral("DATA_INGRESSO"), Value::text(QStringLiteral("01/03/2022")));
    m.setFieldValue(QStringLiteral("FRONTIERA"), Value::text(QStringLiteral("POLONIA")));
}

QString accessibleName(QWidget* w) {
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
    return a ? a->text(QAccessible::Name) : QString();
}

}  // namespace

class TstImportWindow : public QObject {
    Q_OBJECT

    QTemporaryDir m_settings;

private slots:
    void initTestCase() {
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settings.path());
        TemplateDatabase::path();
    }

    // "Salva" of ROSSI MARIO 12/05/1980: the likely and possible duplicates
    // are shown with their family units before anything is stored; the
    // clerk goes back, stores declaring one of them another person (never
    // shown again), or goes to the other member.
    void salvaWarnsBeforeStoring() {
        WindowFixture f;
        TfrmMain& w = f.w();
        Sql sql(f.path);
        const qint64 swapped = addMember(sql, "QX200", "ROSSI", "MARIO", stored(1980, 12, 5));
        const qint64 rosi = addMember(sql, "QX200", "ROSI", "MARIO", stored(1980, 5, 12));
        addMember(sql, "QX200", "ROSSI", "MARIO", stored(1982, 2, 3));
        const int before = sql.count(QStringLiteral("TBL_ANAGRAFICA"));

        newMember(f, "ROSSI", "MARIO", "12/05/1980");
        ScriptedDuplicateReview& review = f.dialogs.duplicates;
        // What the database and the cursor hold while the warning is shown.
        int storedWhileShown = -1;
        DataSetState stateWhileShown = dsInactive;
        review.onReview = [&](const DuplicateReviewRequest&) {
            storedWhileShown = sql.count(QStringLiteral("TBL_ANAGRAFICA"));
            stateWhileShown = f.members().state();
        };
        review.decideNext({});  // "Torna alla modifica"
        click(w.btnSaveAnag);
        QCOMPARE(review.shown.size(), 1);
        QCOMPARE(storedWhileShown, before);
        QCOMPARE(stateWhileShown, dsInsert);
        const DuplicateReviewRequest& shown = review.shown.first();
        QCOMPARE(shown.surname, QStringLiteral("ROSSI"));
        QCOMPARE(shown.birth, QStringLiteral("12/05/1980"));
        QVERIFY(shown.family.startsWith(QStringLiteral("QX100")));
        QStringList lines;
        for (const DuplicateMatch& m : shown.matches) {
            lines << QStringLiteral("%1 %2 %3 %4")
                         .arg(m.other.surname, birthText(m.other.birth),
                              likenessText(m.resemblance.likeness), familyUnitText(m.other));
        }
        QCOMPARE(lines, (QStringList{
                            QStringLiteral("ROSI 12/05/1980 probabile QX200 VERDI (ospitante "
                                           "GINO, Nessun Paese)"),
                            QStringLiteral("ROSSI 05/12/1980 probabile QX200 VERDI (ospitante "
                                           "GINO, Nessun Paese)"),
                            QStringLiteral("ROSSI 03/02/1982 possibile QX200 VERDI (ospitante "
                                           "GINO, Nessun Paese)"),
                        }));
        // Back to the fields: nothing stored, the row still being typed.
        QCOMPARE(sql.count(QStringLiteral("TBL_ANAGRAFICA")), before);
        QCOMPARE(f.members().state(), dsInsert);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w.dbeCognome));

        // Stored anyway, ROSI declared another person.
        DuplicateDecision store;
        store.action = DuplicateDecision::Action::Store;
        store.different = {rosi};
        review.decideNext(store);
        click(w.btnSaveAnag);
        QCOMPARE(review.shown.size(), 2);
        QCOMPARE(storedWhileShown, before);
        QCOMPARE(stateWhileShown, dsInsert);
        QCOMPARE(f.members().state(), dsBrowse);
        QCOMPARE(sql.count(QStringLiteral("TBL_ANAGRAFICA")), before + 1);
        const qint64 mine =
            qint64(f.members().fieldValue(QStringLiteral("ID_ANAGRAFICA")).toDouble());
        QCOMPARE(sql.one(QStringLiteral("SELECT CHIAVE_NOMINATIVO FROM TBL_ANAGRAFICA WHERE "
                                        "ID_ANAGRAFICA = ?"),
                         {mine})
                     .toString(),
                 QStringLiteral("ROSSI MARIO"));
        QCOMPARE(sql.count(QStringLiteral("TBL_NON_DOPPIONI"),
                           QStringLiteral("ID_ANAGRAFICA_1 = %1 AND ID_ANAGRAFICA_2 = %2")
                               .arg(std::min(mine, rosi))
                               .arg(std::max(mine, rosi))),
                 1);

        // "Modifica" and "Salva": ROSI is not shown again; "Vai al
        // componente" abandons the change and shows the other member.
        click(w.btnEditAnag);
        f.members().setFieldValue(QStringLiteral("NOTE"), Value::text(QStringLiteral("x")));
        DuplicateDecision goTo;
        goTo.action = DuplicateDecision::Action::GoTo;
        goTo.goToMember = swapped;
        goTo.goToFamily =
            sql.one(
                   QStringLiteral("SELECT ID_NUCLEO FROM TBL_NUCLEO WHERE CODICE_NUCLEO = 'QX200'"))
                .toLongLong();
        review.decideNext(goTo);
        click(w.btnSaveAnag);
        QCOMPARE(review.shown.size(), 3);
        QCOMPARE(stateWhileShown, dsEdit);
        QCOMPARE(review.shown.last().matches.size(), size_t(2));
        QCOMPARE(f.members().state(), dsBrowse);
        QVERIFY(sql.one(QStringLiteral("SELECT NOTE FROM TBL_ANAGRAFICA WHERE ID_ANAGRAFICA = ?"),
                        {mine})
                    .isNull());
        QCOMPARE(f.column(f.nucleo(), "CODICE_NUCLEO"), QStringLiteral("QX200"));
        QCOMPARE(qint64(f.members().fieldValue(QStringLiteral("ID_ANAGRAFICA")).toDouble()),
                 swapped);

        // No duplicate: no warning at all.
        clickGridRow(w.DBGrid2, 0);
        newMember(f, "KOVAL", "OLENA", "01/01/1970");
        click(w.btnSaveAnag);
        QCOMPARE(review.shown.size(), 3);
        QCOMPARE(f.members().state(), dsBrowse);
    }

    // The warning itself: named, read and answered from the keyboard.
    void duplicateDialogChoices() {
        WindowFixture f;
        Sql sql(f.path);
        const qint64 other = addMember(sql, "QX200", "ROSSI", "MARIO", stored(1980, 5, 12));
        DuplicateReviewRequest request;
        request.surname = QStringLiteral("ROSSI");
        request.name = QStringLiteral("MARIO");
        request.birth = QStringLiteral("12/05/1980");
        request.family = QStringLiteral("QX100 ROSSI");
        request.matches = duplicates::find(f.dm->cnQuaz.engine(), QStringLiteral("ROSSI"),
                                           QStringLiteral("MARIO"), QDate(1980, 5, 12));
        QCOMPARE(request.matches.size(), size_t(1));
        {
            DuplicateDialog dialog(request);
            dialog.show();
            // The offscreen platform leaves the activation to the test.
            QApplication::setActiveWindow(&dialog);
            QVERIFY(QTest::qWaitForWindowActive(&dialog));
            QCOMPARE(dialog.windowTitle(), QStringLiteral("Possibili doppioni"));
            QCOMPARE(accessibleName(dialog.list()),
                     QStringLiteral("Componenti simili nel registro"));
            QCOMPARE(accessibleName(dialog.storeButton()), QStringLiteral("Salva comunque"));
            QCOMPARE(accessibleName(dialog.goToButton()), QStringLiteral("Vai al componente"));
            QCOMPARE(accessibleName(dialog.backButton()), QStringLiteral("Torna alla modifica"));
            QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(dialog.list()));
            QTreeWidgetItem* item = dialog.list()->topLevelItem(0);
            QCOMPARE(item->text(5), QStringLiteral("QX200 VERDI (ospitante GINO, Nessun Paese)"));
            // Space ticks "Non è la stessa persona".
            QTest::keyClick(dialog.list(), Qt::Key_Space);
            QCOMPARE(item->checkState(0), Qt::Checked);
            click(dialog.storeButton());
            QCOMPARE(dialog.decision().action, DuplicateDecision::Action::Store);
            QCOMPARE(dialog.decision().different, QSet<qint64>{other});
        }
        {
            DuplicateDialog dialog(request);
            dialog.show();
            click(dialog.goToButton());
            QCOMPARE(dialog.decision().action, DuplicateDecision::Action::GoTo);
            QCOMPARE(dialog.decision().goToMember, other);
        }
        {
            DuplicateDialog dialog(request);
            dialog.show();
            QTest::keyClick(&dialog, Qt::Key_Escape);
            QCOMPARE(dialog.result(), int(QDialog::Rejected));
            QCOMPARE(dialog.decision().action, DuplicateDecision::Action::Back);
        }
    }

    // "Doppioni" from "Riepilogo": the likely pairs, one declared another
    // person, the window taken to a member of another.
    void doppioniFromRiepilogo() {
        WindowFixture f;
        Sql sql(f.path);
        addMember(sql, "QX200", "KOVAL", "OLENA", stored(1980, 5, 12));
        const qint64 second = addMember(sql, "QX100", "KOVAL", "OLENA", stored(1980, 12, 5));
        addMember(sql, "QX200", "PETRENKO", "IVAN", stored(1970, 1, 1));
        addMember(sql, "QX100", "PETRENKO", "IVAN", stored(1970, 1, 1));
        OfficeCommands* office = officeCommands(f.w());
        office->openSummary();
        QVERIFY(office->summaryDialog());
        auto* button =
            office->summaryDialog()->findChild<QPushButton*>(QStringLiteral("btnDoppioni"));
        QVERIFY(button);
        click(button);
        DuplicatesListDialog* dialog = office->duplicatesDialog();
        QVERIFY(dialog && dialog->isVisible());
        QCOMPARE(dialog->list()->topLevelItemCount(), 2);
        QCOMPARE(dialog->list()->topLevelItem(0)->text(0),
                 QStringLiteral("KOVAL OLENA, 12/05/1980"));
        QCOMPARE(accessibleName(dialog->list()), QStringLiteral("Coppie di probabili doppioni"));
        dialog->list()->setCurrentItem(dialog->list()->topLevelItem(1));
        click(dialog->differentButton());
        QCOMPARE(dialog->list()->topLevelItemCount(), 1);
        QCOMPARE(sql.count(QStringLiteral("TBL_NON_DOPPIONI")), 1);
        click(dialog->secondButton());
        QTRY_VERIFY(!office->duplicatesDialog());
        QCOMPARE(f.column(f.nucleo(), "CODICE_NUCLEO"), QStringLiteral("QX100"));
        QCOMPARE(qint64(f.members().fieldValue(QStringLiteral("ID_ANAGRAFICA")).toDouble()),
                 second);
        // The declared pair stays out.
        QCOMPARE(duplicates::likelyPairs(f.dm->cnQuaz.engine()).size(), size_t(1));
    }

    // "Importa": its button beside "Cerca" (nothing else moves), refused
    // while a row is edited, the preview, a column chosen again (and
    // remembered), everything stored, the window showing it.
    void importFromTheWindow() {
        WindowFixture f;
        TfrmMain& w = f.w();
        ScriptedProgress progress;
        Sql sql(f.path);
        OfficeCommands* office = officeCommands(w);
        QCOMPARE(office->importButton()->geometry(), QRect(692, 18, 72, 21));
        QCOMPARE(office->importButton()->focusPolicy(), Qt::NoFocus);
        QCOMPARE(accessibleName(office->importButton()), QStringLiteral("Importa"));
        QVERIFY(office->importButton()->toolTip().contains(QStringLiteral("Ctrl+I")));
        QVERIFY(!office->importButton()->geometry().intersects(office->searchButton()->geometry()));
        QVERIFY(!office->importButton()->geometry().intersects(
            w.findChild<QLabel*>(QStringLiteral("Label20"))->geometry()));

        const QString path = f.dir.filePath(QStringLiteral("elenco.csv"));
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(
                QStringLiteral("Nucleo;Ospitante;Città;Indirizzo;Telefono;Cognome;Nome;Sesso;"
                               "Nascita;Nazione di nascita;Cittadinanza;Parentela;Arrivo;Frontiera;"
                               "Annotazioni\r\n"
                               "Koval;Lia Neri;Udine;Via Po 3;0432 1;Koval;Olena;F;12/05/1980;"
                               "Ucraina;Ucraina;Capo Nucleo;01/03/2022;Polonia;celiaca\r\n"
                               "Koval;Lia Neri;Udine;Via Po 3;0432 1;Koval;Ivan;M;10/10/2010;"
                               "Ucraina;Ucraina;Figlio;01/03/2022;Polonia;\r\n"
                               ";Lia Neri;Udine;Via Po 3;0432 1;Koval;Petro;M;10/10/2012;"
                               "Ucraina;Ucraina;Figlio;01/03/2022;Polonia;\r\n")
                    .toLatin1());
        }
        int chosen = 0;
        office->setImportFileChooser([&](QWidget*) {
            ++chosen;
            return path;
        });

        click(w.btnNewNucleo);
        office->openImport();
        QCOMPARE(chosen, 0);
        QCOMPARE(f.dialogs.texts(), QStringList{kFinishEditingFirst});
        click(w.btnAnnNucleo);

        const int families = f.nucleo().rowCount();
        QTest::keySequence(&w, QKeySequence(Qt::CTRL | Qt::Key_I));
        QCOMPARE(chosen, 1);
        ImportDialog* dialog = office->importDialog();
        QVERIFY(dialog && dialog->isVisible());
        QCOMPARE(dialog->encodingBox()->currentText(), kWindows1252);
        QCOMPARE(dialog->summary()->text(),
                 QStringLiteral("Da aggiungere: 1 nuclei familiari e 2 componenti. Righe "
                                "scartate: 1. Possibili doppioni: 0 righe (probabili: 0)."));
        QCOMPARE(dialog->rejectedTable()->rowCount(), 1);
        QCOMPARE(dialog->rejectedTable()->item(0, 1)->text(),
                 QStringLiteral("Campi obbligatori mancanti: Descrizione Nucleo"));
        QCOMPARE(dialog->tabs()->tabText(0), QStringLiteral("Righe scartate (1)"));
        // "Annotazioni" is no word the mapping knows: the clerk picks it.
        QComboBox* notes = dialog->columnBox(ImportField::Note);
        QCOMPARE(notes->currentIndex(), 0);
        // A list box reads its current entry as its name on Linux and its
        // own name elsewhere (and through the caption it is labelled by).
        QCOMPARE(notes->accessibleName(), QStringLiteral("Note"));
        QCOMPARE(dialog->columnBox(ImportField::Surname)->accessibleName(),
                 QStringLiteral("Cognome (obbligatorio)"));
        notes->setCurrentIndex(15);
        QCOMPARE(dialog->preview().mapping.column(ImportField::Note), 14);

        click(dialog->importButton());
        QTRY_VERIFY(!office->importDialog());
        QCOMPARE(progress.titles, QStringList{QStringLiteral("Importa")});
        QCOMPARE(f.dialogs.texts().last(),
                 QStringLiteral("Importati 1 nuclei familiari e 2 componenti.\r\rLe righe "
                                "scartate sono nel file \"%1\", con il motivo di ciascuna.")
                     .arg(QDir::toNativeSeparators(
                         f.dir.filePath(QStringLiteral("elenco-scartate.csv")))));
        QCOMPARE(sql.one(QStringLiteral("SELECT NOTE FROM TBL_ANAGRAFICA WHERE NOME = 'OLENA'"))
                     .toString(),
                 QStringLiteral("celiaca"));
        // The window shows the new family unit at once.
        QCOMPARE(f.nucleo().rowCount(), families + 1);
        // The same headers next time: the clerk's choice again.
        QCOMPARE(rememberedMapping(readTableFile(path).headers).column(ImportField::Note), 14);
    }
};

MARVESA_TEST_MAIN(TstImportWindow)
#include "tst_importwindow.moc"
