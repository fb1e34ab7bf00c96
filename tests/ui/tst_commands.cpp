// The family-unit, member and export commands, driven through the real
// window with the mouse and the keyboard, on real database files.

#include <QCryptographicHash>
#include <QDir>
#include <QRegularExpression>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlRecord>
#include <QToolButton>
#include <QtTest>

#include "data/Error.h"
#include "data/FamilyCode.h"
#include "data/Random.h"
#include "export/FileOpener.h"
#include "DataTestSupport.h"
#include "support/TestApplication.h"
#include "ui/Commands.h"
#include "ui/WindowFixture.h"

using namespace marvesa;
using namespace marvesa::test;

namespace {

const QString kTitle = QStringLiteral("Gestione Emergenza Marvesa");
const QString kMissing = QStringLiteral("I seguenti Campi sono Obbligatori\r\r");

void click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

// Types into a control after clicking into it, as the operator does.
void typeInto(QWidget* control, const QString& text) {
    WindowFixture::focus(control);
    QTest::keyClicks(control, text);
}

// Hands the exported file to nobody, remembering it; or fails as a desktop
// without a spreadsheet application does.
class RecordingOpener : public FileOpener {
public:
    QStringList opened;
    bool fail = false;
    void open(const QString& path) override {
        if (fail) throw Error(QStringLiteral("Nessuna applicazione ha potuto aprire il foglio di calcolo"));
        opened << path;
    }
};

// Fills the family-unit fields of a new or edited family unit.
void fillFamily(TfrmMain& w, const QString& description) {
    typeInto(w.edtDescNucleo, description);
    typeInto(w.dbeOspite, QStringLiteral("mario bianchi"));
    typeInto(w.dbeComune, QStringLiteral("Udine"));
    typeInto(w.dbeIndirizzo, QStringLiteral("via roma 1"));
    typeInto(w.dbeTelefono, QStringLiteral("0432 111222"));
}

// Fills every member field, the surname last so a test can leave some out.
void fillMember(TfrmMain& w, const QString& surname) {
    typeInto(w.dbeNome, QStringLiteral("olena"));
    typeInto(w.dbeSesso, QStringLiteral("F"));
    typeInto(w.dbeDataNascita, QStringLiteral("12/05/1984"));
    typeInto(w.dbeNazNascita, QStringLiteral("Ucraina"));
    typeInto(w.dbeCittadinanza, QStringLiteral("Ucraina"));
    typeInto(w.dbeParentela, QStringLiteral("Coniuge"));
    typeInto(w.dbeDataIngresso, QStringLiteral("04/03/2022"));
    typeInto(w.dbeFrontiera, QStringLiteral("polonia"));
    if (!surname.isEmpty()) typeInto(w.dbeCognome, surname);
}

QByteArray fileHash(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return QByteArray();
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

}  // namespace

class TstCommands : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { TemplateDatabase::path(); }

