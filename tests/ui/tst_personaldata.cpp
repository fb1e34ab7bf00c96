// The record history, "Storico", "Anonimizza" and "Cancella dati personali"
// through the real window, driven with the mouse and the keyboard.

#include <QCheckBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QSysInfo>
#include <QtTest>

#include "data/base/Workstation.h"
#include "data/registry/Anonymisation.h"
#include "support/DataTestSupport.h"
#include "support/TestApplication.h"
#include "support/WindowFixture.h"
#include "ui/window/OfficeCommands.h"
#include "ui/window/PersonalDataCommands.h"

using namespace marvesa;
using namespace marvesa::test;
using namespace Qt::StringLiterals;

namespace {

void click(QWidget* button) {
    QTest::mouseClick(button, Qt::LeftButton);
}

void typeInto(QWidget* control, const char* text) {
    WindowFixture::focus(control);
    QTest::keyClicks(control, QString::fromUtf8(text));
}

// A key pressed wherever the focus is in the window.
void press(int key, Qt::KeyboardModifiers modifiers) {
    if (QApplication::activeWindow() != frmMain->window())
        QApplication::setActiveWindow(frmMain->window());
    QWidget* target = QApplication::focusWidget();
    if (!target || !frmMain->isAncestorOf(target))
        target = frmMain;
    QTest::keyClick(target, Qt::Key(key), modifiers);
}

// The history rows after `after`: "TABELLA|OPERAZIONE|UTENTE|POSTAZIONE|columns",
// the columns of VALORI that changed, in the table's order.
QStringList historyAfter(Sql& sql, qint64 after) {
    QStringList rows;
    for (const QVariantList& r :
         sql.rows(u"SELECT TABELLA, OPERAZIONE, UTENTE, POSTAZIONE, VALORI FROM TBL_STORICO "
                  "WHERE ID_STORICO > ? ORDER BY ID_STORICO"_s,
                  {after})) {
        const QJsonObject values = QJsonDocument::fromJson(r.at(4).toString().toUtf8()).object();
        const TableDef& t =
            r.at(0).toString() == u"TBL_NUCLEO"_s ? schema::nucleo() : schema::anagrafica();
        QStringList changed;
        for (const ColumnDef& c : t.columns) {
            if (values.contains(c.name))
                changed << c.name;
        }
        rows << QStringList{r.at(0).toString(), r.at(1).toString(), r.at(2).toString(),
                            r.at(3).toString(), changed.join(u',')}
                    .join(u'|');
    }
    return rows;
}

// Who the history names: the server's login, or the file's account.
QString who(Sql& sql) {
    return onServer() ? sql.one(u"SELECT session_user"_s).toString()
                      : Workstation::current().account;
}

}  // namespace

