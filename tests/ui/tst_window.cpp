// The main window as a whole: its layout, the command-state controller, the
// grids and navigators, the tab order, the close request and the exit.

#include <QHeaderView>
#include <QLabel>
#include <QSignalSpy>
#include <QToolButton>
#include <QtTest>

#include "support/TestApplication.h"
#include "ui/DBGrid.h"
#include "ui/WindowFixture.h"

using namespace marvesa;
using namespace marvesa::test;

namespace {

struct Place {
    const char* name;
    int left, top, width, height;
};

// The window's rectangles, labels and controls where the operator finds
// them, in pixels at 96 dpi.
const Place kExpected[] = {
    {"Shape2", 25, 16, 903, 25}, {"Shape1", 25, 41, 903, 320}, {"Shape6", 41, 152, 424, 25},
    {"Shape5", 41, 178, 424, 167}, {"Shape4", 25, 372, 903, 25}, {"Shape3", 26, 398, 903, 323},
    {"Label20", 41, 20, 127, 18}, {"Label1", 42, 57, 77, 13}, {"Label2", 41, 110, 127, 13},
    {"Label13", 490, 110, 63, 13}, {"Label24", 49, 154, 217, 18}, {"Label11", 49, 192, 90, 13},
    {"Label25", 49, 240, 46, 13}, {"Label12", 212, 239, 49, 13}, {"Label26", 49, 294, 279, 13},
    {"Label19", 342, 294, 104, 13}, {"Label9", 40, 375, 374, 18}, {"Label3", 43, 414, 77, 13},
    {"Label4", 42, 474, 53, 13}, {"Label5", 304, 475, 32, 13}, {"Label6", 565, 475, 33, 13},
    {"Label7", 619, 475, 71, 13}, {"Label8", 712, 475, 88, 13}, {"Label10", 42, 525, 71, 13},
    {"Label14", 303, 525, 85, 13}, {"Label16", 473, 525, 80, 13}, {"Label17", 566, 525, 166, 13},
    {"Label21", 44, 573, 108, 13}, {"Label18", 720, 573, 147, 13},
    {"edtCodiceNucleo", 42, 76, 97, 16}, {"DBNavigator2", 205, 51, 260, 25},
    {"btnNewNucleo", 488, 51, 79, 46}, {"btnEditNucleo", 573, 51, 79, 46},
    {"btnAnnNucleo", 658, 51, 79, 46}, {"btnEliminaNucleo", 743, 52, 90, 45},
    {"btnSaveNucleo", 839, 51, 66, 46}, {"edtDescNucleo", 40, 128, 425, 21},
    {"DBGrid2", 488, 129, 417, 216}, {"dbeOspite", 49, 211, 400, 21}, {"dbeComune", 49, 256, 157, 21},
    {"dbeIndirizzo", 212, 256, 237, 21}, {"dbeTelefono", 49, 313, 287, 21},
    {"dbeDataTermine", 342, 313, 104, 21}, {"DBEdit1", 179, 411, 45, 21},
    {"dbeNucleoAnag", 44, 433, 95, 17}, {"btnNewAnag", 242, 409, 80, 50}, {"btnEditAnag", 328, 409, 80, 50},
    {"btnDelAnag", 414, 409, 80, 50}, {"btnAnagAnnulla", 501, 409, 80, 50}, {"btnSaveAnag", 587, 409, 80, 50},
    {"btnExport", 673, 409, 80, 50}, {"btnExit", 759, 409, 146, 50}, {"dbeCognome", 42, 490, 255, 21},
    {"dbeNome", 304, 490, 256, 21}, {"dbeSesso", 564, 489, 47, 22}, {"dbeDataNascita", 617, 490, 89, 21},
    {"dbeNazNascita", 712, 490, 193, 21}, {"dbeCittadinanza", 42, 542, 255, 21},
    {"dbeParentela", 303, 541, 162, 22}, {"dbeDataIngresso", 473, 541, 87, 21},
    {"dbeFrontiera", 566, 541, 339, 21}, {"DBGrid1", 41, 589, 662, 111}, {"DBMemo2", 720, 589, 185, 79},
    {"DBNavigator1", 720, 675, 185, 25},
};

const char* const kTabOrder[] = {
    "edtDescNucleo",  "dbeOspite",      "dbeComune",     "dbeIndirizzo",   "dbeTelefono",   "dbeDataTermine",
    "dbeCognome",     "dbeNome",        "dbeSesso",      "dbeDataNascita", "dbeNazNascita", "dbeCittadinanza",
    "dbeParentela",   "dbeDataIngresso", "dbeFrontiera", "DBMemo2",        "btnNewNucleo",  "btnSaveNucleo",
    "btnEditNucleo",  "btnNewAnag",     "btnEditAnag",   "btnSaveAnag",    "btnDelAnag",    "btnExport",
    "btnExit",        "btnAnagAnnulla", "btnAnnNucleo",  "btnEliminaNucleo",
};

// Enabled flags of the twelve command buttons as one string, in the order
// New, Edit, Annulla, Salva, Elimina (family); New, Edit, Annulla, Salva,
// Elimina (member); Esporta; Chiudi: E enabled, D disabled.
QString buttonStates(const TfrmMain& w) {
    QString s;
    for (const QPushButton* b : {w.btnNewNucleo, w.btnEditNucleo, w.btnAnnNucleo, w.btnSaveNucleo,
                                 w.btnEliminaNucleo, w.btnNewAnag, w.btnEditAnag, w.btnAnagAnnulla,
                                 w.btnSaveAnag, w.btnDelAnag, w.btnExport, w.btnExit}) {
        s += b->isEnabled() ? QLatin1Char('E') : QLatin1Char('D');
    }
    return s;
}

const QString kBrowsing = QStringLiteral("EEDDEEEDDEEE");
const QString kFamilyEditing = QStringLiteral("DDEEDDDDDDDD");
const QString kMemberEditing = QStringLiteral("DDDDDDDEEDDD");

QColor textColor(const QWidget* w) { return w->palette().color(QPalette::WindowText); }

}  // namespace

class TstWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { TemplateDatabase::path(); }

    void layoutMatchesTheDesign() {
        WindowFixture f;
        TfrmMain& w = f.w();
        QCOMPARE(w.objectName(), QStringLiteral("frmMain"));
        QCOMPARE(w.windowTitle(), QStringLiteral("Gestione Emergenza Marvesa"));
        QCOMPARE(w.size(), QSize(951, 737));
        QCOMPARE(w.minimumSize(), QSize(951, 737));
        QCOMPARE(w.maximumSize(), QSize(951, 737));
        QVERIFY(!(w.windowFlags() & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(w.windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(w.windowFlags() & Qt::WindowCloseButtonHint);
        QCOMPARE(w.palette().color(QPalette::Window), QColor(0xD7, 0xDF, 0xE8));

        for (const Place& p : kExpected) {
            const QWidget* c = w.findChild<QWidget*>(QString::fromLatin1(p.name));
            QVERIFY2(c, p.name);
            QCOMPARE(c->geometry(), QRect(p.left, p.top, p.width, p.height));
        }

        // Shapes lie beneath everything: they are the first children.
        const QObjectList children = w.children();
        for (int i = 0; i < 6; ++i) QVERIFY(children.at(i)->objectName().startsWith(QLatin1String("Shape")));

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
        QCOMPARE(w.dbeCognome->palette().color(QPalette::Text), QApplication::palette().color(QPalette::Text));
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
        for (const Place& p : kExpected) {
            const QWidget* c = w.findChild<QWidget*>(QString::fromLatin1(p.name));
            if (!QByteArray(p.name).startsWith("Shape") && !QByteArray(p.name).startsWith("Label")) {
                QVERIFY2(!c->accessibleName().isEmpty(), p.name);
            }
        }

        // The drop-down items.
        QCOMPARE(w.dbeSesso->count(), 2);
        QCOMPARE(w.dbeParentela->count(), 16);
        QCOMPARE(w.dbeParentela->itemText(0), QStringLiteral("Capo Nucleo"));
        QCOMPARE(w.dbeParentela->itemText(11), QStringLiteral("Nipote di Nonna/Nonno"));
        QCOMPARE(w.dbeParentela->itemText(15), QStringLiteral("Zio/Zia"));

        // Grid columns, titles, widths and looks.
        const QAbstractItemModel* families = w.DBGrid2->model();
        QCOMPARE(families->columnCount(), 2);
        QCOMPARE(families->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Codice Nucleo"));
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
        QVERIFY(w.DBGrid1->columnWidth(2) >
                QFontMetrics(w.DBGrid1->horizontalHeader()->font()).horizontalAdvance(QStringLiteral("Sesso")));
        QCOMPARE(members->headerData(0, Qt::Horizontal, Qt::ForegroundRole).value<QColor>(),
                 QColor(0x00, 0x5B, 0x96));
        QVERIFY(w.DBGrid1->horizontalHeader()->font().bold());
        QVERIFY(w.DBGrid1->rowLines());
        QVERIFY(!w.DBGrid2->rowLines());
        QCOMPARE(members->data(members->index(0, 0), Qt::ForegroundRole).value<QColor>(), QColor(Qt::black));

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
        QCOMPARE(w.dbeDataTermine->text(), QStringLiteral("  /  /    "));
        QCOMPARE(w.dbeDataTermine->shownText(), QString());
        QCOMPARE(w.dbeNucleoAnag->caption(), QStringLiteral("QX100"));
        QCOMPARE(w.dbeCognome->text(), QStringLiteral("ROSSI"));
        QCOMPARE(w.dbeNome->text(), QStringLiteral("ANNA"));
        // A lower-case "f" shows as the item "F".
        QCOMPARE(w.dbeSesso->text(), QStringLiteral("F"));
        QCOMPARE(w.dbeDataNascita->text(), QStringLiteral("04/03/1980"));
        QCOMPARE(w.dbeNazNascita->text(), QStringLiteral("Albania"));
        QCOMPARE(w.dbeParentela->text(), QStringLiteral("Capo Nucleo"));
        QCOMPARE(w.dbeDataIngresso->text(), QStringLiteral("01/03/2022"));
        QCOMPARE(w.DBMemo2->text(), QStringLiteral("nessuna"));
        QCOMPARE(w.DBGrid2->model()->rowCount(), 3);
        QCOMPARE(w.DBGrid1->model()->rowCount(), 2);
        QCOMPARE(w.DBGrid1->model()->data(w.DBGrid1->model()->index(0, 3)).toString(), QStringLiteral("04/03/1980"));
        QCOMPARE(w.DBGrid2->model()->headerData(0, Qt::Vertical).toString(), QString(QChar(0x25B6)));
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

        // Closing the tables empties the controls.
        f.dm->closeDataStore();
        QCOMPARE(w.edtDescNucleo->text(), QString());
        QCOMPARE(w.edtCodiceNucleo->caption(), QString());
        QCOMPARE(w.DBGrid2->model()->rowCount(), 0);
        QCOMPARE(w.dbeSesso->text(), QString());
        QVERIFY(!w.DBNavigator2->button(DBNavigator::Refresh)->isEnabled());
    }

    void unopenedStoreLeavesEverythingEmpty() {
        WindowFixture f(false);
        TfrmMain& w = f.w();
        // No state-change handler ran: the buttons stay as laid out.
        QCOMPARE(buttonStates(w), QStringLiteral("EEEEEEEEEEEE"));
        QCOMPARE(w.edtDescNucleo->text(), QString());
        QCOMPARE(w.dbeDataTermine->shownText(), QString());
        QCOMPARE(w.dbeDataTermine->text(), QStringLiteral("  /  /    "));
        for (DBNavigator* nav : {w.DBNavigator2, w.DBNavigator1}) {
            for (int i = 0; i < DBNavigator::ButtonCount; ++i) {
                QVERIFY(!nav->button(DBNavigator::Button(i))->isEnabled());
            }
        }
    }

    void commandStatesFollowTheTables() {
        WindowFixture f;
        TfrmMain& w = f.w();
        QCOMPARE(buttonStates(w), kBrowsing);

        f.nucleo().insert();
        QCOMPARE(buttonStates(w), kFamilyEditing);
        f.nucleo().cancel();
        QCOMPARE(buttonStates(w), kBrowsing);
        f.nucleo().edit();
        QCOMPARE(buttonStates(w), kFamilyEditing);
        f.nucleo().cancel();

        f.members().edit();
        QCOMPARE(buttonStates(w), kMemberEditing);
        f.members().cancel();
        QCOMPARE(buttonStates(w), kBrowsing);
        f.members().insert();
        QCOMPARE(buttonStates(w), kMemberEditing);

        // An insert of a family unit while a member is edited: the member
        // table returns to dsBrowse first, then the family table inserts.
        f.nucleo().insert();
        QCOMPARE(buttonStates(w), kFamilyEditing);

        // Returning either table to dsBrowse restores the browsing set.
        f.nucleo().cancel();
        QCOMPARE(buttonStates(w), kBrowsing);

        // Closing changes nothing.
        f.members().edit();
        f.dm->closeDataStore();
        QCOMPARE(buttonStates(w), kBrowsing);
    }

    void initialFocusAndTabOrder() {
        WindowFixture f;
        TfrmMain& w = f.w();
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w.edtDescNucleo));
        // TBL_NUCLEO browses: the description refuses typing.
        QTest::keyClicks(w.edtDescNucleo, QStringLiteral("xyz"));
        QCOMPARE(w.edtDescNucleo->text(), QStringLiteral("ROSSI"));

        // The full cycle, every button enabled.
        for (CommandButton* b : w.commandButtons()) b->setEnabled(true);
        for (int lap = 0; lap < 2; ++lap) {
            for (const char* name : kTabOrder) {
                QCOMPARE(QApplication::focusWidget()->objectName(), QString::fromLatin1(name));
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            }
        }
        // Backwards with Shift+Tab.
        QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("edtDescNucleo"));
        for (int i = int(std::size(kTabOrder)) - 1; i >= 0; --i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ShiftModifier);
            QCOMPARE(QApplication::focusWidget()->objectName(), QString::fromLatin1(kTabOrder[i]));
        }

        // Disabled buttons are skipped: in the browsing set the four "Salva"
        // and "Annulla" buttons.
        f.nucleo().edit();
        f.nucleo().cancel();
        QStringList visited;
        WindowFixture::focus(w.btnNewNucleo);
        do {
            visited << QApplication::focusWidget()->objectName();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        } while (QApplication::focusWidget() != w.btnNewNucleo && visited.size() < 40);
        QCOMPARE(visited.size(), 24);
        for (const char* skipped : {"btnSaveNucleo", "btnAnnNucleo", "btnSaveAnag", "btnAnagAnnulla", "DBGrid1",
                                    "DBGrid2", "DBEdit1", "DBNavigator1"}) {
            QVERIFY2(!visited.contains(QString::fromLatin1(skipped)), skipped);
        }
    }

    void gridClickFollowsTheFamilyUnit() {
        WindowFixture f;
        TfrmMain& w = f.w();
        clickGridRow(w.DBGrid2, 1);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w.DBGrid2));
        QCOMPARE(f.nucleo().currentRow(), 1);
        QCOMPARE(w.edtCodiceNucleo->caption(), QStringLiteral("QX200"));
        QCOMPARE(w.DBGrid1->model()->rowCount(), 1);
        QCOMPARE(w.DBGrid1->model()->data(w.DBGrid1->model()->index(0, 1)).toString(), QStringLiteral("PIA"));
        QCOMPARE(w.dbeCognome->text(), QStringLiteral("VERDI"));
        QCOMPARE(w.dbeNucleoAnag->caption(), QStringLiteral("QX200"));
        QCOMPARE(w.DBGrid2->currentIndex().row(), 1);

        // Keys move the current row while the grid has the focus.
        QTest::keyClick(w.DBGrid2, Qt::Key_Down);
        QCOMPARE(w.edtDescNucleo->text(), QStringLiteral("NERI"));
        QCOMPARE(w.DBGrid1->model()->rowCount(), 0);
        QCOMPARE(w.dbeCognome->text(), QString());
        QTest::keyClick(w.DBGrid2, Qt::Key_Home);
        QCOMPARE(f.nucleo().currentRow(), 0);
        QVERIFY(f.nucleo().bof());
        QTest::keyClick(w.DBGrid2, Qt::Key_End);
        QCOMPARE(f.nucleo().currentRow(), 2);
        QVERIFY(f.nucleo().eof());
        QTest::keyClick(w.DBGrid2, Qt::Key_PageUp);
        QCOMPARE(f.nucleo().currentRow(), 0);
        QTest::keyClick(w.DBGrid2, Qt::Key_PageDown);
        QCOMPARE(f.nucleo().currentRow(), 2);
        QTest::keyClick(w.DBGrid2, Qt::Key_Up);
        QCOMPARE(f.nucleo().currentRow(), 1);

        // Tab steps through the cells, on to the next row after the last.
        QCOMPARE(w.DBGrid2->currentIndex().column(), 0);
        QTest::keyClick(w.DBGrid2, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w.DBGrid2));
        QCOMPARE(w.DBGrid2->currentIndex().column(), 1);
        QTest::keyClick(w.DBGrid2, Qt::Key_Tab);
        QCOMPARE(f.nucleo().currentRow(), 2);
        QCOMPARE(w.DBGrid2->currentIndex().column(), 0);
        QTest::keyClick(w.DBGrid2, Qt::Key_Tab, Qt::ShiftModifier);
        QCOMPARE(f.nucleo().currentRow(), 1);
        QCOMPARE(w.DBGrid2->currentIndex().column(), 1);

        // A click on a title moves nothing; the indicator cell moves the row.
        const QHeaderView* titles = w.DBGrid2->horizontalHeader();
        QTest::mouseClick(titles->viewport(), Qt::LeftButton, Qt::NoModifier,
                          QPoint(titles->sectionViewportPosition(0) + 5, titles->height() / 2));
        QCOMPARE(f.nucleo().currentRow(), 1);
        QHeaderView* indicator = w.DBGrid2->verticalHeader();
        QTest::mouseClick(indicator->viewport(), Qt::LeftButton, Qt::NoModifier,
                          QPoint(indicator->width() / 2, indicator->sectionViewportPosition(0) + 3));
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
    }

    void navigatorsMoveAndStopAtTheEnds() {
        WindowFixture f;
        TfrmMain& w = f.w();
        auto enabled = [](DBNavigator* nav) {
            QString s;
            for (int i = 0; i < DBNavigator::ButtonCount; ++i) {
                s += nav->button(DBNavigator::Button(i))->isEnabled() ? QLatin1Char('E') : QLatin1Char('D');
            }
            return s;
        };
        // Right after opening: First and Prior unavailable on both.
        QCOMPARE(enabled(w.DBNavigator2), QStringLiteral("DDEEE"));
        QCOMPARE(enabled(w.DBNavigator1), QStringLiteral("DDEEE"));

        QTest::mouseClick(w.DBNavigator2->button(DBNavigator::Next), Qt::LeftButton);
        QCOMPARE(w.edtDescNucleo->text(), QStringLiteral("VERDI"));
        QCOMPARE(enabled(w.DBNavigator2), QStringLiteral("EEEEE"));
        // The member table followed: one member, at its beginning.
        QCOMPARE(w.dbeNome->text(), QStringLiteral("PIA"));
        QCOMPARE(enabled(w.DBNavigator1), QStringLiteral("DDEEE"));
        // Next on a table of one row finds no further row.
        QTest::mouseClick(w.DBNavigator1->button(DBNavigator::Next), Qt::LeftButton);
        QCOMPARE(w.dbeNome->text(), QStringLiteral("PIA"));
        QCOMPARE(enabled(w.DBNavigator1), QStringLiteral("EEDDE"));

        QTest::mouseClick(w.DBNavigator2->button(DBNavigator::Last), Qt::LeftButton);
        QCOMPARE(w.edtDescNucleo->text(), QStringLiteral("NERI"));
        QCOMPARE(enabled(w.DBNavigator2), QStringLiteral("EEDDE"));
        // An empty member table stands at both ends.
        QCOMPARE(enabled(w.DBNavigator1), QStringLiteral("DDDDE"));
        QTest::mouseClick(w.DBNavigator2->button(DBNavigator::Prior), Qt::LeftButton);
        QCOMPARE(w.edtDescNucleo->text(), QStringLiteral("VERDI"));
        QTest::mouseClick(w.DBNavigator2->button(DBNavigator::First), Qt::LeftButton);
        QCOMPARE(w.edtDescNucleo->text(), QStringLiteral("ROSSI"));
        QCOMPARE(enabled(w.DBNavigator2), QStringLiteral("DDEEE"));

        // Refresh reads the rows again and keeps the current one.
        f.nucleo().next();
        {
            TdmMarvesa other;
            other.DataModuleCreate(f.path);
            other.TBL_NUCLEO.next();
            other.TBL_NUCLEO.edit();
            other.TBL_NUCLEO.setFieldValue(QStringLiteral("DENOMINAZIONE"), Value::text(QStringLiteral("VERDI BIS")));
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
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w.dbeNome));
        // The pending edit was ended: the typed text went into the row.
        QCOMPARE(f.members().state(), dsBrowse);
        QCOMPARE(w.dbeNome->text(), QStringLiteral("PIA X "));
        QVERIFY(f.dialogs.shown.isEmpty());
    }

    void closeRequestIsRefusedWhileEditing() {
        WindowFixture f;
        TfrmMain& w = f.w();
        QSignalSpy quit(&w, &TfrmMain::quitRequested);

        f.nucleo().insert();
        QVERIFY(!w.close());
        QVERIFY(w.isVisible());
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
        QVERIFY(f.dialogs.shown.isEmpty());
    }

    void exitClosesTheDataStore() {
        WindowFixture f;
        TfrmMain& w = f.w();
        QSignalSpy quit(&w, &TfrmMain::quitRequested);
        QTest::mouseClick(w.btnExit, Qt::LeftButton);
        QCOMPARE(quit.count(), 1);
        QCOMPARE(f.nucleo().state(), dsInactive);
        QCOMPARE(f.members().state(), dsInactive);
        QCOMPARE(f.dm->TBL_COMUNI.state(), dsInactive);
        QCOMPARE(f.dm->TBL_EXPORT.state(), dsBrowse);
        QVERIFY(!f.dm->cnQuaz.isConnected());
        QCOMPARE(w.edtDescNucleo->text(), QString());
        QCOMPARE(w.dbeCognome->text(), QString());
        // Closing changes none of the buttons.
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

    void leavingAGridAbandonsAnUntouchedNewRow() {
        WindowFixture f;
        TfrmMain& w = f.w();
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
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w.DBGrid2));
        QCOMPARE(f.nucleo().state(), dsBrowse);  // the move itself ended the empty insert
    }
};

MARVESA_TEST_MAIN(TstWindow)
#include "tst_window.moc"