    void createEditAndAbandonFamilyUnits() {
        WindowFixture f;
        TfrmMain& w = f.w();
        Sql sql(f.path);
        const int before = sql.count(QStringLiteral("TBL_NUCLEO"));

        click(w.btnNewNucleo);
        QCOMPARE(f.nucleo().state(), dsInsert);
        QCOMPARE(focused(), w.edtDescNucleo);
        const QString code = w.edtCodiceNucleo->caption();
        QVERIFY2(QRegularExpression(QStringLiteral("^QX[1-9][0-9]*$")).match(code).hasMatch(),
                 qPrintable(code));
        QCOMPARE(f.members().recordCount(), 0);  // no members while inserting
        QVERIFY(!w.btnExit->isEnabled() && !w.btnExport->isEnabled());

        fillFamily(w, QStringLiteral("  famiglia test  "));
        click(w.btnSaveNucleo);
        QVERIFY2(f.dialogs.shown.isEmpty(), qPrintable(f.dialogs.texts().join(QLatin1Char('|'))));
        QCOMPARE(f.nucleo().state(), dsBrowse);
        QCOMPARE(sql.count(QStringLiteral("TBL_NUCLEO")), before + 1);
        QCOMPARE(sql.row(QStringLiteral("SELECT CODICE_NUCLEO, DENOMINAZIONE, NOME_OSPITANTE, COMUNE, "
                                        "INDIRIZZO, TELEFONO, TERMINE_ALLOGGIO FROM TBL_NUCLEO "
                                        "ORDER BY ID_NUCLEO DESC LIMIT 1")),
                 code + QStringLiteral("|FAMIGLIA TEST|MARIO BIANCHI|Udine|VIA ROMA 1|0432 111222|<NULL>"));
        QCOMPARE(w.edtCodiceNucleo->caption(), code);

        // "Modifica" then "Salva" keeps the code.
        click(w.btnEditNucleo);
        QCOMPARE(f.nucleo().state(), dsEdit);
        QCOMPARE(focused(), w.edtDescNucleo);
        QCOMPARE(w.edtCodiceNucleo->caption(), code);
        QTest::keyClicks(w.edtDescNucleo, QStringLiteral(" bis"));
        click(w.btnSaveNucleo);
        QCOMPARE(f.nucleo().state(), dsBrowse);
        QCOMPARE(sql.one(QStringLiteral("SELECT CODICE_NUCLEO || '|' || DENOMINAZIONE FROM TBL_NUCLEO "
                                          "ORDER BY ID_NUCLEO DESC LIMIT 1"))
                     .toString(),
                 code + QStringLiteral("|FAMIGLIA TEST BIS"));

        // "Crea Nucleo" then "Annulla" stores nothing and shows the current code again.
        click(w.btnNewNucleo);
        QVERIFY(w.edtCodiceNucleo->caption() != code);
        typeInto(w.edtDescNucleo, QStringLiteral("da non salvare"));
        click(w.btnAnnNucleo);
        QCOMPARE(f.nucleo().state(), dsBrowse);
        QCOMPARE(w.edtCodiceNucleo->caption(), code);
        QCOMPARE(sql.count(QStringLiteral("TBL_NUCLEO")), before + 1);
        QVERIFY(f.dialogs.shown.isEmpty());
    }

    void requiredFieldsOfAFamilyUnit() {
        WindowFixture f;
        TfrmMain& w = f.w();
        Sql sql(f.path);
        const int before = sql.count(QStringLiteral("TBL_NUCLEO"));

        // Description and telephone missing.
        click(w.btnNewNucleo);
        typeInto(w.dbeOspite, QStringLiteral("ospite"));
        typeInto(w.dbeComune, QStringLiteral("Udine"));
        typeInto(w.dbeIndirizzo, QStringLiteral("via"));
        click(w.btnSaveNucleo);
        QCOMPARE(f.dialogs.shown.size(), 1);
        const DialogRequest box = f.dialogs.shown[0];
        QCOMPARE(box.text, kMissing + QStringLiteral("Descrizione Nucleo\r\rTelefono\r\r"));
        QCOMPARE(box.title, kTitle);
        QCOMPARE(box.icon, DialogIcon::Information);
        QCOMPARE(box.buttons, QList<DialogButton>{DialogButton::Ok});
        // Nothing else happens: still inserting, everything typed kept.
        QCOMPARE(f.nucleo().state(), dsInsert);
        QCOMPARE(w.dbeOspite->text(), QStringLiteral("OSPITE"));
        QVERIFY(!w.btnExit->isEnabled());

        // A description of blanks becomes empty on leaving and is missing.
        f.dialogs.clear();
        typeInto(w.edtDescNucleo, QStringLiteral("    "));
        typeInto(w.dbeTelefono, QStringLiteral("123"));
        click(w.btnSaveNucleo);
        QCOMPARE(w.edtDescNucleo->text(), QString());
        QCOMPARE(f.dialogs.texts(), QStringList{kMissing + QStringLiteral("Descrizione Nucleo\r\r")});
        click(w.btnAnnNucleo);

        // A municipality never chosen.
        f.dialogs.clear();
        click(w.btnNewNucleo);
        typeInto(w.edtDescNucleo, QStringLiteral("d"));
        typeInto(w.dbeOspite, QStringLiteral("o"));
        typeInto(w.dbeIndirizzo, QStringLiteral("i"));
        typeInto(w.dbeTelefono, QStringLiteral("1"));
        click(w.btnSaveNucleo);
        QCOMPARE(f.dialogs.texts(), QStringList{kMissing + QStringLiteral("Comune\r\r")});
        click(w.btnAnnNucleo);
        QCOMPARE(sql.count(QStringLiteral("TBL_NUCLEO")), before);
    }

