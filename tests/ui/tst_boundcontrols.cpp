// The data-bound controls of the main window, driven by keys: what they
// refuse while browsing, upper case and width, the trim on leaving and the
// masked date edits.

#include <QToolButton>
#include <QWindow>
#include <QtTest>
#include <functional>

#include "data/base/Error.h"
#include "support/TestApplication.h"
#include "support/WindowFixture.h"

using namespace marvesa;
using namespace marvesa::test;

class TstBoundControls : public QObject {
    Q_OBJECT

private slots:
    // In dsBrowse a bound edit refuses typing, deleting and pasting, and a
    // choice from a lookup list leaves the column unchanged.
    void browsingRefusesEveryChange() {
        WindowFixture f;
        TfrmMain& w = f.w();
        QTest::keyClicks(w.edtDescNucleo, QStringLiteral("x1"));
        QTest::keyClick(w.edtDescNucleo, Qt::Key_Backspace);
        paste(w.edtDescNucleo, QStringLiteral("12"));
        QCOMPARE(w.edtDescNucleo->text(), QStringLiteral("ROSSI"));
        WindowFixture::focus(w.dbeNazNascita);
        chooseFromList(w.dbeNazNascita, 0);
        tab(w.dbeNazNascita);
        QCOMPARE(w.dbeNazNascita->text(), QStringLiteral("Albania"));
        QCOMPARE(f.column(f.members(), "NAZIONE_NASCITA"), QStringLiteral("Albania"));
    }

    // Typed and pasted letters become capitals in an upper-case edit, which
    // cuts at the column's width (50); leaving a trimmed edit removes blanks
    // and control characters at both ends; nothing else changes case or
    // trims.
    void typedTextIsShaped() {
        WindowFixture f;
        TfrmMain& w = f.w();
        f.members().edit();
        WindowFixture::focus(w.dbeCognome);
        w.dbeCognome->selectAll();
        typeText(w.dbeCognome, QStringLiteral("d'été "));
        paste(w.dbeCognome, QStringLiteral("abcdefghij").repeated(6));
        tab(w.dbeCognome);
        QCOMPARE(f.column(f.members(), "COGNOME"),
                 QStringLiteral("D'ÉTÉ ") + QStringLiteral("ABCDEFGHIJ").repeated(6).left(44));
        WindowFixture::focus(w.DBMemo2);
        QTest::keyClicks(w.DBMemo2, QStringLiteral(" a "));
        tab(w.DBMemo2);
        QCOMPARE(f.column(f.members(), "NOTE"), QStringLiteral(" a nessuna"));

        // A drop-down list's search starts afresh on each visit (a fixed
        // fault: the letters of an earlier visit began the next search).
        for (const char* letter : {"m", "f"}) {
            WindowFixture::focus(w.dbeSesso);
            QTest::keyClicks(w.dbeSesso, QString::fromLatin1(letter));
            QCOMPARE(w.dbeSesso->text(), QString::fromLatin1(letter).toUpper());
            tab(w.dbeSesso);
        }
        f.members().post();

        // In dsBrowse the trim changes only what the edit shows.
        WindowFixture::focus(w.dbeOspite);
        tab(w.dbeOspite);
        QCOMPARE(w.dbeOspite->text(), QStringLiteral("MARIO BIANCHI"));
        QCOMPARE(f.column(f.nucleo(), "NOME_OSPITANTE"), QStringLiteral("MARIO BIANCHI "));

        // The seven trimmed edits, each pasted into, left and its row stored.
        const struct {
            DataSet& table;
            DBEdit* edit;
            const char* column;
            const char* pasted;
            const char* trimmed;
        } cases[] = {
            {f.members(), w.dbeCognome, "COGNOME", "  bianchi  ", "BIANCHI"},
            {f.members(), w.dbeNome, "NOME", "\r\nolena ", "OLENA"},
            {f.members(), w.dbeFrontiera, "FRONTIERA", " \x01medyka\t", "MEDYKA"},
            // Tab and line feed go, blanks inside stay.
            {f.nucleo(), w.dbeIndirizzo, "INDIRIZZO", "\tvia  roma 1\n", "VIA  ROMA 1"},
            {f.nucleo(), w.dbeOspite, "NOME_OSPITANTE", "  gino rossi\t ", "GINO ROSSI"},
            // A no-break space is not a blank.
            {f.nucleo(), w.dbeTelefono, "TELEFONO", "\u00A0049 12\u00A0 ", "\u00A0049 12\u00A0"},
            // Blanks only: nothing left.
            {f.nucleo(), w.edtDescNucleo, "DENOMINAZIONE", "   ", ""},
        };
        for (const auto& c : cases) {
            c.table.edit();
            WindowFixture::focus(c.edit);
            c.edit->selectAll();
            paste(c.edit, QString::fromUtf8(c.pasted));
            tab(c.edit);
            c.table.post();
            QCOMPARE(f.column(c.table, c.column), QString::fromUtf8(c.trimmed));
        }

        // A navigator button ends the pending edit, storing what was typed,
        // but leaves the focus where it is, untrimmed.
        f.members().edit();
        WindowFixture::focus(w.dbeNome);
        QTest::keyClicks(w.dbeNome, QStringLiteral(" x "));
        QTest::mouseClick(w.DBNavigator1->button(DBNavigator::Refresh), Qt::LeftButton);
        QCOMPARE(focused(), w.dbeNome);
        QCOMPARE(f.members().state(), dsBrowse);
        QCOMPARE(f.column(f.members(), "NOME"), QStringLiteral("OLENA X "));
    }

