// The keyboard alone: the lists and the navigators, which are no tab stops,
// are reached and left with keys; every tab stop shows that it has the focus.

#include <QAccessible>
#include <QImage>
#include <QToolButton>
#include <QtTest>

#include "support/TestApplication.h"
#include "support/WindowFixture.h"
#include "ui/window/WindowLayout.h"

using namespace marvesa;
using namespace marvesa::test;

namespace {

// What the window shows of a control, with its surroundings.
QImage picture(TfrmMain& w, QWidget* control) {
    QApplication::processEvents();
    const QRect area = control->geometry().adjusted(-3, -3, 3, 3);
    return w.grab(area).toImage();
}

void press(QWidget* at, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::keyClick(at, Qt::Key(key), modifiers);
}

}  // namespace

class TstKeyboard : public QObject {
    Q_OBJECT

private slots:
    // Each tab stop looks different while it has the focus, given with the
    // keyboard: Tab walks the window, and each control is seen with the
    // focus and again once the focus has moved on.
    void focusIsVisibleOnEveryTabStop() {
        WindowFixture f;
        TfrmMain& w = f.w();
        for (CommandButton* b : w.commandButtons())
            b->setEnabled(true);
        const QStringList& order = layout::tabOrder();
        QHash<QString, QImage> focusedLook;
        QStringList unchanged;
        QWidget* previous = nullptr;
        for (int step = 0; step <= order.size(); ++step) {
            tab(focused());
            QWidget* now = focused();
            if (previous && focusedLook.value(previous->objectName()) == picture(w, previous)) {
                unchanged << previous->objectName();
            }
            focusedLook.insert(now->objectName(), picture(w, now));
            previous = now;
        }
        QCOMPARE(focusedLook.size(), order.size());
        QVERIFY2(unchanged.isEmpty(), qPrintable(unchanged.join(QLatin1Char(' '))));

        // A list shows its current row while it has the focus.
        WindowFixture::focus(w.edtDescNucleo);
        const QImage without = picture(w, w.DBGrid2);
        press(w.edtDescNucleo, Qt::Key_L, Qt::AltModifier);
        QCOMPARE(focused(), w.DBGrid2);
        QVERIFY(picture(w, w.DBGrid2) != without);
    }