    void requiredFieldsOfAMember() {
        WindowFixture f;
        TfrmMain& w = f.w();
        Sql sql(f.path);

        // Surname, sex and entry date missing.
        click(w.btnNewAnag);
        QCOMPARE(f.members().state(), dsInsert);
        QCOMPARE(focused(), w.dbeCognome);
        QCOMPARE(w.dbeNucleoAnag->caption(), QStringLiteral("QX100"));
        typeInto(w.dbeNome, QStringLiteral("olena"));
        typeInto(w.dbeDataNascita, QStringLiteral("12/05/1984"));
        typeInto(w.dbeNazNascita, QStringLiteral("Ucraina"));
        typeInto(w.dbeCittadinanza, QStringLiteral("Ucraina"));
        typeInto(w.dbeParentela, QStringLiteral("Coniuge"));
        typeInto(w.dbeFrontiera, QStringLiteral("polonia"));
        click(w.btnSaveAnag);
        QCOMPARE(f.dialogs.shown.size(), 1);
        QCOMPARE(f.dialogs.shown[0].text,
                 kMissing + QStringLiteral("Cognome\r\rSesso\r\rData Ingresso\r\r"));
        QCOMPARE(f.dialogs.shown[0].icon, DialogIcon::Information);
        QCOMPARE(f.dialogs.shown[0].title, kTitle);
        QCOMPARE(f.members().state(), dsInsert);
        QCOMPARE(w.dbeDataNascita->text(), QStringLiteral("12/05/1984"));
        click(w.btnAnagAnnulla);
        QCOMPARE(f.members().state(), dsBrowse);

        // A family unit whose telephone is blank blocks every member "Salva".
        f.nucleo().edit();
        f.nucleo().setFieldValue(QStringLiteral("TELEFONO"), Value::text(QStringLiteral(" ")));
        f.nucleo().post();
        f.dialogs.clear();
        click(w.btnNewAnag);
        fillMember(w, QStringLiteral("kovalenko"));
        click(w.btnSaveAnag);
        QCOMPARE(f.dialogs.texts(), QStringList{kMissing + QStringLiteral("Telefono\r\r")});
        click(w.btnAnagAnnulla);
        QCOMPARE(sql.count(QStringLiteral("TBL_ANAGRAFICA"), QStringLiteral("COGNOME = 'KOVALENKO'")), 0);
    }

