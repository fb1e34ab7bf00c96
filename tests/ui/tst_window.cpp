// The main window as a whole: its layout, the command-state controller, the
// family grid and the navigators, the tab order and the close request.

#include <QLabel>
#include <QSignalSpy>
#include <QToolButton>
#include <QtTest>
#include <functional>

#include "support/TestApplication.h"
#include "support/WindowFixture.h"
#include "ui/window/WindowLayout.h"

using namespace marvesa;
using namespace marvesa::test;

namespace {

// The tab stops in the order Tab walks them.
const char* const kTabOrder[] = {
    "edtDescNucleo",  "dbeOspite",       "dbeComune",        "dbeIndirizzo",    "dbeTelefono",
    "dbeDataTermine", "dbeCognome",      "dbeNome",          "dbeSesso",        "dbeDataNascita",
    "dbeNazNascita",  "dbeCittadinanza", "dbeParentela",     "dbeDataIngresso", "dbeFrontiera",
    "DBMemo2",        "btnNewNucleo",    "btnSaveNucleo",    "btnEditNucleo",   "btnNewAnag",
    "btnEditAnag",    "btnSaveAnag",     "btnDelAnag",       "btnExport",       "btnExit",
    "btnAnagAnnulla", "btnAnnNucleo",    "btnEliminaNucleo",
};

// Enabled flags as one string, E enabled, D disabled.
QString enabledFlags(const std::vector<const QWidget*>& widgets) {
    QString flags;
    for (const QWidget* w : widgets) {
        flags += QLatin1Char(w->isEnabled() ? 'E' : 'D');
    }
    return flags;
}

// The twelve command buttons: New, Edit, Annulla, Salva, Elimina of the
// family panel, the same of the member panel, Esporta, Chiudi.
QString buttonStates(const TfrmMain& w) {
    return enabledFlags({w.btnNewNucleo, w.btnEditNucleo, w.btnAnnNucleo, w.btnSaveNucleo,
                         w.btnEliminaNucleo, w.btnNewAnag, w.btnEditAnag, w.btnAnagAnnulla,
                         w.btnSaveAnag, w.btnDelAnag, w.btnExport, w.btnExit});
}

// A navigator's First, Prior, Next, Last and Refresh.
QString navigatorStates(const DBNavigator* nav) {
    return enabledFlags({nav->button(DBNavigator::First), nav->button(DBNavigator::Prior),
                         nav->button(DBNavigator::Next), nav->button(DBNavigator::Last),
                         nav->button(DBNavigator::Refresh)});
}

const QString kBrowsing = QStringLiteral("EEDDEEEDDEEE");
const QString kFamilyEditing = QStringLiteral("DDEEDDDDDDDD");
const QString kMemberEditing = QStringLiteral("DDDDDDDEEDDD");

}  // namespace