    // A value a command sets on a column shows at once in the control bound
    // to it, whatever the control's kind.
    void valueSetByACommandShowsAtOnce() {
        WindowFixture f;
        TfrmMain& w = f.w();
        const struct {
            DataSet& table;
            const char* column;
            Value value;
            std::function<QString()> shown;
            const char* expected;
        } cases[] = {
            {f.nucleo(), "NOME_OSPITANTE", Value::text(QStringLiteral("GINO")),
             [&] { return w.dbeOspite->text(); }, "GINO"},
            {f.nucleo(), "COMUNE", Value::text(QStringLiteral("Pescara")),
             [&] { return w.dbeComune->text(); }, "Pescara"},
            {f.nucleo(), "TERMINE_ALLOGGIO", Value::date(QDate(2026, 1, 31)),
             [&] { return w.dbeDataTermine->text(); }, "31/01/2026"},
            {f.nucleo(), "CODICE_NUCLEO", Value::text(QStringLiteral("QX777")),
             [&] { return w.edtCodiceNucleo->caption(); }, "QX777"},
            {f.members(), "SESSO", Value::text(QStringLiteral("M")),
             [&] { return w.dbeSesso->text(); }, "M"},
            {f.members(), "GRADO_PARENTELA", Value::text(QStringLiteral("Coniuge")),
             [&] { return w.dbeParentela->text(); }, "Coniuge"},
            {f.members(), "CITTADINANZA", Value::text(QStringLiteral("Italia")),
             [&] { return w.dbeCittadinanza->text(); }, "Italia"},
            {f.members(), "NOTE", Value::text(QStringLiteral("allergia")),
             [&] { return w.DBMemo2->text(); }, "allergia"},
            {f.members(), "CODICE_NUCLEO", Value::text(QStringLiteral("QX999")),
             [&] { return w.dbeNucleoAnag->caption(); }, "QX999"},
        };
        for (const auto& c : cases) {
            c.table.edit();
            c.table.setFieldValue(QString::fromLatin1(c.column), c.value);
            QCOMPARE(c.shown(), QString::fromLatin1(c.expected));
            c.table.cancel();
        }
    }

    // Typing in a drop-down list or a lookup drop-down picks the first item
    // that begins with every character typed, ignoring case and accents, also
    // while the list is open; a pause of up to a second continues the search.
    // The keys go through the window, as the operator's do.
    void typingPicksByTheWholePrefix() {
        WindowFixture f;
        TfrmMain& w = f.w();
        QWindow* window = w.windowHandle();
        const auto type = [window](const char* keys) {
            for (const char* k = keys; *k; ++k)
                QTest::keyClick(window, *k);
        };
        // Leaving and coming back starts a new search.
        const auto visit = [&](QComboBox* combo) {
            combo->hidePopup();
            WindowFixture::focus(w.dbeNome);
            WindowFixture::focus(combo);
        };
        f.members().edit();
        const std::pair<const char*, const char*> relationships[] = {
            {"Capo", "Capo Nucleo"},
            {"Cog", "Cognato/Cognata"},
            {"Coniuge", "Coniuge"},
            {"nipote di z", "Nipote di Zia/Zio"},
            {"F", "Figlio/Figlia"}};
        for (const auto& [keys, item] : relationships) {
            visit(w.dbeParentela);
            type(keys);
            // The list opened at the first key and shows the item chosen.
            QVERIFY(w.dbeParentela->view()->isVisible());
            QCOMPARE(w.dbeParentela->view()->currentIndex().data().toString(),
                     QString::fromLatin1(item));
            QCOMPARE(w.dbeParentela->text(), QString::fromLatin1(item));
        }
        // Enter in the open list keeps the choice, which Tab stores.
        QTest::keyClick(window, Qt::Key_Return);
        QVERIFY(!w.dbeParentela->view()->isVisible());
        QCOMPARE(focused(), w.dbeParentela);
        tab(w.dbeParentela);
        QCOMPARE(f.column(f.members(), "GRADO_PARENTELA"), QStringLiteral("Figlio/Figlia"));
        f.members().cancel();

        f.nucleo().edit();
        const std::pair<const char*, const char*> towns[] = {
            {"pesc", "Pescaglia"}, {"cantu", "Cantù"}, {"FORLI D", "Forlì del Sannio"}};
        for (const auto& [keys, item] : towns) {
            visit(w.dbeComune);
            type(keys);
            QCOMPARE(w.dbeComune->text(), QString::fromUtf8(item));
        }
        visit(w.dbeComune);
        type("Pesc");
        QTest::qWait(500);
        type("ara");
        QCOMPARE(w.dbeComune->text(), QStringLiteral("Pescara"));
        tab(w.dbeComune);
        QCOMPARE(f.column(f.nucleo(), "COMUNE"), QStringLiteral("Pescara"));
    }