    void membersCarryTheirFamilyUnitsCodeAndHostData() {
        WindowFixture f;
        TfrmMain& w = f.w();
        Sql sql(f.path);

        click(w.btnNewAnag);
        fillMember(w, QStringLiteral("kovalenko"));
        click(w.btnSaveAnag);
        QVERIFY2(f.dialogs.shown.isEmpty(), qPrintable(f.dialogs.texts().join(QLatin1Char('|'))));
        QCOMPARE(f.members().state(), dsBrowse);
        QCOMPARE(w.dbeCognome->text(), QStringLiteral("KOVALENKO"));  // the stored member stays current
        QCOMPARE(sql.row(QStringLiteral(
                     "SELECT CODICE_NUCLEO, NOME_OSPITANTE, COMUNE, INDIRIZZO, TELEFONO, TERMINE_ALLOGGIO, "
                     "SESSO, DATA_NASCITA, DATA_INGRESSO, GRADO_PARENTELA, FRONTIERA "
                     "FROM TBL_ANAGRAFICA WHERE COGNOME = 'KOVALENKO'")),
                 QStringLiteral("QX100|MARIO BIANCHI |Abano Terme|VIA ROMA 1|049 123456|<NULL>|F|"
                                "1984-05-12T00:00:00|2022-03-04T00:00:00|Coniuge|POLONIA"));

        // Changing the host later leaves the stored member's copy alone.
        click(w.btnEditNucleo);
        typeInto(w.dbeOspite, QStringLiteral(" nuovo"));
        click(w.btnSaveNucleo);
        QVERIFY(f.dialogs.shown.isEmpty());
        QCOMPARE(sql.one(QStringLiteral("SELECT NOME_OSPITANTE FROM TBL_NUCLEO WHERE CODICE_NUCLEO = 'QX100'"))
                     .toString(),
                 QStringLiteral("MARIO BIANCHI  NUOVO"));  // inner blanks stay
        QCOMPARE(sql.one(QStringLiteral("SELECT NOME_OSPITANTE FROM TBL_ANAGRAFICA WHERE COGNOME = 'KOVALENKO'"))
                     .toString(),
                 QStringLiteral("MARIO BIANCHI "));
    }

    void noticesWithoutFamilyUnitOrMember() {
        WindowFixture f(false);
        {
            Sql sql(f.path);
            sql.exec(QStringLiteral("DELETE FROM TBL_ANAGRAFICA"));
            sql.exec(QStringLiteral("DELETE FROM TBL_NUCLEO"));
        }
        f.dm->DataModuleCreate(f.path);
        TfrmMain& w = f.w();

        click(w.btnNewAnag);
        QCOMPARE(f.dialogs.shown.size(), 1);
        const DialogRequest box = f.dialogs.shown[0];
        QCOMPARE(box.text, QStringLiteral("Nessun Nucleo Familiare Inserito"));
        QCOMPARE(box.icon, DialogIcon::None);
        QVERIFY(box.centeredOnScreen);
        QCOMPARE(box.title, applicationTitle());
        QCOMPARE(f.members().state(), dsBrowse);

        // "Elimina" of a family unit with none at all: the code is read as
        // text and the NULL conversion fails; nothing is deleted.
        f.dialogs.clear();
        f.dialogs.answerNext(DialogButton::Yes);
        click(w.btnEliminaNucleo);
        QCOMPARE(f.dialogs.texts(),
                 (QStringList{QStringLiteral("La procedura Cancellerà il Codice Nucleo Familiare\r\re relativi Familiari"),
                              QStringLiteral("Could not convert variant of type (Null) into type (OleStr)")}));
        QCOMPARE(f.dialogs.shown[1].icon, DialogIcon::Error);
    }

    void memberCommandsOnAFamilyUnitWithoutMembers() {
        WindowFixture f;
        TfrmMain& w = f.w();
        f.nucleo().last();  // QX300, no members
        QCOMPARE(f.members().recordCount(), 0);

        click(w.btnEditAnag);
        QCOMPARE(f.dialogs.texts(), QStringList{QStringLiteral("Nessun Familiare Inserito")});
        QCOMPARE(f.dialogs.shown[0].icon, DialogIcon::None);
        QCOMPARE(f.members().state(), dsBrowse);

        f.dialogs.clear();
        click(w.btnDelAnag);  // asks nothing, deletes nothing
        QVERIFY(f.dialogs.shown.isEmpty());

        // On a member: No keeps it, Yes deletes it.
        f.nucleo().first();
        QCOMPARE(f.members().recordCount(), 2);
        f.dialogs.answerNext(DialogButton::No);
        click(w.btnDelAnag);
        QCOMPARE(f.dialogs.shown.size(), 1);
        QCOMPARE(f.dialogs.shown[0].text, QStringLiteral("Procedere con la Cancellazione"));
        QCOMPARE(f.dialogs.shown[0].icon, DialogIcon::Question);
        QCOMPARE(f.dialogs.shown[0].buttons, (QList<DialogButton>{DialogButton::Yes, DialogButton::No}));
        QCOMPARE(f.members().recordCount(), 2);
        f.dialogs.answerNext(DialogButton::Yes);
        click(w.btnDelAnag);
        QCOMPARE(f.members().recordCount(), 1);
        QCOMPARE(w.dbeNome->text(), QStringLiteral("LUCA"));
    }

