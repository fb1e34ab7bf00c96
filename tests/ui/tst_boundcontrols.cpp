// The data-bound controls of the main window: what they accept in which
// state, upper case and width, the trim on leaving, the masked date edits,
// Escape, and a write into the column that fails.

#include <QtTest>

#include "data/Error.h"
#include "support/TestApplication.h"
#include "ui/WindowFixture.h"

using namespace marvesa;
using namespace marvesa::test;

class TstBoundControls : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { TemplateDatabase::path(); }

    void browsingRefusesEveryChange() {
        WindowFixture f;
        TfrmMain& w = f.w();
        for (DBEdit* edit : {w.edtDescNucleo, w.dbeCognome, w.dbeDataNascita, w.dbeDataTermine}) {
            WindowFixture::focus(edit);
            const QString before = edit->text();
            const QString shown = edit->shownText();
            QTest::keyClicks(edit, QStringLiteral("x1"));
            edit->selectAll();
            QTest::keyClick(edit, Qt::Key_Backspace);
            QTest::keyClick(edit, Qt::Key_Delete);
            QTest::keyClick(edit, Qt::Key_X, Qt::ControlModifier);
            paste(edit, QStringLiteral("12"));
            QCOMPARE(edit->text(), before);
            QCOMPARE(edit->shownText(), shown);
            QVERIFY(!edit->hasChange());
        }

        WindowFixture::focus(w.DBMemo2);
        QTest::keyClicks(w.DBMemo2, QStringLiteral("abc"));
        QTest::keyClick(w.DBMemo2, Qt::Key_Return);
        paste(w.DBMemo2, QStringLiteral("zzz"));
        QCOMPARE(w.DBMemo2->text(), QStringLiteral("nessuna"));

        // Drop-downs: typing is ignored, a choice from the list shows the
        // column's value again.
        WindowFixture::focus(w.dbeParentela);
        QTest::keyClicks(w.dbeParentela, QStringLiteral("zi"));
        QVERIFY(!w.dbeParentela->view()->isVisible());
        QTest::keyClick(w.dbeParentela, Qt::Key_Down);
        QCOMPARE(w.dbeParentela->text(), QStringLiteral("Capo Nucleo"));
        chooseFromList(w.dbeParentela, 4);
        QCOMPARE(w.dbeParentela->text(), QStringLiteral("Capo Nucleo"));
        QVERIFY(!w.dbeParentela->hasChange());

        WindowFixture::focus(w.dbeNazNascita);
        QTest::keyClicks(w.dbeNazNascita, QStringLiteral("ita"));
        chooseFromList(w.dbeNazNascita, 0);
        QCOMPARE(w.dbeNazNascita->text(), QStringLiteral("Albania"));
        tab(w.dbeNazNascita);

        QCOMPARE(f.nucleo().state(), dsBrowse);
        QCOMPARE(f.members().state(), dsBrowse);
        QCOMPARE(f.column(f.members(), "NAZIONE_NASCITA"), QStringLiteral("Albania"));
        QCOMPARE(f.column(f.members(), "GRADO_PARENTELA"), QStringLiteral("Capo Nucleo"));
        QVERIFY(f.dialogs.shown.isEmpty());
    }

    void upperCaseAndWidth() {
        WindowFixture f;
        TfrmMain& w = f.w();
        f.members().edit();
        WindowFixture::focus(w.dbeCognome);
        w.dbeCognome->selectAll();
        typeText(w.dbeCognome, QStringLiteral("rossi d'été"));
        QCOMPARE(w.dbeCognome->text(), QStringLiteral("ROSSI D'ÉTÉ"));
        QVERIFY(w.dbeCognome->hasChange());
        // The column receives it when the focus leaves.
        QCOMPARE(f.column(f.members(), "COGNOME"), QStringLiteral("ROSSI"));
        tab(w.dbeCognome);
        QCOMPARE(focused(), static_cast<QWidget*>(w.dbeNome));
        QCOMPARE(f.column(f.members(), "COGNOME"), QStringLiteral("ROSSI D'ÉTÉ"));

        // Pasted letters become capitals too; the width (50) cuts the rest.
        WindowFixture::focus(w.dbeCognome);
        const QString sixty = QStringLiteral("abcdefghij").repeated(6);
        w.dbeCognome->selectAll();
        paste(w.dbeCognome, sixty);
        QCOMPARE(w.dbeCognome->text(), sixty.left(50).toUpper());
        QTest::keyClicks(w.dbeCognome, QStringLiteral("k"));
        QCOMPARE(w.dbeCognome->text().size(), 50);

        // Edits without the upper-case option keep the case, the memo its
        // line breaks and trailing blanks; the hidden code edit is limited to
        // the code's width.
        f.nucleo().edit();
        QCOMPARE(f.members().state(), dsBrowse);  // the member edit was ended first
        QCOMPARE(f.column(f.members(), "COGNOME"), sixty.left(50).toUpper());
        QCOMPARE(w.DBEdit1->maxLength(), 20);
        QCOMPARE(w.edtDescNucleo->maxLength(), 200);
        f.members().edit();
        WindowFixture::focus(w.DBMemo2);
        QTest::keyClick(w.DBMemo2, Qt::Key_End, Qt::ControlModifier);
        QTest::keyClicks(w.DBMemo2, QStringLiteral(" e altro"));
        QCOMPARE(w.DBMemo2->text(), QStringLiteral("nessuna e altro"));
        QTest::keyClick(w.DBMemo2, Qt::Key_Return);
        QTest::keyClicks(w.DBMemo2, QStringLiteral("riga  "));
        tab(w.DBMemo2);
        QCOMPARE(f.column(f.members(), "NOTE"), QStringLiteral("nessuna e altro\nriga  "));
    }

    void trimOnLeaving() {
        WindowFixture f;
        TfrmMain& w = f.w();
        f.members().edit();
        WindowFixture::focus(w.dbeCognome);
        replaceText(w.dbeCognome, QStringLiteral("  bianchi  "));
        tab(w.dbeCognome);
        QCOMPARE(w.dbeCognome->text(), QStringLiteral("BIANCHI"));
        // The trimmed text is the control's change; the row stores it.
        QVERIFY(w.dbeCognome->hasChange());
        f.members().post();
        QCOMPARE(f.column(f.members(), "COGNOME"), QStringLiteral("BIANCHI"));

        // Tab, line feed and other control characters go; a no-break space
        // and blanks inside stay.
        f.nucleo().edit();
        WindowFixture::focus(w.dbeIndirizzo);
        w.dbeIndirizzo->selectAll();
        paste(w.dbeIndirizzo, QStringLiteral("\tvia  roma 1\n"));
        tab(w.dbeIndirizzo);
        QCOMPARE(w.dbeIndirizzo->text(), QStringLiteral("VIA  ROMA 1"));
        WindowFixture::focus(w.dbeTelefono);
        w.dbeTelefono->selectAll();
        paste(w.dbeTelefono, QStringLiteral("\u00A0049 12\u00A0 "));
        QTest::keyClick(w.dbeTelefono, Qt::Key_Tab, Qt::ShiftModifier);
        QCOMPARE(focused(), static_cast<QWidget*>(w.dbeIndirizzo));
        QCOMPARE(w.dbeTelefono->text(), QStringLiteral("\u00A0049 12\u00A0"));
        // Blanks only: nothing left.
        WindowFixture::focus(w.edtDescNucleo);
        replaceText(w.edtDescNucleo, QStringLiteral("   "));
        WindowFixture::focus(w.btnSaveNucleo);
        QCOMPARE(w.edtDescNucleo->text(), QString());
        f.nucleo().post();
        QCOMPARE(f.column(f.nucleo(), "DENOMINAZIONE"), QString());
        QCOMPARE(f.column(f.nucleo(), "INDIRIZZO"), QStringLiteral("VIA  ROMA 1"));
        QCOMPARE(f.column(f.nucleo(), "TELEFONO"), QStringLiteral("\u00A0049 12\u00A0"));

        // In dsBrowse only what the edit shows changes.
        QCOMPARE(w.dbeOspite->text(), QStringLiteral("MARIO BIANCHI "));
        WindowFixture::focus(w.dbeOspite);
        tab(w.dbeOspite);
        QCOMPARE(w.dbeOspite->text(), QStringLiteral("MARIO BIANCHI"));
        QVERIFY(!w.dbeOspite->hasChange());
        QCOMPARE(f.column(f.nucleo(), "NOME_OSPITANTE"), QStringLiteral("MARIO BIANCHI "));
        QVERIFY(f.dialogs.shown.isEmpty());
    }

    void maskedDateEdit() {
        WindowFixture f;
        TfrmMain& w = f.w();
        DBEdit* end = w.dbeDataTermine;
        QVERIFY(end->isMasked());
        // A NULL date reads as separators and blanks, with or without focus.
        QCOMPARE(end->shownText(), QString());
        QCOMPARE(end->text(), QStringLiteral("  /  /    "));
        f.nucleo().edit();
        WindowFixture::focus(end);
        QCOMPARE(end->shownText(), QStringLiteral("__/__/____"));
        QCOMPARE(end->text(), QStringLiteral("  /  /    "));

        // Digits step over the separators; letters are refused.
        end->setCursorPosition(0);
        QTest::keyClicks(end, QStringLiteral("12a05"));
        QCOMPARE(end->shownText(), QStringLiteral("12/05/____"));
        QCOMPARE(end->text(), QStringLiteral("12/05/    "));

        // Day and month without a year: the conversion error, the focus stays.
        tab(end);
        QCOMPARE(f.dialogs.texts(),
                 QStringList{QStringLiteral("'12/05/    ' is not a valid date and time.")});
        QCOMPARE(focused(), static_cast<QWidget*>(end));
        QCOMPARE(end->selectedText(), end->shownText());
        QCOMPARE(f.column(f.nucleo(), "TERMINE_ALLOGGIO"), QStringLiteral("<NULL>"));

        // A two-digit year falls in the window of fifty years back.
        end->setCursorPosition(6);
        QTest::keyClicks(end, QStringLiteral("22"));
        QCOMPARE(end->text(), QStringLiteral("12/05/22  "));
        tab(end);
        QCOMPARE(f.dialogs.shown.size(), 1);
        QCOMPARE(f.column(f.nucleo(), "TERMINE_ALLOGGIO"), QStringLiteral("12/05/2022"));
        QCOMPARE(end->shownText(), QStringLiteral("12/05/2022"));

        // "/" jumps past the next separator.
        WindowFixture::focus(end);
        end->selectAll();
        QTest::keyClicks(end, QStringLiteral("1/5/2023"));
        QCOMPARE(end->shownText(), QStringLiteral("1_/5_/2023"));
        QCOMPARE(end->text(), QStringLiteral("1 /5 /2023"));
        tab(end);
        QCOMPARE(f.column(f.nucleo(), "TERMINE_ALLOGGIO"), QStringLiteral("01/05/2023"));

        // Emptied, the end of hosting becomes NULL.
        WindowFixture::focus(end);
        end->selectAll();
        QTest::keyClick(end, Qt::Key_Delete);
        QCOMPARE(end->shownText(), QStringLiteral("__/__/____"));
        tab(end);
        QCOMPARE(f.column(f.nucleo(), "TERMINE_ALLOGGIO"), QStringLiteral("<NULL>"));
        f.nucleo().post();
        QCOMPARE(f.column(f.nucleo(), "TERMINE_ALLOGGIO"), QStringLiteral("<NULL>"));
        QCOMPARE(end->shownText(), QString());

        // A date of birth needs its year: the mask error, the cursor on the
        // first empty year position; Escape brings the stored value back.
        f.members().edit();
        DBEdit* born = w.dbeDataNascita;
        WindowFixture::focus(born);
        QCOMPARE(born->shownText(), QStringLiteral("04/03/1980"));
        born->selectAll();
        QTest::keyClicks(born, QStringLiteral("0101"));
        QCOMPARE(born->shownText(), QStringLiteral("01/01/____"));
        f.dialogs.clear();
        tab(born);
        QCOMPARE(f.dialogs.texts(),
                 QStringList{
                     QStringLiteral("Invalid input value.  Use escape key to abandon changes.")});
        QCOMPARE(focused(), static_cast<QWidget*>(born));
        QCOMPARE(born->cursorPosition(), 6);
        QCOMPARE(f.column(f.members(), "DATA_NASCITA"), QStringLiteral("04/03/1980"));
        // The same check stops a post.
        f.dialogs.clear();
        QVERIFY_THROWS_EXCEPTION(Error, f.members().post());
        QCOMPARE(f.members().state(), dsEdit);
        QTest::keyClick(born, Qt::Key_Escape);
        QCOMPARE(born->shownText(), QStringLiteral("04/03/1980"));
        QCOMPARE(born->text(), QStringLiteral("04/03/1980"));
        QVERIFY(!born->hasChange());
        tab(born);
        QVERIFY(f.dialogs.shown.isEmpty());
        QCOMPARE(born->shownText(), QStringLiteral("04/03/1980"));

        // A date that does not exist is refused by the conversion.
        WindowFixture::focus(w.dbeDataIngresso);
        w.dbeDataIngresso->selectAll();
        QTest::keyClicks(w.dbeDataIngresso, QStringLiteral("31022023"));
        tab(w.dbeDataIngresso);
        const QStringList notADate{QStringLiteral("'31/02/2023' is not a valid date and time.")};
        QCOMPARE(f.dialogs.texts(), notADate);
        QCOMPARE(focused(), static_cast<QWidget*>(w.dbeDataIngresso));
        // A click on a button is lost while the edit cannot be left.
        f.dialogs.clear();
        QTest::mouseClick(w.btnAnagAnnulla, Qt::LeftButton);
        QCOMPARE(focused(), static_cast<QWidget*>(w.dbeDataIngresso));
        QCOMPARE(f.dialogs.texts(), notADate);
        QTest::keyClick(w.dbeDataIngresso, Qt::Key_Escape);
        QCOMPARE(w.dbeDataIngresso->shownText(), QStringLiteral("01/03/2022"));
        tab(w.dbeDataIngresso);
        QCOMPARE(focused(), w.dbeFrontiera);
    }

    void escapeAndDropDownLists() {
        WindowFixture f;
        TfrmMain& w = f.w();
        f.members().edit();
        // Escape drops what was typed, in an edit and in the memo.
        WindowFixture::focus(w.dbeNome);
        replaceText(w.dbeNome, QStringLiteral("carla"));
        QTest::keyClick(w.dbeNome, Qt::Key_Escape);
        QCOMPARE(w.dbeNome->text(), QStringLiteral("ANNA"));
        tab(w.dbeNome);
        QCOMPARE(f.column(f.members(), "NOME"), QStringLiteral("ANNA"));
        QVERIFY(!f.members().modified());
        WindowFixture::focus(w.DBMemo2);
        QTest::keyClicks(w.DBMemo2, QStringLiteral("!!"));
        QTest::keyClick(w.DBMemo2, Qt::Key_Escape);
        QCOMPARE(w.DBMemo2->text(), QStringLiteral("nessuna"));

        // Typing selects the first item beginning with the typed characters;
        // Escape shows the column's value again (the lower-case "f" as the
        // item "F"); the choice goes into the column on leaving.
        WindowFixture::focus(w.dbeSesso);
        QTest::keyClicks(w.dbeSesso, QStringLiteral("m"));
        QCOMPARE(w.dbeSesso->text(), QStringLiteral("M"));
        QTest::keyClick(w.dbeSesso, Qt::Key_Escape);
        QCOMPARE(w.dbeSesso->text(), QStringLiteral("F"));
        QCOMPARE(f.column(f.members(), "SESSO"), QStringLiteral("f"));
        // Coming back starts a new search.
        tab(w.dbeSesso);
        WindowFixture::focus(w.dbeSesso);
        QTest::keyClicks(w.dbeSesso, QStringLiteral("m"));
        QCOMPARE(w.dbeSesso->text(), QStringLiteral("M"));
        QCOMPARE(f.column(f.members(), "SESSO"), QStringLiteral("f"));
        tab(w.dbeSesso);
        QCOMPARE(f.column(f.members(), "SESSO"), QStringLiteral("M"));

        WindowFixture::focus(w.dbeParentela);
        QTest::keyClicks(w.dbeParentela, QStringLiteral("co"));
        QCOMPARE(w.dbeParentela->text(), QStringLiteral("Cognato/Cognata"));
        QVERIFY(w.dbeParentela->view()->isVisible());  // opens as soon as a character is typed
        w.dbeParentela->hidePopup();
        chooseFromList(w.dbeParentela, 15);
        QCOMPARE(w.dbeParentela->text(), QStringLiteral("Zio/Zia"));
        QVERIFY(w.dbeParentela->hasChange());
        f.members().post();
        QCOMPARE(f.column(f.members(), "GRADO_PARENTELA"), QStringLiteral("Zio/Zia"));

        // Lookups write the chosen key at once.
        f.nucleo().edit();
        WindowFixture::focus(w.dbeComune);
        QCOMPARE(w.dbeComune->count(), int(schema::municipalities().size()));
        QTest::keyClicks(w.dbeComune, QStringLiteral("abba"));
        QCOMPARE(w.dbeComune->text(), QStringLiteral("Abbadia Cerreto"));
        QCOMPARE(f.column(f.nucleo(), "COMUNE"), QStringLiteral("Abbadia Cerreto"));
        chooseFromList(w.dbeComune, 0);
        QCOMPARE(f.column(f.nucleo(), "COMUNE"), QStringLiteral("Abano Terme"));
        f.nucleo().cancel();
        QCOMPARE(w.dbeComune->text(), QStringLiteral("Abano Terme"));
        QCOMPARE(w.dbeNazNascita->count(), int(schema::countries().size()));
        QVERIFY(f.dialogs.shown.isEmpty());
    }

    void labelCaptionSetByACommand() {
        WindowFixture f;
        TfrmMain& w = f.w();
        f.nucleo().insert();
        w.edtCodiceNucleo->setCaption(QStringLiteral("QX4242"));
        QCOMPARE(w.edtCodiceNucleo->caption(), QStringLiteral("QX4242"));
        // Another column changing leaves the caption alone...
        f.nucleo().setFieldValue(QStringLiteral("DENOMINAZIONE"), Value::text(QStringLiteral("X")));
        QCOMPARE(w.edtCodiceNucleo->caption(), QStringLiteral("QX4242"));
        // ...its own column shows the value again.
        f.nucleo().setFieldValue(QStringLiteral("CODICE_NUCLEO"),
                                 Value::text(QStringLiteral("QX5")));
        QCOMPARE(w.edtCodiceNucleo->caption(), QStringLiteral("QX5"));
        w.edtCodiceNucleo->setCaption(QStringLiteral("QX4242"));
        f.nucleo().cancel();
        QCOMPARE(w.edtCodiceNucleo->caption(), QStringLiteral("QX100"));

        // A command's text in an edit counts as a change only while editing.
        w.dbeNome->setText(QStringLiteral("X"));
        QVERIFY(!w.dbeNome->hasChange());
        f.members().edit();
        w.dbeNome->setText(QStringLiteral("ALBA"));
        QVERIFY(w.dbeNome->hasChange());
        f.members().post();
        QCOMPARE(f.column(f.members(), "NOME"), QStringLiteral("ALBA"));
    }
};

MARVESA_TEST_MAIN(TstBoundControls)
#include "tst_boundcontrols.moc"
