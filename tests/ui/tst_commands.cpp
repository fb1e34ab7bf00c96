// The family-unit, member and export commands, driven through the real
// window with the mouse and the keyboard, on real database files.

#include <QCryptographicHash>
#include <QDir>
#include <QRegularExpression>
#include <QSet>
#include <QToolButton>
#include <QtTest>

#include "DataTestSupport.h"
#include "data/Error.h"
#include "data/FamilyCode.h"
#include "data/Random.h"
#include "export/FileOpener.h"
#include "support/TestApplication.h"
#include "ui/Commands.h"
#include "ui/WindowFixture.h"

using namespace marvesa;
using namespace marvesa::test;

namespace {

const QString kTitle = QStringLiteral("Gestione Emergenza Marvesa");
const QString kMissing = QStringLiteral("I seguenti Campi sono Obbligatori\r\r");
const QString kNucleo = QStringLiteral("TBL_NUCLEO");
const QString kMembers = QStringLiteral("TBL_ANAGRAFICA");

void click(QWidget* button) {
    QTest::mouseClick(button, Qt::LeftButton);
}

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
        if (fail)
            throw Error(
                QStringLiteral("Nessuna applicazione ha potuto aprire il foglio di calcolo"));
        opened << path;
    }
};

// Fills the member fields but those in `leaveOut`, the surname last.
void fillMember(TfrmMain& w, const QList<QWidget*>& leaveOut = {}) {
    const QList<QPair<QWidget*, const char*>> fields{{w.dbeNome, "olena"},
                                                     {w.dbeSesso, "F"},
                                                     {w.dbeDataNascita, "12/05/1984"},
                                                     {w.dbeNazNascita, "Ucraina"},
                                                     {w.dbeCittadinanza, "Ucraina"},
                                                     {w.dbeParentela, "Coniuge"},
                                                     {w.dbeDataIngresso, "04/03/2022"},
                                                     {w.dbeFrontiera, "polonia"},
                                                     {w.dbeCognome, "kovalenko"}};
    for (const auto& [control, text] : fields)
        if (!leaveOut.contains(control))
            typeInto(control, QString::fromUtf8(text));
}