    void deletingAFamilyUnitTakesItsMembers_data() {
        QTest::addColumn<bool>("throughGrid");
        QTest::newRow("Elimina") << false;
        QTest::newRow("Ctrl+Delete in the list") << true;
    }
    void deletingAFamilyUnitTakesItsMembers() {
        QFETCH(bool, throughGrid);
        WindowFixture f;
        TfrmMain& w = f.w();
        Sql sql(f.path);
        // A third member for QX100.
        f.members().insert();
        f.members().setFieldValue(QStringLiteral("COGNOME"), Value::text(QStringLiteral("ROSSI")));
        f.members().post();
        QCOMPARE(f.members().recordCount(), 3);
        const int families = sql.count(QStringLiteral("TBL_NUCLEO"));
        const int members = sql.count(QStringLiteral("TBL_ANAGRAFICA"));

        auto requestDelete = [&] {
            if (throughGrid) {
                clickGridRow(w.DBGrid2, 0);
                QTest::keyClick(w.DBGrid2, Qt::Key_Delete, Qt::ControlModifier);
            } else {
                click(w.btnEliminaNucleo);
            }
        };
        const DialogButton no = throughGrid ? DialogButton::Cancel : DialogButton::No;
        const DialogButton yes = throughGrid ? DialogButton::Ok : DialogButton::Yes;
        f.dialogs.answerNext(no);
        requestDelete();
        QCOMPARE(f.dialogs.shown.size(), 1);
        QCOMPARE(sql.count(QStringLiteral("TBL_NUCLEO")), families);
        QCOMPARE(f.column(f.nucleo(), "CODICE_NUCLEO"), QStringLiteral("QX100"));

        f.dialogs.answerNext(yes);
        requestDelete();
        QCOMPARE(f.dialogs.shown.size(), 2);
        QCOMPARE(sql.count(QStringLiteral("TBL_NUCLEO")), families - 1);
        QCOMPARE(sql.count(QStringLiteral("TBL_ANAGRAFICA")), members - 3);
        QCOMPARE(sql.count(QStringLiteral("TBL_ANAGRAFICA"), QStringLiteral("CODICE_NUCLEO = 'QX100'")), 0);
        QCOMPARE(sql.count(QStringLiteral("TBL_ANAGRAFICA"), QStringLiteral("CODICE_NUCLEO = 'QX200'")), 1);
        // The family unit that followed is current, with its members.
        QCOMPARE(f.column(f.nucleo(), "CODICE_NUCLEO"), QStringLiteral("QX200"));
        QCOMPARE(w.dbeNome->text(), QStringLiteral("PIA"));
        QCOMPARE(f.dialogs.shown.size(), 2);  // no error
    }