class TstWindow : public QObject {
    Q_OBJECT

private slots:
    void layoutMatchesTheDesign() {
        WindowFixture f;
        TfrmMain& w = f.w();
        QCOMPARE(w.windowTitle(), QStringLiteral("Gestione Emergenza Marvesa"));
        QCOMPARE(w.size(), QSize(951, 737));
        QCOMPARE(w.minimumSize(), w.maximumSize());
        QVERIFY(!(w.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        QCOMPARE(w.palette().color(QPalette::Window), QColor(0xD7, 0xDF, 0xE8));

        // Every rectangle, label and control where the window's tables put it.
        for (const layout::ShapeEntry& shape : layout::shapes()) {
            const QWidget* c = w.findChild<QWidget*>(QString::fromLatin1(shape.name));
            QVERIFY2(c, shape.name);
            QCOMPARE(c->geometry(), shape.rect);
        }
        for (const layout::LabelEntry& label : layout::labels()) {
            const QLabel* c = w.findChild<QLabel*>(QString::fromLatin1(label.name));
            QVERIFY2(c, label.name);
            QCOMPARE(c->geometry(), label.rect);
            QCOMPARE(c->text(), QString::fromUtf8(label.caption));
        }
        for (const layout::ControlEntry& control : layout::controls()) {
            const QWidget* c = w.findChild<QWidget*>(QString::fromLatin1(control.name));
            QVERIFY2(c, control.name);
            QCOMPARE(c->geometry(), control.rect);
        }

        // Text colours, one control or label of each.
        const std::pair<const char*, QColor> colors[] = {
            {"edtDescNucleo", QColor(0x00, 0x80, 0x00)},
            {"dbeCognome", QApplication::palette().color(QPalette::WindowText)},
            {"Label20", QApplication::palette().color(QPalette::HighlightedText)},
            {"Label14", QColor(0x00, 0x5B, 0x96)},
            {"Label19", QColor(0xFF, 0x00, 0x00)},
        };
        for (const auto& [name, color] : colors) {
            const QWidget* c = w.findChild<QWidget*>(QString::fromLatin1(name));
            QCOMPARE(c->palette().color(QPalette::WindowText), color);
        }
    }

    // The buttons follow the tables' states; the close box is refused,
    // without a message, while either table edits.
    void commandStatesAndCloseFollowTheTables() {
        WindowFixture f;
        TfrmMain& w = f.w();
        QSignalSpy quit(&w, &TfrmMain::quitRequested);
        QCOMPARE(buttonStates(w), kBrowsing);
        const std::pair<std::function<void()>, QString> steps[] = {
            {[&] { f.nucleo().insert(); }, kFamilyEditing},
            {[&] { f.nucleo().cancel(); }, kBrowsing},
            {[&] { f.nucleo().edit(); }, kFamilyEditing},
            {[&] { f.nucleo().cancel(); }, kBrowsing},
            {[&] { f.members().edit(); }, kMemberEditing},
            {[&] { f.members().cancel(); }, kBrowsing},
            {[&] { f.members().insert(); }, kMemberEditing},
            // The member table returns to dsBrowse first, then the family
            // table inserts.
            {[&] { f.nucleo().insert(); }, kFamilyEditing},
            {[&] { f.nucleo().cancel(); }, kBrowsing},
        };
        for (const auto& [step, expected] : steps) {
            step();
            const int quits = quit.count();
            w.close();
            QCOMPARE(quit.count(), quits + (expected == kBrowsing ? 1 : 0));
            QCOMPARE(buttonStates(w), expected);
        }
        QVERIFY(f.dialogs.shown.isEmpty());
    }

    // The focus starts in the description; with every button enabled, Tab
    // walks the whole order back to the start.
    void initialFocusAndTabOrder() {
        WindowFixture f;
        for (CommandButton* b : f.w().commandButtons()) {
            b->setEnabled(true);
        }
        for (const char* name : kTabOrder) {
            QCOMPARE(focused()->objectName(), QString::fromLatin1(name));
            tab(focused());
        }
        QCOMPARE(focused(), f.w().edtDescNucleo);
    }

    void gridAndNavigatorsMoveTheTables() {
        WindowFixture f;
        TfrmMain& w = f.w();
        // Right after opening, both tables stand at their beginning.
        QCOMPARE(navigatorStates(w.DBNavigator2), QStringLiteral("DDEEE"));
        QCOMPARE(navigatorStates(w.DBNavigator1), QStringLiteral("DDEEE"));

        // Another family unit clicked: its members and its first member.
        clickGridRow(w.DBGrid2, 1);
        QCOMPARE(w.DBGrid1->model()->rowCount(), 1);
        QCOMPARE(w.dbeNome->text(), QStringLiteral("PIA"));
        QCOMPARE(navigatorStates(w.DBNavigator2), QStringLiteral("EEEEE"));

        // Next on a table of one row finds no further row.
        QTest::mouseClick(w.DBNavigator1->button(DBNavigator::Next), Qt::LeftButton);
        QCOMPARE(w.dbeNome->text(), QStringLiteral("PIA"));
        QCOMPARE(navigatorStates(w.DBNavigator1), QStringLiteral("EEDDE"));

        // The last family unit has no members: that table stands at both ends.
        QTest::mouseClick(w.DBNavigator2->button(DBNavigator::Last), Qt::LeftButton);
        QCOMPARE(navigatorStates(w.DBNavigator1), QStringLiteral("DDDDE"));
    }
};

MARVESA_TEST_MAIN(TstWindow)
#include "tst_window.moc"