    // Alt+L and Alt+C enter the two lists; the arrows move the table; Esc,
    // Ctrl+Tab and Ctrl+Maiusc+Tab give the focus back where it came from.
    void listsAreReachedAndLeft() {
        WindowFixture f;
        TfrmMain& w = f.w();
        WindowFixture::focus(w.dbeOspite);
        press(w.dbeOspite, Qt::Key_L, Qt::AltModifier);
        QCOMPARE(focused(), w.DBGrid2);
        press(w.DBGrid2, Qt::Key_Down);
        QCOMPARE(f.column(f.nucleo(), "CODICE_NUCLEO"), QStringLiteral("QX200"));
        press(w.DBGrid2, Qt::Key_Escape);
        QCOMPARE(focused(), w.dbeOspite);

        press(w.dbeOspite, Qt::Key_Up, Qt::NoModifier);  // no list: nothing moves
        QCOMPARE(f.column(f.nucleo(), "CODICE_NUCLEO"), QStringLiteral("QX200"));
        WindowFixture::focus(w.dbeNome);
        press(w.dbeNome, Qt::Key_L, Qt::AltModifier);
        press(w.DBGrid2, Qt::Key_Up);
        QCOMPARE(f.column(f.nucleo(), "CODICE_NUCLEO"), QStringLiteral("QX100"));
        press(w.DBGrid2, Qt::Key_C, Qt::AltModifier);
        QCOMPARE(focused(), w.DBGrid1);
        press(w.DBGrid1, Qt::Key_Down);
        QCOMPARE(f.column(f.members(), "NOME"), QStringLiteral("LUCA"));
        // Tab still steps from cell to cell; Ctrl+Tab leaves.
        press(w.DBGrid1, Qt::Key_Tab);
        QCOMPARE(focused(), w.DBGrid1);
        press(w.DBGrid1, Qt::Key_Tab, Qt::ControlModifier);
        QCOMPARE(focused(), w.dbeNome);
        press(w.dbeNome, Qt::Key_C, Qt::AltModifier);
        press(w.DBGrid1, Qt::Key_L, Qt::AltModifier);
        QCOMPARE(focused(), w.DBGrid2);
        // From one list to the other and back: never trapped between them.
        press(w.DBGrid2, Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(focused(), w.dbeNome);
    }

    // The navigator keys act on the panel the focus is in, as a click on the
    // button: the focus stays, an unavailable button does nothing.
    void navigatorKeysFollowThePanel() {
        WindowFixture f;
        TfrmMain& w = f.w();
        WindowFixture::focus(w.dbeCognome);
        press(w.dbeCognome, Qt::Key_PageDown, Qt::AltModifier);
        QCOMPARE(f.column(f.members(), "NOME"), QStringLiteral("LUCA"));
        QCOMPARE(f.column(f.nucleo(), "CODICE_NUCLEO"), QStringLiteral("QX100"));
        QCOMPARE(focused(), w.dbeCognome);
        press(w.dbeCognome, Qt::Key_Home, Qt::AltModifier);
        QCOMPARE(f.column(f.members(), "NOME"), QStringLiteral("ANNA"));

        WindowFixture::focus(w.btnNewNucleo);
        press(w.btnNewNucleo, Qt::Key_End, Qt::AltModifier);
        QCOMPARE(f.column(f.nucleo(), "CODICE_NUCLEO"), QStringLiteral("QX300"));
        press(w.btnNewNucleo, Qt::Key_PageUp, Qt::AltModifier);
        QCOMPARE(f.column(f.nucleo(), "CODICE_NUCLEO"), QStringLiteral("QX200"));
        press(w.btnNewNucleo, Qt::Key_F5);
        QCOMPARE(f.column(f.nucleo(), "CODICE_NUCLEO"), QStringLiteral("QX200"));
        QCOMPARE(focused(), w.btnNewNucleo);
        // At the beginning, Primo and Precedente are unavailable: nothing moves.
        press(w.btnNewNucleo, Qt::Key_Home, Qt::AltModifier);
        press(w.btnNewNucleo, Qt::Key_PageUp, Qt::AltModifier);
        QCOMPARE(f.column(f.nucleo(), "CODICE_NUCLEO"), QStringLiteral("QX100"));

        // The buttons tell their keys to a screen reader.
        QCOMPARE(w.DBNavigator1->button(DBNavigator::Next)->accessibleDescription(),
                 QStringLiteral("Scorciatoia: Alt+Pag Giù"));
        QVERIFY(f.dialogs.shown.isEmpty());
    }

    // What a screen reader reads of the two family-code labels, in process:
    // the caption and the code in the name, the code as the label's text.
    void codeLabelsCarryTheCode() {
        WindowFixture f;
        TfrmMain& w = f.w();
        for (DBLabel* label : {w.edtCodiceNucleo, w.dbeNucleoAnag}) {
            QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(label);
            QVERIFY(iface && iface->textInterface());
            QCOMPARE(iface->text(QAccessible::Name), QStringLiteral("Codice Nucleo QX100"));
            QCOMPARE(iface->textInterface()->text(0, -1), QStringLiteral("QX100"));
            QCOMPARE(iface->textInterface()->characterCount(), 5);
            QCOMPARE(iface->textInterface()->text(2, 4), QStringLiteral("10"));
            // The caption beside it labels it.
            const auto labels = iface->relations(QAccessible::Label);
            QCOMPARE(labels.size(), 1);
            QCOMPARE(labels.first().first->text(QAccessible::Name),
                     QStringLiteral("Codice Nucleo"));
        }
        QTest::keyClick(w.edtDescNucleo, Qt::Key_N, Qt::ControlModifier | Qt::ShiftModifier);
        const QString code = w.edtCodiceNucleo->caption();
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w.edtCodiceNucleo);
        QCOMPARE(iface->text(QAccessible::Name), QStringLiteral("Codice Nucleo ") + code);
        QCOMPARE(iface->textInterface()->text(0, -1), code);
        // Nothing to show: the name alone.
        QAccessibleInterface* member = QAccessible::queryAccessibleInterface(w.dbeNucleoAnag);
        QCOMPARE(member->text(QAccessible::Name), QStringLiteral("Codice Nucleo"));
        QCOMPARE(member->textInterface()->characterCount(), 0);
    }
};

MARVESA_TEST_MAIN(TstKeyboard)
#include "tst_keyboard.moc"
