// The main window as a whole: its layout, the command-state controller, the
// grids and navigators, the tab order, the close request and the exit.

#include <QHeaderView>
#include <QLabel>
#include <QSignalSpy>
#include <QToolButton>
#include <QtTest>
#include <functional>

#include "support/TestApplication.h"
#include "ui/DBGrid.h"
#include "ui/WindowFixture.h"
#include "ui/WindowLayout.h"

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

QLatin1Char enabledFlag(const QWidget* w) {
    return QLatin1Char(w->isEnabled() ? 'E' : 'D');
}

// Enabled flags of the twelve command buttons as one string, in the order
// New, Edit, Annulla, Salva, Elimina (family); New, Edit, Annulla, Salva,
// Elimina (member); Esporta; Chiudi: E enabled, D disabled.
QString buttonStates(const TfrmMain& w) {
    QString s;
    for (const QPushButton* b : {w.btnNewNucleo, w.btnEditNucleo, w.btnAnnNucleo, w.btnSaveNucleo,
                                 w.btnEliminaNucleo, w.btnNewAnag, w.btnEditAnag, w.btnAnagAnnulla,
                                 w.btnSaveAnag, w.btnDelAnag, w.btnExport, w.btnExit}) {
        s += enabledFlag(b);
    }
    return s;
}

// The same for a navigator's First, Prior, Next, Last and Refresh.
QString navigatorStates(const DBNavigator* nav) {
    QString s;
    for (int i = 0; i < DBNavigator::ButtonCount; ++i) {
        s += enabledFlag(nav->button(DBNavigator::Button(i)));
    }
    return s;
}

const QString kBrowsing = QStringLiteral("EEDDEEEDDEEE");
const QString kFamilyEditing = QStringLiteral("DDEEDDDDDDDD");
const QString kMemberEditing = QStringLiteral("DDDDDDDEEDDD");

QColor textColor(const QWidget* w) {
    return w->palette().color(QPalette::WindowText);
}

}  // namespace

class TstWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { TemplateDatabase::path(); }

    void layoutMatchesTheDesign() {
        WindowFixture f;
        TfrmMain& w = f.w();
        QCOMPARE(w.windowTitle(), QStringLiteral("Gestione Emergenza Marvesa"));
        QCOMPARE(w.size(), QSize(951, 737));
        QCOMPARE(w.minimumSize(), w.size());
        QCOMPARE(w.maximumSize(), w.size());
        QVERIFY(!(w.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        QVERIFY(w.windowFlags() & Qt::WindowCloseButtonHint);
        QCOMPARE(w.palette().color(QPalette::Window), QColor(0xD7, 0xDF, 0xE8));

        // Every rectangle, label and control where the window's tables put
        // it; the labels with their captions, the controls with a name for
        // screen readers.
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
            QVERIFY2(!c->accessibleName().isEmpty(), control.name);
        }

        // Shapes lie beneath everything: they are the first children.
        const QObjectList children = w.children();
        for (int i = 0; i < 6; ++i) {
            QVERIFY(children.at(i)->objectName().startsWith(QLatin1String("Shape")));
        }

        // Fonts as pixel heights: 8 pt is 11 px, 10 pt 13 px, 11 pt 15 px.
        QCOMPARE(w.font().pixelSize(), 11);
        QVERIFY(!w.font().bold());
        QCOMPARE(w.font().family(), QStringLiteral("Tahoma"));
        QCOMPARE(w.edtCodiceNucleo->font().pixelSize(), 13);
        QVERIFY(w.edtCodiceNucleo->font().bold());
        QCOMPARE(textColor(w.edtCodiceNucleo), QColor(0x00, 0x80, 0x00));
        QCOMPARE(w.edtDescNucleo->font().pixelSize(), 11);
        QVERIFY(w.edtDescNucleo->font().bold());
        QCOMPARE(w.edtDescNucleo->palette().color(QPalette::Text), QColor(0x00, 0x80, 0x00));
        QVERIFY(w.dbeCognome->font().bold());
        QCOMPARE(w.dbeCognome->palette().color(QPalette::Text),
                 QApplication::palette().color(QPalette::Text));
        QVERIFY(!w.dbeParentela->font().bold());
        QCOMPARE(w.DBMemo2->palette().color(QPalette::Text), QColor(0x00, 0x80, 0x00));

        const auto* header = w.findChild<QLabel*>(QStringLiteral("Label20"));
        QCOMPARE(header->text(), QStringLiteral("Nucleo Familiare"));
        QCOMPARE(header->font().pixelSize(), 15);
        QVERIFY(header->font().bold());
        QCOMPARE(textColor(header), QApplication::palette().color(QPalette::HighlightedText));
        const auto* red = w.findChild<QLabel*>(QStringLiteral("Label19"));
        QCOMPARE(red->text(), QStringLiteral("Termine Ospitalità"));
        QCOMPARE(textColor(red), QColor(0xFF, 0x00, 0x00));
        const auto* caption = w.findChild<QLabel*>(QStringLiteral("Label14"));
        QCOMPARE(caption->text(), QStringLiteral("Grado Parntela"));
        QCOMPARE(caption->font().pixelSize(), 11);
        QCOMPARE(textColor(caption), QColor(0x00, 0x5B, 0x96));

        // Captions, accessible names, the hidden code edit, word wrap.
        QCOMPARE(w.btnEliminaNucleo->text(), QStringLiteral("Elimina"));
        QCOMPARE(w.btnExit->text(), QStringLiteral("Chiudi Programma"));
        QVERIFY(w.btnExit->wordWrap());
        QCOMPARE(w.dbeTelefono->accessibleName(),
                 QStringLiteral("Contatti telefonici (solo numeri separati da spazi)"));
        QCOMPARE(w.btnNewAnag->accessibleName(), QStringLiteral("Nuovo"));
        QVERIFY(w.DBEdit1->isHidden());

        QCOMPARE(w.dbeSesso->count(), 2);
        QCOMPARE(w.dbeParentela->count(), 16);
        QCOMPARE(w.dbeParentela->itemText(0), QStringLiteral("Capo Nucleo"));
        QCOMPARE(w.dbeParentela->itemText(11), QStringLiteral("Nipote di Nonna/Nonno"));

        // Grid columns, titles, widths and looks.
        const QAbstractItemModel* families = w.DBGrid2->model();
        QCOMPARE(families->columnCount(), 2);
        QCOMPARE(families->headerData(0, Qt::Horizontal).toString(),
                 QStringLiteral("Codice Nucleo"));
        QCOMPARE(w.DBGrid2->columnWidth(1), 64);
        // Twenty characters of the cell font, and at least the title.
        const int digit = w.DBGrid2->fontMetrics().horizontalAdvance(QLatin1Char('0'));
        QVERIFY(w.DBGrid2->columnWidth(0) >= 20 * digit);
        QCOMPARE(families->headerData(0, Qt::Horizontal, Qt::ForegroundRole).value<QColor>(),
                 QColor(0x00, 0x80, 0x00));
        const QAbstractItemModel* members = w.DBGrid1->model();
        QCOMPARE(members->columnCount(), 4);
        QCOMPARE(members->headerData(3, Qt::Horizontal).toString(), QStringLiteral("Data Nascita"));
        QCOMPARE(w.DBGrid1->columnWidth(0), 255);
        QCOMPARE(w.DBGrid1->columnWidth(1), 255);
        const QFontMetrics titleFont(w.DBGrid1->horizontalHeader()->font());
        QVERIFY(w.DBGrid1->columnWidth(2) > titleFont.horizontalAdvance(QStringLiteral("Sesso")));
        QCOMPARE(members->headerData(0, Qt::Horizontal, Qt::ForegroundRole).value<QColor>(),
                 QColor(0x00, 0x5B, 0x96));
        QVERIFY(w.DBGrid1->horizontalHeader()->font().bold());
        QVERIFY(w.DBGrid1->rowLines());
        QVERIFY(!w.DBGrid2->rowLines());
        QCOMPARE(members->data(members->index(0, 0), Qt::ForegroundRole).value<QColor>(),
                 QColor(Qt::black));

        // The navigators' five buttons share the width and never take the focus.
        for (DBNavigator* nav : {w.DBNavigator2, w.DBNavigator1}) {
            const int each = nav->width() / 5;
            for (int i = 0; i < 5; ++i) {
                QToolButton* b = nav->button(DBNavigator::Button(i));
                QCOMPARE(b->geometry().left(), i * each);
                QCOMPARE(b->focusPolicy(), Qt::NoFocus);
            }
        }
        QCOMPARE(w.DBNavigator2->button(DBNavigator::First)->width(), 52);
        QCOMPARE(w.DBNavigator1->button(DBNavigator::First)->width(), 37);
    }

    void controlsShowTheCurrentRows() {
        WindowFixture f;
        TfrmMain& w = f.w();
        QCOMPARE(w.edtCodiceNucleo->caption(), QStringLiteral("QX100"));
        QCOMPARE(w.edtDescNucleo->text(), QStringLiteral("ROSSI"));
        QCOMPARE(w.DBEdit1->text(), QStringLiteral("QX100"));
        QCOMPARE(w.dbeComune->text(), QStringLiteral("Abano Terme"));
        QCOMPARE(w.dbeNucleoAnag->caption(), QStringLiteral("QX100"));
        QCOMPARE(w.dbeCognome->text(), QStringLiteral("ROSSI"));
        QCOMPARE(w.dbeNome->text(), QStringLiteral("ANNA"));
        QCOMPARE(w.dbeDataNascita->text(), QStringLiteral("04/03/1980"));
        QCOMPARE(w.dbeDataIngresso->text(), QStringLiteral("01/03/2022"));
        QCOMPARE(w.DBGrid2->model()->rowCount(), 3);
        QCOMPARE(w.DBGrid1->model()->rowCount(), 2);
        QCOMPARE(w.DBGrid1->model()->data(w.DBGrid1->model()->index(0, 3)).toString(),
                 QStringLiteral("04/03/1980"));
        QCOMPARE(w.DBGrid2->model()->headerData(0, Qt::Vertical).toString(),
                 QString(QChar(0x25B6)));
        QCOMPARE(w.DBGrid2->model()->headerData(1, Qt::Vertical).toString(), QString());

        // A relationship that is none of the items: no selection, empty text.
        f.members().next();
        QCOMPARE(w.dbeNome->text(), QStringLiteral("LUCA"));
        QCOMPARE(w.dbeParentela->currentIndex(), -1);
        QCOMPARE(w.dbeParentela->text(), QString());
        QCOMPARE(w.dbeSesso->text(), QStringLiteral("M"));
        QCOMPARE(w.DBMemo2->text(), QString());

        // A municipality that is not in the list shows nothing.
        f.nucleo().next();
        QCOMPARE(w.edtDescNucleo->text(), QStringLiteral("VERDI"));
        QCOMPARE(w.dbeComune->currentIndex(), -1);
        QCOMPARE(w.dbeComune->text(), QString());
        QCOMPARE(w.dbeDataTermine->text(), QStringLiteral("30/06/2025"));

        // The indicator marks editing and inserting.
        f.nucleo().edit();
        QCOMPARE(w.DBGrid2->model()->headerData(1, Qt::Vertical).toString(), QStringLiteral("I"));
        f.nucleo().cancel();
        f.nucleo().insert();
        QCOMPARE(w.DBGrid2->model()->rowCount(), 4);
        QCOMPARE(w.DBGrid2->model()->headerData(1, Qt::Vertical).toString(), QStringLiteral("*"));
        // While a family unit is being created the member panel is empty.
        QCOMPARE(w.DBGrid1->model()->rowCount(), 0);
        QCOMPARE(w.dbeCognome->text(), QString());
        QCOMPARE(w.dbeNucleoAnag->caption(), QString());
        f.nucleo().cancel();
        QCOMPARE(w.dbeCognome->text(), QStringLiteral("VERDI"));
    }

    void unopenedStoreLeavesEverythingEmpty() {
        WindowFixture f(false);
        TfrmMain& w = f.w();
        // No state-change handler ran: the buttons stay as laid out.
        QCOMPARE(buttonStates(w), QStringLiteral("EEEEEEEEEEEE"));
        QCOMPARE(w.edtDescNucleo->text(), QString());
        QCOMPARE(w.dbeDataTermine->shownText(), QString());
        QCOMPARE(w.dbeDataTermine->text(), QStringLiteral("  /  /    "));
        QCOMPARE(navigatorStates(w.DBNavigator2), QStringLiteral("DDDDD"));
        QCOMPARE(navigatorStates(w.DBNavigator1), QStringLiteral("DDDDD"));
    }

    void commandStatesFollowTheTables() {
        WindowFixture f;
        TfrmMain& w = f.w();
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
            {[&] { f.members().edit(); }, kMemberEditing},
            // Closing changes nothing.
            {[&] { f.dm->closeDataStore(); }, kBrowsing},
        };
        for (const auto& [step, expected] : steps) {
            step();
            QCOMPARE(buttonStates(w), expected);
        }
    }

    void initialFocusAndTabOrder() {
        WindowFixture f;
        TfrmMain& w = f.w();
        QCOMPARE(focused()->objectName(), QStringLiteral("edtDescNucleo"));

        // The full cycle, every button enabled, back to the start; then
        // backwards with Shift+Tab.
        for (CommandButton* b : w.commandButtons()) {
            b->setEnabled(true);
        }
        for (const char* name : kTabOrder) {
            QCOMPARE(focused()->objectName(), QString::fromLatin1(name));
            tab(focused());
        }
        QCOMPARE(focused()->objectName(), QStringLiteral("edtDescNucleo"));
        for (int i = int(std::size(kTabOrder)) - 1; i >= 0; --i) {
            QTest::keyClick(focused(), Qt::Key_Tab, Qt::ShiftModifier);
            QCOMPARE(focused()->objectName(), QString::fromLatin1(kTabOrder[i]));
        }

        // Disabled buttons are skipped: in the browsing set the four "Salva"
        // and "Annulla" buttons.
        f.nucleo().edit();
        f.nucleo().cancel();
        QStringList visited;
        WindowFixture::focus(w.btnNewNucleo);
        do {
            visited << focused()->objectName();
            tab(focused());
        } while (focused() != w.btnNewNucleo && visited.size() < 40);
        QCOMPARE(visited.size(), 24);
        for (const char* skipped :
             {"btnSaveNucleo", "btnAnnNucleo", "btnSaveAnag", "btnAnagAnnulla"}) {
            QVERIFY2(!visited.contains(QString::fromLatin1(skipped)), skipped);
        }
    }

    void gridsFollowTheCurrentRowAndEndEdits() {
        WindowFixture f;
        TfrmMain& w = f.w();
        QWidget* const grid = w.DBGrid2;
        clickGridRow(w.DBGrid2, 1);
        QCOMPARE(focused(), grid);
        QCOMPARE(f.nucleo().currentRow(), 1);
        QCOMPARE(w.DBGrid2->currentIndex().row(), 1);
        QCOMPARE(w.edtCodiceNucleo->caption(), QStringLiteral("QX200"));
        QCOMPARE(w.DBGrid1->model()->rowCount(), 1);
        QCOMPARE(w.DBGrid1->model()->data(w.DBGrid1->model()->index(0, 1)).toString(),
                 QStringLiteral("PIA"));
        QCOMPARE(w.dbeCognome->text(), QStringLiteral("VERDI"));
        QCOMPARE(w.dbeNucleoAnag->caption(), QStringLiteral("QX200"));

        // Keys move the current row while the grid has the focus.
        QTest::keyClick(grid, Qt::Key_Down);
        QCOMPARE(w.edtDescNucleo->text(), QStringLiteral("NERI"));
        QCOMPARE(w.DBGrid1->model()->rowCount(), 0);
        QCOMPARE(w.dbeCognome->text(), QString());
        const std::pair<Qt::Key, int> moves[] = {{Qt::Key_Home, 0},
                                                 {Qt::Key_End, 2},
                                                 {Qt::Key_PageUp, 0},
                                                 {Qt::Key_PageDown, 2},
                                                 {Qt::Key_Up, 1}};
        for (const auto& [key, row] : moves) {
            QTest::keyClick(grid, key);
            QCOMPARE(f.nucleo().currentRow(), row);
            QCOMPARE(f.nucleo().bof(), row == 0);
            QCOMPARE(f.nucleo().eof(), row == 2);
        }

        // Tab steps through the cells, on to the next row after the last.
        QCOMPARE(w.DBGrid2->currentIndex().column(), 0);
        tab(grid);
        QCOMPARE(focused(), grid);
        QCOMPARE(w.DBGrid2->currentIndex().column(), 1);
        tab(grid);
        QCOMPARE(f.nucleo().currentRow(), 2);
        QCOMPARE(w.DBGrid2->currentIndex().column(), 0);
        QTest::keyClick(grid, Qt::Key_Tab, Qt::ShiftModifier);
        QCOMPARE(f.nucleo().currentRow(), 1);
        QCOMPARE(w.DBGrid2->currentIndex().column(), 1);

        // A click on a title moves nothing; the indicator cell moves the row.
        const QHeaderView* titles = w.DBGrid2->horizontalHeader();
        QTest::mouseClick(titles->viewport(), Qt::LeftButton, Qt::NoModifier,
                          QPoint(titles->sectionViewportPosition(0) + 5, titles->height() / 2));
        QCOMPARE(f.nucleo().currentRow(), 1);
        const QHeaderView* marks = w.DBGrid2->verticalHeader();
        QTest::mouseClick(marks->viewport(), Qt::LeftButton, Qt::NoModifier,
                          QPoint(marks->width() / 2, marks->sectionViewportPosition(0) + 3));
        QCOMPARE(f.nucleo().currentRow(), 0);
        QCOMPARE(w.DBGrid1->model()->rowCount(), 2);

        // A move ends a member's pending edit: with a change it is stored.
        f.members().edit();
        f.members().setFieldValue(QStringLiteral("NOME"), Value::text(QStringLiteral("ANNALISA")));
        clickGridRow(w.DBGrid2, 2);
        QCOMPARE(f.members().state(), dsBrowse);
        clickGridRow(w.DBGrid2, 0);
        QCOMPARE(w.dbeNome->text(), QStringLiteral("ANNALISA"));
        // Nothing in the grid is editable.
        QCOMPARE(w.DBGrid2->editTriggers(), QAbstractItemView::NoEditTriggers);
        QVERIFY(!(w.DBGrid2->model()->flags(w.DBGrid2->model()->index(0, 0)) & Qt::ItemIsEditable));

        // Leaving a grid abandons an untouched new row.
        clickGridRow(w.DBGrid1, 0);
        f.members().insert();
        QCOMPARE(w.dbeNucleoAnag->caption(), QStringLiteral("QX100"));
        QCOMPARE(w.DBGrid1->model()->rowCount(), 3);
        WindowFixture::focus(w.dbeNome);
        QCOMPARE(f.members().state(), dsBrowse);
        QCOMPARE(w.DBGrid1->model()->rowCount(), 2);

        // A new row with something in it stays.
        clickGridRow(w.DBGrid1, 0);
        f.members().insert();
        f.members().setFieldValue(QStringLiteral("NOME"), Value::text(QStringLiteral("NUOVO")));
        WindowFixture::focus(w.dbeNome);
        QCOMPARE(f.members().state(), dsInsert);
        f.members().cancel();

        // So does a new family unit while the focus merely passes elsewhere.
        clickGridRow(w.DBGrid2, 0);
        f.nucleo().insert();
        QTest::mouseClick(w.DBNavigator2->button(DBNavigator::First), Qt::LeftButton);
        QCOMPARE(focused(), w.DBGrid2);
        QCOMPARE(f.nucleo().state(), dsBrowse);  // the move itself ended the empty insert
    }

    void navigatorsMoveAndStopAtTheEnds() {
        WindowFixture f;
        TfrmMain& w = f.w();
        // Right after opening: First and Prior unavailable on both.
        QCOMPARE(navigatorStates(w.DBNavigator2), QStringLiteral("DDEEE"));
        QCOMPARE(navigatorStates(w.DBNavigator1), QStringLiteral("DDEEE"));

        QTest::mouseClick(w.DBNavigator2->button(DBNavigator::Next), Qt::LeftButton);
        QCOMPARE(w.edtDescNucleo->text(), QStringLiteral("VERDI"));
        QCOMPARE(navigatorStates(w.DBNavigator2), QStringLiteral("EEEEE"));
        // The member table followed: one member, at its beginning.
        QCOMPARE(w.dbeNome->text(), QStringLiteral("PIA"));
        QCOMPARE(navigatorStates(w.DBNavigator1), QStringLiteral("DDEEE"));
        // Next on a table of one row finds no further row.
        QTest::mouseClick(w.DBNavigator1->button(DBNavigator::Next), Qt::LeftButton);
        QCOMPARE(w.dbeNome->text(), QStringLiteral("PIA"));
        QCOMPARE(navigatorStates(w.DBNavigator1), QStringLiteral("EEDDE"));

        QTest::mouseClick(w.DBNavigator2->button(DBNavigator::Last), Qt::LeftButton);
        QCOMPARE(w.edtDescNucleo->text(), QStringLiteral("NERI"));
        QCOMPARE(navigatorStates(w.DBNavigator2), QStringLiteral("EEDDE"));
        // An empty member table stands at both ends.
        QCOMPARE(navigatorStates(w.DBNavigator1), QStringLiteral("DDDDE"));
        QTest::mouseClick(w.DBNavigator2->button(DBNavigator::Prior), Qt::LeftButton);
        QCOMPARE(w.edtDescNucleo->text(), QStringLiteral("VERDI"));
        QTest::mouseClick(w.DBNavigator2->button(DBNavigator::First), Qt::LeftButton);
        QCOMPARE(w.edtDescNucleo->text(), QStringLiteral("ROSSI"));
        QCOMPARE(navigatorStates(w.DBNavigator2), QStringLiteral("DDEEE"));

        // Refresh reads the rows again and keeps the current one.
        f.nucleo().next();
        {
            TdmMarvesa other;
            other.DataModuleCreate(f.path);
            other.TBL_NUCLEO.next();
            other.TBL_NUCLEO.edit();
            other.TBL_NUCLEO.setFieldValue(QStringLiteral("DENOMINAZIONE"),
                                           Value::text(QStringLiteral("VERDI BIS")));
            other.TBL_NUCLEO.post();
            dmMarvesa = f.dm.get();
        }
        QCOMPARE(w.edtDescNucleo->text(), QStringLiteral("VERDI"));
        QTest::mouseClick(w.DBNavigator2->button(DBNavigator::Refresh), Qt::LeftButton);
        QCOMPARE(w.edtDescNucleo->text(), QStringLiteral("VERDI BIS"));
        QCOMPARE(f.nucleo().currentRow(), 1);

        // A navigator button leaves the focus where it is and does not trim.
        f.members().edit();
        WindowFixture::focus(w.dbeNome);
        QTest::keyClicks(w.dbeNome, QStringLiteral(" x "));
        QTest::mouseClick(w.DBNavigator1->button(DBNavigator::Last), Qt::LeftButton);
        QCOMPARE(focused(), w.dbeNome);
        // The pending edit was ended: the typed text went into the row.
        QCOMPARE(f.members().state(), dsBrowse);
        QCOMPARE(w.dbeNome->text(), QStringLiteral("PIA X "));
        QVERIFY(f.dialogs.shown.isEmpty());
    }

    void closeIsRefusedWhileEditingAndExitClosesTheStore() {
        WindowFixture f;
        TfrmMain& w = f.w();
        QSignalSpy quit(&w, &TfrmMain::quitRequested);

        f.nucleo().insert();
        QVERIFY(!w.close());
        QCOMPARE(quit.count(), 0);
        QCOMPARE(f.nucleo().state(), dsInsert);
        f.nucleo().cancel();

        f.members().edit();
        bool canClose = true;
        w.FormCloseQuery(&w, canClose);
        QVERIFY(!canClose);
        QVERIFY(!w.close());
        QCOMPARE(quit.count(), 0);
        QCOMPARE(f.members().state(), dsEdit);
        f.members().cancel();

        // Granted: the quit request goes out; the window itself stays and
        // the tables are still open.
        canClose = true;
        w.FormCloseQuery(&w, canClose);
        QVERIFY(canClose);
        w.close();
        QCOMPARE(quit.count(), 1);
        QVERIFY(w.isVisible());
        QCOMPARE(f.nucleo().state(), dsBrowse);

        // "Chiudi Programma" closes the tables and the connection first,
        // which empties the controls and leaves the buttons as they were.
        QTest::mouseClick(w.btnExit, Qt::LeftButton);
        QCOMPARE(quit.count(), 2);
        QCOMPARE(f.nucleo().state(), dsInactive);
        QCOMPARE(f.members().state(), dsInactive);
        QCOMPARE(f.dm->TBL_COMUNI.state(), dsInactive);
        QCOMPARE(f.dm->TBL_EXPORT.state(), dsBrowse);
        QVERIFY(!f.dm->cnQuaz.isConnected());
        QCOMPARE(w.edtDescNucleo->text(), QString());
        QCOMPARE(w.edtCodiceNucleo->caption(), QString());
        QCOMPARE(w.dbeCognome->text(), QString());
        QCOMPARE(w.dbeSesso->text(), QString());
        QCOMPARE(w.DBGrid2->model()->rowCount(), 0);
        QCOMPARE(navigatorStates(w.DBNavigator2), QStringLiteral("DDDDD"));
        QCOMPARE(buttonStates(w), kBrowsing);
        QVERIFY(f.dialogs.shown.isEmpty());
    }

    void ctrlDeleteInTheMemberGrid() {
        WindowFixture f;
        TfrmMain& w = f.w();
        clickGridRow(w.DBGrid1, 1);
        QCOMPARE(w.dbeNome->text(), QStringLiteral("LUCA"));

        f.dialogs.answerNext(DialogButton::Cancel);
        QTest::keyClick(w.DBGrid1, Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(f.dialogs.shown.size(), 1);
        const DialogRequest asked = f.dialogs.shown.first();
        QCOMPARE(asked.text, QStringLiteral("Delete record?"));
        QCOMPARE(asked.icon, DialogIcon::Question);
        QCOMPARE(asked.buttons, (QList<DialogButton>{DialogButton::Ok, DialogButton::Cancel}));
        QCOMPARE(f.members().rowCount(), 2);

        // Delete alone asks nothing.
        QTest::keyClick(w.DBGrid1, Qt::Key_Delete);
        QCOMPARE(f.dialogs.shown.size(), 1);

        f.dialogs.answerNext(DialogButton::Ok);
        QTest::keyClick(w.DBGrid1, Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(f.dialogs.shown.size(), 2);
        QCOMPARE(f.members().rowCount(), 1);
        QCOMPARE(w.dbeNome->text(), QStringLiteral("ANNA"));
        f.members().refresh();
        QCOMPARE(f.members().rowCount(), 1);
        QCOMPARE(w.DBGrid1->model()->rowCount(), 1);

        // The deletion can be replaced (the family-unit grid deletes members too).
        int handled = 0;
        w.DBGrid1->setDeleteHandler([&] { ++handled; });
        f.dialogs.answerNext(DialogButton::Ok);
        QTest::keyClick(w.DBGrid1, Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(handled, 1);
        QCOMPARE(f.members().rowCount(), 1);

        // With no row, Ctrl+Delete does nothing.
        w.DBGrid1->setDeleteHandler(nullptr);
        f.dialogs.answerNext(DialogButton::Ok);
        QTest::keyClick(w.DBGrid1, Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(f.members().rowCount(), 0);
        const int shown = f.dialogs.shown.size();
        QTest::keyClick(w.DBGrid1, Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(f.dialogs.shown.size(), shown);
    }
};

MARVESA_TEST_MAIN(TstWindow)
#include "tst_window.moc"