QByteArray fileHash(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
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
        const int before = sql.count(kNucleo);

        click(w.btnNewNucleo);
        QCOMPARE(f.nucleo().state(), dsInsert);
        QCOMPARE(focused(), w.edtDescNucleo);
        const QString code = w.edtCodiceNucleo->caption();
        QVERIFY2(QRegularExpression(QStringLiteral("^QX[1-9][0-9]*$")).match(code).hasMatch(),
                 qPrintable(code));
        QCOMPARE(f.members().recordCount(), 0);  // no members while inserting
        QVERIFY(!w.btnExit->isEnabled() && !w.btnExport->isEnabled());

        // Description and telephone missing: the box, and nothing else
        // happens (still inserting, everything typed kept).
        typeInto(w.dbeOspite, QStringLiteral("mario bianchi"));
        typeInto(w.dbeComune, QStringLiteral("Udine"));
        typeInto(w.dbeIndirizzo, QStringLiteral("via roma 1"));
        click(w.btnSaveNucleo);
        QCOMPARE(f.dialogs.shown.size(), 1);
        const DialogRequest box = f.dialogs.shown[0];
        QCOMPARE(box.text, kMissing + QStringLiteral("Descrizione Nucleo\r\rTelefono\r\r"));
        QCOMPARE(box.title, kTitle);
        QCOMPARE(box.icon, DialogIcon::Information);
        QCOMPARE(box.buttons, QList<DialogButton>{DialogButton::Ok});
        QCOMPARE(f.nucleo().state(), dsInsert);
        QCOMPARE(w.dbeOspite->text(), QStringLiteral("MARIO BIANCHI"));
        QVERIFY(!w.btnExit->isEnabled());

        // A description of blanks becomes empty on leaving and is missing.
        f.dialogs.clear();
        typeInto(w.edtDescNucleo, QStringLiteral("    "));
        typeInto(w.dbeTelefono, QStringLiteral("0432 111222"));
        click(w.btnSaveNucleo);
        QCOMPARE(w.edtDescNucleo->text(), QString());
        QCOMPARE(f.dialogs.texts(),
                 QStringList{kMissing + QStringLiteral("Descrizione Nucleo\r\r")});

        // Complete: stored with the drawn code, the texts trimmed.
        f.dialogs.clear();
        typeInto(w.edtDescNucleo, QStringLiteral("  famiglia test  "));
        click(w.btnSaveNucleo);
        QCOMPARE(f.dialogs.texts(), QStringList());
        QCOMPARE(f.nucleo().state(), dsBrowse);
        QCOMPARE(sql.count(kNucleo), before + 1);
        QCOMPARE(sql.row(QStringLiteral(
                     "SELECT CODICE_NUCLEO, DENOMINAZIONE, NOME_OSPITANTE, COMUNE, INDIRIZZO, "
                     "TELEFONO, TERMINE_ALLOGGIO FROM TBL_NUCLEO ORDER BY ID_NUCLEO DESC LIMIT 1")),
                 code + QStringLiteral(
                            "|FAMIGLIA TEST|MARIO BIANCHI|Udine|VIA ROMA 1|0432 111222|<NULL>"));
        QCOMPARE(w.edtCodiceNucleo->caption(), code);

        // A municipality never chosen is missing; "Annulla" then stores
        // nothing and shows the current code again.
        click(w.btnNewNucleo);
        QVERIFY(w.edtCodiceNucleo->caption() != code);
        typeInto(w.edtDescNucleo, QStringLiteral("da non salvare"));
        typeInto(w.dbeOspite, QStringLiteral("o"));
        typeInto(w.dbeIndirizzo, QStringLiteral("i"));
        typeInto(w.dbeTelefono, QStringLiteral("1"));
        click(w.btnSaveNucleo);
        click(w.btnAnnNucleo);
        QCOMPARE(f.dialogs.texts(), QStringList{kMissing + QStringLiteral("Comune\r\r")});
        QCOMPARE(f.nucleo().state(), dsBrowse);
        QCOMPARE(w.edtCodiceNucleo->caption(), code);
        QCOMPARE(sql.count(kNucleo), before + 1);
    }

    void membersAndTheirRequiredFields() {
        WindowFixture f;
        TfrmMain& w = f.w();
        Sql sql(f.path);

        // Surname, sex and entry date missing.
        click(w.btnNewAnag);
        QCOMPARE(f.members().state(), dsInsert);
        QCOMPARE(focused(), w.dbeCognome);
        QCOMPARE(w.dbeNucleoAnag->caption(), QStringLiteral("QX100"));
        fillMember(w, {w.dbeCognome, w.dbeSesso, w.dbeDataIngresso});
        click(w.btnSaveAnag);
        QCOMPARE(f.dialogs.texts(),
                 QStringList{kMissing + QStringLiteral("Cognome\r\rSesso\r\rData Ingresso\r\r")});
        QCOMPARE(f.members().state(), dsInsert);
        QCOMPARE(w.dbeDataNascita->text(), QStringLiteral("12/05/1984"));

        // Complete, the member carries its family unit's code and host data
        // and stays current.
        f.dialogs.clear();
        typeInto(w.dbeSesso, QStringLiteral("F"));
        typeInto(w.dbeDataIngresso, QStringLiteral("04/03/2022"));
        typeInto(w.dbeCognome, QStringLiteral("kovalenko"));
        click(w.btnSaveAnag);
        QCOMPARE(f.dialogs.texts(), QStringList());
        QCOMPARE(f.members().state(), dsBrowse);
        QCOMPARE(w.dbeCognome->text(), QStringLiteral("KOVALENKO"));
        QCOMPARE(sql.row(QStringLiteral(
                     "SELECT CODICE_NUCLEO, NOME_OSPITANTE, COMUNE, INDIRIZZO, TELEFONO, "
                     "TERMINE_ALLOGGIO, SESSO, DATA_NASCITA, DATA_INGRESSO, GRADO_PARENTELA, "
                     "FRONTIERA FROM TBL_ANAGRAFICA WHERE COGNOME = 'KOVALENKO'")),
                 QStringLiteral("QX100|MARIO BIANCHI |Abano Terme|VIA ROMA 1|049 123456|<NULL>|F|"
                                "1984-05-12T00:00:00|2022-03-04T00:00:00|Coniuge|POLONIA"));

        // Changing the host later ("Modifica", then "Salva", which keeps the
        // code) leaves the stored member's copy alone; inner blanks stay.
        click(w.btnEditNucleo);
        QCOMPARE(f.nucleo().state(), dsEdit);
        QCOMPARE(focused(), w.edtDescNucleo);
        QCOMPARE(w.edtCodiceNucleo->caption(), QStringLiteral("QX100"));
        typeInto(w.dbeOspite, QStringLiteral(" nuovo"));
        click(w.btnSaveNucleo);
        QCOMPARE(f.dialogs.texts(), QStringList());
        QCOMPARE(sql.row(QStringLiteral("SELECT NOME_OSPITANTE FROM TBL_NUCLEO "
                                        "WHERE CODICE_NUCLEO = 'QX100'")),
                 QStringLiteral("MARIO BIANCHI  NUOVO"));
        QCOMPARE(sql.row(QStringLiteral("SELECT NOME_OSPITANTE FROM TBL_ANAGRAFICA "
                                        "WHERE COGNOME = 'KOVALENKO'")),
                 QStringLiteral("MARIO BIANCHI "));

        // A family unit whose telephone is blank blocks every member "Salva".
        change(f.nucleo(), "TELEFONO", " ");
        click(w.btnNewAnag);
        fillMember(w, {});
        click(w.btnSaveAnag);
        QCOMPARE(f.dialogs.texts(), QStringList{kMissing + QStringLiteral("Telefono\r\r")});
        click(w.btnAnagAnnulla);
        QCOMPARE(f.members().state(), dsBrowse);
        QCOMPARE(sql.count(kMembers, QStringLiteral("COGNOME = 'KOVALENKO'")), 1);
    }

    void noticesOnAnEmptyDatabase() {
        WindowFixture f(false);
        Sql(f.path).exec(QStringLiteral("DELETE FROM TBL_ANAGRAFICA"));
        Sql(f.path).exec(QStringLiteral("DELETE FROM TBL_NUCLEO"));
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

        // "Modifica" of the member panel with no member; its "Elimina" asks
        // nothing and deletes nothing.
        f.dialogs.clear();
        click(w.btnEditAnag);
        QCOMPARE(f.dialogs.texts(), QStringList{QStringLiteral("Nessun Familiare Inserito")});
        QCOMPARE(f.dialogs.shown[0].icon, DialogIcon::None);
        QCOMPARE(f.members().state(), dsBrowse);
        f.dialogs.clear();
        click(w.btnDelAnag);
        QVERIFY(f.dialogs.shown.isEmpty());

        // "Elimina" of a family unit with none at all: the code is read as
        // text and the NULL conversion fails; nothing is deleted.
        f.dialogs.clear();
        f.dialogs.answerNext(DialogButton::Yes);
        click(w.btnEliminaNucleo);
        QCOMPARE(f.dialogs.texts(),
                 (QStringList{QStringLiteral("La procedura Cancellerà il Codice Nucleo "
                                             "Familiare\r\re relativi Familiari"),
                              QStringLiteral("Could not convert variant of type (Null) into type "
                                             "(OleStr)")}));
        QCOMPARE(f.dialogs.shown[1].icon, DialogIcon::Error);

        // "Esporta" with nothing to export: the notice, no file, the button
        // enabled again.
        f.dialogs.clear();
        QTemporaryDir exports;
        RecordingOpener opener;
        setExportServices({exports.path(), &opener});
        click(w.btnExport);
        QCOMPARE(f.dialogs.texts(), QStringList{QStringLiteral("Non ci sono Dati da Esporatare")});
        QCOMPARE(f.dialogs.shown[0].icon, DialogIcon::None);
        QVERIFY(f.dialogs.shown[0].centeredOnScreen);
        QVERIFY(opener.opened.isEmpty());
        QVERIFY(QDir(exports.path()).entryList(QDir::Files).isEmpty());
        QVERIFY(w.btnExport->isEnabled());
        setExportServices({});
    }

    void deletingAMemberAsksFirst() {
        WindowFixture f;
        TfrmMain& w = f.w();
        // No keeps the member, Yes deletes it.
        QCOMPARE(f.members().recordCount(), 2);
        f.dialogs.answerNext(DialogButton::No);
        click(w.btnDelAnag);
        QCOMPARE(f.dialogs.shown.size(), 1);
        QCOMPARE(f.dialogs.shown[0].text, QStringLiteral("Procedere con la Cancellazione"));
        QCOMPARE(f.dialogs.shown[0].icon, DialogIcon::Question);
        QCOMPARE(f.dialogs.shown[0].buttons,
                 (QList<DialogButton>{DialogButton::Yes, DialogButton::No}));
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
        add(f.members(), "COGNOME", "ROSSI");  // a third member for QX100
        QCOMPARE(f.members().recordCount(), 3);
        const int families = sql.count(kNucleo);
        const int members = sql.count(kMembers);

        auto requestDelete = [&] {
            if (throughGrid) {
                clickGridRow(w.DBGrid2, 0);
                QTest::keyClick(w.DBGrid2, Qt::Key_Delete, Qt::ControlModifier);
            } else {
                click(w.btnEliminaNucleo);
            }
        };
        f.dialogs.answerNext(throughGrid ? DialogButton::Cancel : DialogButton::No);
        requestDelete();
        QCOMPARE(f.dialogs.shown.size(), 1);
        QCOMPARE(sql.count(kNucleo), families);
        QCOMPARE(f.column(f.nucleo(), "CODICE_NUCLEO"), QStringLiteral("QX100"));

        f.dialogs.answerNext(throughGrid ? DialogButton::Ok : DialogButton::Yes);
        requestDelete();
        QCOMPARE(f.dialogs.shown.size(), 2);  // no error
        QCOMPARE(sql.count(kNucleo), families - 1);
        QCOMPARE(sql.count(kMembers), members - 3);
        QCOMPARE(sql.count(kMembers, QStringLiteral("CODICE_NUCLEO = 'QX100'")), 0);
        QCOMPARE(sql.count(kMembers, QStringLiteral("CODICE_NUCLEO = 'QX200'")), 1);
        // The family unit that followed is current, with its members.
        QCOMPARE(f.column(f.nucleo(), "CODICE_NUCLEO"), QStringLiteral("QX200"));
        QCOMPARE(w.dbeNome->text(), QStringLiteral("PIA"));
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
            if (stored.contains(code))
                continue;
            stored.insert(code);
            sql.exec(QStringLiteral("INSERT INTO TBL_NUCLEO (CODICE_NUCLEO) VALUES (?)"), {code});
        }
        sql.exec(QStringLiteral("COMMIT"));
        QCOMPARE(sql.count(kNucleo, QStringLiteral("CODICE_NUCLEO LIKE 'QX%'")), 5000 + 3);
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
        const int families = sql.count(kNucleo);
        const int members = sql.count(kMembers);

        // "Crea Nucleo" with nothing typed, then a navigator move: abandoned.
        click(w.btnNewNucleo);
        click(w.DBNavigator2->button(DBNavigator::Next));
        QCOMPARE(f.nucleo().state(), dsBrowse);
        QCOMPARE(sql.count(kNucleo), families);
        // With something typed: stored without checks and without a code.
        click(w.btnNewNucleo);
        typeInto(w.dbeOspite, QStringLiteral("solo ospite"));
        clickGridRow(w.DBGrid2, 0);
        QCOMPARE(f.nucleo().state(), dsBrowse);
        QCOMPARE(sql.count(kNucleo), families + 1);
        QCOMPARE(sql.count(kNucleo, QStringLiteral("NOME_OSPITANTE = 'SOLO OSPITE' AND "
                                                   "CODICE_NUCLEO IS NULL")),
                 1);

        // A member edited with a change, then another family unit chosen:
        // stored as it is, without the host copy.
        f.nucleo().first();
        QCOMPARE(f.column(f.nucleo(), "CODICE_NUCLEO"), QStringLiteral("QX100"));
        click(w.btnEditAnag);
        typeInto(w.dbeFrontiera, QStringLiteral(" est"));
        clickGridRow(w.DBGrid2, 1);
        QCOMPARE(f.members().state(), dsBrowse);
        QCOMPARE(sql.row(QStringLiteral(
                     "SELECT FRONTIERA, TELEFONO FROM TBL_ANAGRAFICA WHERE NOME = 'ANNA'")),
                 QStringLiteral("POLONIA EST|<NULL>"));
        // A new member with nothing typed is abandoned when the family unit moves.
        f.nucleo().first();
        click(w.btnNewAnag);
        QCOMPARE(f.members().state(), dsInsert);
        clickGridRow(w.DBGrid2, f.nucleo().rowCount() - 1);
        QCOMPARE(f.members().state(), dsBrowse);
        QCOMPARE(sql.count(kMembers), members);
        QCOMPARE(f.dialogs.texts(), QStringList());  // none since the start

        // The family unit without a code can be deleted: it goes alone,
        // with no error.
        f.nucleo().first();
        while (!f.nucleo().fieldValue(QStringLiteral("CODICE_NUCLEO")).isNull())
            f.nucleo().next();
        f.dialogs.answerNext(DialogButton::Yes);
        click(w.btnEliminaNucleo);
        QCOMPARE(f.dialogs.shown.size(), 1);
        QCOMPARE(sql.count(kNucleo, QStringLiteral("CODICE_NUCLEO IS NULL")), 0);
        QCOMPARE(sql.count(kMembers), members);
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
        QCOMPARE(f.dialogs.texts(), QStringList());
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
        QCOMPARE(QDir(exports.path()).entryList(QDir::Files).size(), 2);
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
};

MARVESA_TEST_MAIN(TstCommands)
#include "tst_commands.moc"