    void aFamilyUnitWithoutCodeCanBeDeleted() {
        WindowFixture f;
        TfrmMain& w = f.w();
        Sql sql(f.path);
        // "Crea Nucleo", something typed, then a move: stored without a code.
        click(w.btnNewNucleo);
        typeInto(w.edtDescNucleo, QStringLiteral("senza codice"));
        clickGridRow(w.DBGrid2, 2);
        QCOMPARE(f.nucleo().state(), dsBrowse);
        QCOMPARE(sql.count(QStringLiteral("TBL_NUCLEO"), QStringLiteral("CODICE_NUCLEO IS NULL")), 1);
        const int members = sql.count(QStringLiteral("TBL_ANAGRAFICA"));

        f.nucleo().first();
        while (!f.nucleo().fieldValue(QStringLiteral("CODICE_NUCLEO")).isNull()) f.nucleo().next();
        f.dialogs.answerNext(DialogButton::Yes);
        click(w.btnEliminaNucleo);
        QCOMPARE(f.dialogs.shown.size(), 1);  // the question, no error
        QCOMPARE(sql.count(QStringLiteral("TBL_NUCLEO"), QStringLiteral("CODICE_NUCLEO IS NULL")), 0);
        QCOMPARE(sql.count(QStringLiteral("TBL_ANAGRAFICA")), members);
    }

    void drawnCodesAreNeverStoredOnes() {
        WindowFixture f;
        TfrmMain& w = f.w();
        Sql sql(f.path);
        // Store the first 5,000 codes a known seed draws...
        const std::uint32_t seed = 20261209;
        Random::seed(seed);
        QSet<QString> stored;
        sql.exec(QStringLiteral("BEGIN"));
        while (stored.size() < 5000) {
            const QString code = drawFamilyCode(nullptr);
            if (stored.contains(code)) continue;
            stored.insert(code);
            sql.exec(QStringLiteral("INSERT INTO TBL_NUCLEO (CODICE_NUCLEO) VALUES (?)"), {code});
        }
        sql.exec(QStringLiteral("COMMIT"));
        QCOMPARE(sql.count(QStringLiteral("TBL_NUCLEO"), QStringLiteral("CODICE_NUCLEO LIKE 'QX%'")), 5000 + 3);
        // ...then draw 10,000 from the same seed: the stored ones come first
        // and must all be drawn again.
        Random::seed(seed);
        for (int i = 0; i < 10000; ++i) {
            w.btnNewNucleoClick();
            const QString code = w.edtCodiceNucleo->caption();
            QVERIFY2(!stored.contains(code), qPrintable(code));
            w.btnAnnNucleoClick();
        }
        QVERIFY(f.dialogs.shown.isEmpty());
    }

    void movingDuringCreationOrMemberEdit() {
        WindowFixture f;
        TfrmMain& w = f.w();
        Sql sql(f.path);
        const int families = sql.count(QStringLiteral("TBL_NUCLEO"));

        // "Crea Nucleo" with nothing typed, then a navigator move: abandoned.
        click(w.btnNewNucleo);
        QTest::mouseClick(w.DBNavigator2->button(DBNavigator::Next), Qt::LeftButton);
        QCOMPARE(f.nucleo().state(), dsBrowse);
        QCOMPARE(sql.count(QStringLiteral("TBL_NUCLEO")), families);
        // With something typed: stored without checks and without a code.
        click(w.btnNewNucleo);
        typeInto(w.dbeOspite, QStringLiteral("solo ospite"));
        clickGridRow(w.DBGrid2, 0);
        QCOMPARE(sql.count(QStringLiteral("TBL_NUCLEO")), families + 1);
        QCOMPARE(sql.count(QStringLiteral("TBL_NUCLEO"),
                           QStringLiteral("NOME_OSPITANTE = 'SOLO OSPITE' AND CODICE_NUCLEO IS NULL")),
                 1);
        QVERIFY(f.dialogs.shown.isEmpty());

        // A member edited with a change, then another family unit chosen:
        // stored as it is, without the host copy.
        f.nucleo().first();
        QCOMPARE(f.column(f.nucleo(), "CODICE_NUCLEO"), QStringLiteral("QX100"));
        click(w.btnEditAnag);
        typeInto(w.dbeFrontiera, QStringLiteral(" est"));
        clickGridRow(w.DBGrid2, 1);
        QCOMPARE(f.members().state(), dsBrowse);
        QCOMPARE(sql.one(QStringLiteral("SELECT FRONTIERA || '|' || ifnull(TELEFONO, '<NULL>') FROM TBL_ANAGRAFICA "
                                          "WHERE NOME = 'ANNA'"))
                     .toString(),
                 QStringLiteral("POLONIA EST|<NULL>"));
        // A new member with nothing typed is abandoned when the family unit moves.
        const int members = sql.count(QStringLiteral("TBL_ANAGRAFICA"));
        f.nucleo().first();
        click(w.btnNewAnag);
        QCOMPARE(f.members().state(), dsInsert);
        clickGridRow(w.DBGrid2, f.nucleo().rowCount() - 1);
        QCOMPARE(f.members().state(), dsBrowse);
        QCOMPARE(sql.count(QStringLiteral("TBL_ANAGRAFICA")), members);
        QVERIFY2(f.dialogs.shown.isEmpty(), qPrintable(f.dialogs.texts().join(QLatin1Char('|'))));
    }