    void maskedDateEdits() {
        WindowFixture f;
        TfrmMain& w = f.w();
        DBEdit* end = w.dbeDataTermine;
        // A NULL date reads as separators and blanks; it shows nothing, or
        // with the focus the placeholders.
        QCOMPARE(end->shownText(), QString());
        QCOMPARE(end->text(), QStringLiteral("  /  /    "));
        f.nucleo().edit();
        WindowFixture::focus(end);
        QCOMPARE(end->shownText(), QStringLiteral("__/__/____"));

        const struct {
            const char* keys;
            const char* error;
            const char* stored;
        } cases[] = {
            // Letters are refused; no year is no date.
            {"12a05", "'12/05/    ' is not a valid date and time.", "<NULL>"},
            // A two-digit year lies within the hundred years from fifty back.
            {"120522", "", "12/05/2022"},
            // "/" jumps past the next separator.
            {"1/5/2023", "", "01/05/2023"},
            {"31022023", "'31/02/2023' is not a valid date and time.", "01/05/2023"},
            // Emptied, the end of hosting becomes NULL.
            {"", "", "<NULL>"},
        };
        for (const auto& c : cases) {
            WindowFixture::focus(end);
            end->selectAll();
            QTest::keyClick(end, Qt::Key_Delete);
            QTest::keyClicks(end, QString::fromLatin1(c.keys));
            f.dialogs.clear();
            tab(end);
            QCOMPARE(f.dialogs.texts().join(u'\n'), QString::fromLatin1(c.error));
            QCOMPARE(focused() == end, !f.dialogs.shown.isEmpty());
            QCOMPARE(f.column(f.nucleo(), "TERMINE_ALLOGGIO"), QString::fromLatin1(c.stored));
        }
        // A move cannot leave an edit whose control holds a wrong date: it
        // stops with the error, and the row and the typing stay.
        QTest::keyClicks(end, QStringLiteral("31022023"));
        const int row = f.nucleo().currentRow();
        QString error;
        try {
            f.nucleo().next();
        } catch (const Error& e) {
            error = e.message();
        }
        QVERIFY2(error.startsWith(u"'31/02/2023' is not a valid date"), qPrintable(error));
        QCOMPARE(f.nucleo().currentRow(), row);
        QCOMPARE(f.nucleo().state(), dsEdit);
        QCOMPARE(end->text(), QStringLiteral("31/02/2023"));
        end->selectAll();
        QTest::keyClick(end, Qt::Key_Delete);
        f.nucleo().post();
        QCOMPARE(f.column(f.nucleo(), "TERMINE_ALLOGGIO"), QStringLiteral("<NULL>"));

        // A date of birth needs its year: the mask's error; Escape brings the
        // stored value back.
        f.members().edit();
        DBEdit* born = w.dbeDataNascita;
        WindowFixture::focus(born);
        born->selectAll();
        QTest::keyClicks(born, QStringLiteral("0101"));
        tab(born);
        QCOMPARE(f.dialogs.texts().join(u'\n'),
                 QStringLiteral("Invalid input value.  Use escape key to abandon changes."));
        QCOMPARE(focused(), born);
        QTest::keyClick(born, Qt::Key_Escape);
        QCOMPARE(born->text(), QStringLiteral("04/03/1980"));
        QCOMPARE(f.column(f.members(), "DATA_NASCITA"), QStringLiteral("04/03/1980"));
    }
};

MARVESA_TEST_MAIN(TstBoundControls)
#include "tst_boundcontrols.moc"