class TstPersonalData : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        // A settings folder of the test's own: "conservazioneMesi" as set here.
        qputenv("XDG_CONFIG_HOME", m_settings.path().toUtf8());
        TemplateDatabase::path();
    }

    // A family unit and a member stored through the window, the member's
    // surname changed, the family unit deleted: exactly these rows, each
    // with the desk's user and computer, the values old and new.
    void theWindowsChangesAreRecorded() {
        WindowFixture f;
        TfrmMain& w = f.w();
        Sql sql(f.path);
        const qint64 before = sql.one(u"SELECT max(ID_STORICO) FROM TBL_STORICO"_s).toLongLong();

        click(w.btnNewNucleo);
        const QString code = w.edtCodiceNucleo->caption();
        typeInto(w.edtDescNucleo, "famiglia prova");
        typeInto(w.dbeOspite, "mario bianchi");
        typeInto(w.dbeComune, "Udine");
        typeInto(w.dbeIndirizzo, "via roma 1");
        typeInto(w.dbeTelefono, "0432 111222");
        click(w.btnSaveNucleo);
        click(w.btnNewAnag);
        typeInto(w.dbeCognome, "rosi");
        typeInto(w.dbeNome, "olena");
        typeInto(w.dbeSesso, "F");
        typeInto(w.dbeDataNascita, "12/05/1984");
        typeInto(w.dbeNazNascita, "Ucraina");
        typeInto(w.dbeCittadinanza, "Ucraina");
        typeInto(w.dbeParentela, "Coniuge");
        typeInto(w.dbeDataIngresso, "04/03/2022");
        typeInto(w.dbeFrontiera, "polonia");
        click(w.btnSaveAnag);
        click(w.btnEditAnag);
        w.dbeCognome->selectAll();
        typeInto(w.dbeCognome, "rossi");
        click(w.btnSaveAnag);
        QVERIFY2(f.dialogs.shown.isEmpty(), qPrintable(f.dialogs.texts().join(u'\n')));

        // "Storico" of the family unit, from its button: newest first.
        PersonalDataCommands* commands = personalDataCommands(w);
        click(commands->historyButton());
        HistoryDialog* dialog = commands->historyDialog();
        QVERIFY(dialog && dialog->isVisible() && dialog->isModal());
        QCOMPARE(dialog->windowTitle(), u"Storico del nucleo familiare "_s + code);
        const QStringList lines = dialog->shownLines();
        QCOMPARE(lines.size(), 3);
        const QString head = u", %1 su %2: "_s.arg(who(sql), QSysInfo::machineHostName());
        QVERIFY2(lines[0].endsWith(head + u"Cognome ROSI → ROSSI (componente ROSSI OLENA)"_s),
                 qPrintable(lines[0]));
        QVERIFY2(lines[1].endsWith(head + u"inserito il componente ROSI OLENA"_s),
                 qPrintable(lines[1]));
        QVERIFY2(lines[2].endsWith(head + u"creato il nucleo familiare "_s + code),
                 qPrintable(lines[2]));
        QCOMPARE(dialog->lines()->accessibleName(), u"Storico delle modifiche"_s);
        QCOMPARE(dialog->status()->text(), u"3 modifiche."_s);
        QTRY_COMPARE(QApplication::focusWidget(), dialog->lines());
        QTest::keyClick(dialog->lines(), Qt::Key_Escape);
        QTRY_VERIFY(!commands->historyDialog());

        // "Elimina": the family unit, then its members, in one transaction.
        f.dialogs.answerNext(DialogButton::Yes);
        click(w.btnEliminaNucleo);
        const QString host = u"|"_s + who(sql) + u"|"_s + QSysInfo::machineHostName() + u"|"_s;
        QCOMPARE(historyAfter(sql, before),
                 (QStringList{
                     u"TBL_NUCLEO|I"_s + host +
                         u"CODICE_NUCLEO,DENOMINAZIONE,DATA_INSERIMENTO,NOME_OSPITANTE,COMUNE,"
                         "INDIRIZZO,TELEFONO"_s,
                     u"TBL_ANAGRAFICA|I"_s + host +
                         u"CODICE_NUCLEO,COGNOME,NOME,SESSO,DATA_NASCITA,NAZIONE_NASCITA,"
                         "CITTADINANZA,GRADO_PARENTELA,COMUNE,INDIRIZZO,DATA_INGRESSO,FRONTIERA,"
                         "TELEFONO,DATA_INSERIMENTO,NOME_OSPITANTE"_s,
                     u"TBL_ANAGRAFICA|U"_s + host + u"COGNOME"_s,
                     u"TBL_NUCLEO|D"_s + host +
                         u"CODICE_NUCLEO,DENOMINAZIONE,DATA_INSERIMENTO,NOME_OSPITANTE,COMUNE,"
                         "INDIRIZZO,TELEFONO"_s,
                     u"TBL_ANAGRAFICA|D"_s + host +
                         u"CODICE_NUCLEO,COGNOME,NOME,SESSO,DATA_NASCITA,NAZIONE_NASCITA,"
                         "CITTADINANZA,GRADO_PARENTELA,COMUNE,INDIRIZZO,DATA_INGRESSO,FRONTIERA,"
                         "TELEFONO,DATA_INSERIMENTO,NOME_OSPITANTE"_s,
                 }));
        QCOMPARE(sql.one(u"SELECT VALORI FROM TBL_STORICO WHERE ID_STORICO > ? ORDER BY "
                         "ID_STORICO LIMIT 1 OFFSET 2"_s,
                         {before})
                     .toString()
                     .remove(u' '),
                 u"{\"COGNOME\":[\"ROSI\",\"ROSSI\"]}"_s);
    }

    // Ctrl+H opens "Storico" of the family unit shown; the administrator (a
    // file's user) may also read the whole history; it is refused while a
    // row is edited; the three buttons sit in the header bars and tell their
    // keys.
    void storicoFromTheKeyboard() {
        WindowFixture f;
        TfrmMain& w = f.w();
        PersonalDataCommands* commands = personalDataCommands(w);
        WindowFixture::focus(w.dbeNome);
        press(Qt::Key_H, Qt::ControlModifier);
        HistoryDialog* dialog = commands->historyDialog();
        QVERIFY(dialog && dialog->isVisible());
        // QX100 and its two members, stored when the registry was made.
        QCOMPARE(dialog->shownLines().size(), 3);
        QVERIFY(dialog->shownLines().last().endsWith(u"creato il nucleo familiare QX100"_s));
        QVERIFY(dialog->wholeHistoryBox());
        dialog->wholeHistoryBox()->setChecked(true);
        QCOMPARE(dialog->shownLines().size(), 6);  // QX300 and QX200 with their member too
        dialog->wholeHistoryBox()->setChecked(false);
        QCOMPARE(dialog->shownLines().size(), 3);
        dialog->reject();
        QTRY_VERIFY(!commands->historyDialog());

        w.btnNewAnag->click();
        press(Qt::Key_H, Qt::ControlModifier);
        click(commands->eraseButton());
        click(commands->anonymiseButton());
        QCOMPARE(f.dialogs.texts(), QStringList(3, kFinishEditingFirst));
        QVERIFY(!commands->historyDialog());
        w.btnAnagAnnulla->click();

        QCOMPARE(commands->historyButton()->geometry(), QRect(614, 18, 72, 21));
        QCOMPARE(commands->anonymiseButton()->geometry(), QRect(528, 18, 86, 21));
        // No button of a header bar covers another (two commands once stood
        // at one place, the one below unreachable by the mouse).
        for (QWidget* bar :
             {commands->historyButton()->parentWidget(), commands->eraseButton()->parentWidget()}) {
            const QList<QPushButton*> buttons =
                bar->findChildren<QPushButton*>(QString(), Qt::FindDirectChildrenOnly);
            for (int i = 0; i < buttons.size(); ++i) {
                for (int j = i + 1; j < buttons.size(); ++j) {
                    QVERIFY2(!buttons[i]->geometry().intersects(buttons[j]->geometry()),
                             qPrintable(buttons[i]->text() + u" / "_s + buttons[j]->text()));
                }
            }
        }
        QCOMPARE(commands->eraseButton()->geometry(), QRect(762, 374, 162, 21));
        for (QPushButton* b :
             {commands->historyButton(), commands->anonymiseButton(), commands->eraseButton()}) {
            QCOMPARE(b->focusPolicy(), Qt::NoFocus);
            QVERIFY(b->isEnabled());
            QVERIFY(!b->accessibleName().isEmpty());
        }
        QVERIFY(commands->historyButton()->toolTip().contains(u"Ctrl+H"_s));
        QVERIFY(commands->anonymiseButton()->toolTip().contains(u"Ctrl+Maiusc+A"_s));
        QVERIFY(commands->eraseButton()->toolTip().contains(u"Ctrl+Maiusc+Canc"_s));
    }

    // "Anonimizza": the family units due after "conservazioneMesi", the
    // preview, the confirmation, the window showing the result; then
    // "Cancella dati personali" of one member after a confirmation naming
    // the person.
    void anonymiseAndErasePersonalData() {
        WindowFixture f;
        TfrmMain& w = f.w();
        PersonalDataCommands* commands = personalDataCommands(w);
        // QX200 ended on 30/06/2025.
        commands->setClock([] { return QDate(2026, 3, 1); });
        QSettings(QSettings::IniFormat, QSettings::UserScope, u"Marvesa"_s, u"Marvesa"_s)
            .setValue(u"conservazioneMesi"_s, 12);
        QCOMPARE(retentionMonths(), 12);
        click(commands->anonymiseButton());
        QCOMPARE(f.dialogs.texts().value(0).left(50),
                 u"Nessun nucleo familiare da anonimizzare: nessuna o"_s);
        QVERIFY(!commands->anonymiseDialog());
        QSettings(QSettings::IniFormat, QSettings::UserScope, u"Marvesa"_s, u"Marvesa"_s)
            .setValue(u"conservazioneMesi"_s, 6);
        f.dialogs.clear();

        press(Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier);
        AnonymiseDialog* dialog = commands->anonymiseDialog();
        QVERIFY(dialog && dialog->isVisible());
        QCOMPARE(dialog->units()->count(), 1);
        QVERIFY2(dialog->units()->item(0)->text().startsWith(u"QX200 · VERDI · ospitante GINO"_s),
                 qPrintable(dialog->units()->item(0)->text()));
        QCOMPARE(dialog->preview()->item(0)->text(),
                 u"QX200: VERDI PIA, nato/a il 02/01/1990 → 01/01/1990"_s);
        // Unchecked, nothing to do.
        dialog->units()->item(0)->setCheckState(Qt::Unchecked);
        QVERIFY(!dialog->anonymiseButton()->isEnabled());
        dialog->units()->item(0)->setCheckState(Qt::Checked);
        f.dialogs.answerNext(DialogButton::Yes);
        click(dialog->anonymiseButton());
        QTRY_VERIFY(!commands->anonymiseDialog());
        QCOMPARE(
            f.dialogs.texts(),
            (QStringList{u"Anonimizzare i dati personali di 1 nucleo familiare (1 "
                         "componente)?\r\rL'operazione non si può annullare."_s,
                         u"Dati personali anonimizzati: 1 nucleo familiare, 1 componente."_s}));
        Sql sql(f.path);
        QCOMPARE(sql.row(u"SELECT DENOMINAZIONE, NOME_OSPITANTE FROM TBL_NUCLEO WHERE "
                         "CODICE_NUCLEO = 'QX200'"_s),
                 u"|"_s);
        QCOMPARE(sql.row(u"SELECT COGNOME, NOME FROM TBL_ANAGRAFICA WHERE CODICE_NUCLEO = "
                         "'QX200'"_s),
                 u"|"_s);
        // The window shows it: the list of family units reads it again.
        f.nucleo().next();
        QCOMPARE(f.column(f.nucleo(), "CODICE_NUCLEO"), u"QX200"_s);
        QCOMPARE(w.edtDescNucleo->text(), QString());
        QCOMPARE(w.dbeNome->text(), QString());
        f.nucleo().first();

        // "Cancella dati personali" of ANNA, after the confirmation naming her.
        f.dialogs.clear();
        QCOMPARE(w.dbeNome->text(), u"ANNA"_s);
        f.dialogs.answerNext(DialogButton::No);
        click(commands->eraseButton());
        QCOMPARE(w.dbeNome->text(), u"ANNA"_s);
        f.dialogs.answerNext(DialogButton::Yes);
        press(Qt::Key_Delete, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(f.dialogs.shown.size(), 3);
        QVERIFY2(f.dialogs.texts().value(1).startsWith(
                     u"Cancellare i dati personali di ROSSI ANNA, nato/a il 04/03/1980, del "
                     "nucleo familiare QX100?"_s),
                 qPrintable(f.dialogs.texts().value(1)));
        QCOMPARE(f.dialogs.shown.value(1).icon, DialogIcon::Question);
        QCOMPARE(f.dialogs.texts().value(2),
                 u"I dati personali del componente sono stati cancellati."_s);
        QCOMPARE(w.dbeNome->text(), QString());
        QCOMPARE(w.dbeDataNascita->text(), u"01/01/1980"_s);
        QCOMPARE(sql.count(u"TBL_ANAGRAFICA"_s, u"NOME = 'LUCA'"_s), 1);
        // No member shown with a name: said so.
        f.dialogs.clear();
        click(commands->eraseButton());
        QCOMPARE(f.dialogs.texts(), QStringList{u"Nessun Familiare Inserito"_s});
    }

private:
    QTemporaryDir m_settings;
};

MARVESA_TEST_MAIN(TstPersonalData)
#include "tst_personaldata.moc"