    void exportThroughTheWindow() {
        WindowFixture f;
        TfrmMain& w = f.w();
        QTemporaryDir exports;
        RecordingOpener opener;
        setExportServices({exports.path(), &opener});

        // The current rows move back to the first ones.
        f.nucleo().last();
        click(w.btnExport);
        QVERIFY2(f.dialogs.shown.isEmpty(), qPrintable(f.dialogs.texts().join(QLatin1Char('|'))));
        QCOMPARE(opener.opened.size(), 1);
        QVERIFY(QFileInfo::exists(opener.opened[0]));
        QCOMPARE(f.dm->TBL_EXPORT.recordCount(), 3);
        QVERIFY(w.btnExport->isEnabled());
        QCOMPARE(f.column(f.nucleo(), "CODICE_NUCLEO"), QStringLiteral("QX100"));
        QCOMPARE(w.dbeNome->text(), QStringLiteral("ANNA"));

        // A second export makes a second file and leaves the first alone.
        const QByteArray first = fileHash(opener.opened[0]);
        click(w.btnExport);
        QCOMPARE(opener.opened.size(), 2);
        QVERIFY(opener.opened[0] != opener.opened[1]);
        QCOMPARE(fileHash(opener.opened[0]), first);

        // No application to open it: the error, the staging complete, the
        // button still disabled until a table next returns to browsing.
        opener.fail = true;
        click(w.btnExport);
        QCOMPARE(f.dialogs.shown.size(), 1);
        QCOMPARE(f.dialogs.shown[0].icon, DialogIcon::Error);
        QCOMPARE(f.dm->TBL_EXPORT.recordCount(), 3);
        QVERIFY(!w.btnExport->isEnabled());
        click(w.btnEditNucleo);
        click(w.btnAnnNucleo);
        QVERIFY(w.btnExport->isEnabled());
        setExportServices({});
    }

    void exportWithNothingToExport() {
        WindowFixture f(false);
        {
            Sql sql(f.path);
            sql.exec(QStringLiteral("DELETE FROM TBL_ANAGRAFICA"));
        }
        f.dm->DataModuleCreate(f.path);
        QTemporaryDir exports;
        RecordingOpener opener;
        setExportServices({exports.path(), &opener});
        click(f.w().btnExport);
        QCOMPARE(f.dialogs.texts(), QStringList{QStringLiteral("Non ci sono Dati da Esporatare")});
        QCOMPARE(f.dialogs.shown[0].icon, DialogIcon::None);
        QVERIFY(f.dialogs.shown[0].centeredOnScreen);
        QVERIFY(opener.opened.isEmpty());
        QVERIFY(QDir(exports.path()).entryList(QDir::Files).isEmpty());
        QVERIFY(f.w().btnExport->isEnabled());
        setExportServices({});
    }
};

MARVESA_TEST_MAIN(TstCommands)
#include "tst_commands.moc"
