// The family-unit, member and export commands, driven through the real
// window with the mouse and the keyboard, on real database files.

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
using namespace Qt::StringLiterals;

namespace {

const QString kMissing = u"I seguenti Campi sono Obbligatori\r\r"_s;

void click(QWidget* button) {
    QTest::mouseClick(button, Qt::LeftButton);
}

// Types into a control after clicking into it, as the operator does.
void typeInto(QWidget* control, const char* text) {
    WindowFixture::focus(control);
    QTest::keyClicks(control, QString::fromUtf8(text));
}

// Remembers the exported files instead of showing them; with `refuse`,
// fails as a desktop without a spreadsheet application would.
class RecordingOpener : public FileOpener {
public:
    QStringList opened;
    bool refuse = false;
    void open(const QString& path) override {
        if (refuse)
            throw Error(u"Nessuna applicazione per %1"_s.arg(path));
        opened << path;
    }
};

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

class TstCommands : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { TemplateDatabase::path(); }

    // "Salva" refuses what lacks a required field, with the list of the
    // missing ones, and stores the rest.
    void storingFamilyUnitsAndMembers() {
        WindowFixture f;
        TfrmMain& w = f.w();
        Sql sql(f.path);
        const int families = sql.count(u"TBL_NUCLEO"_s);

        // A family unit without description and telephone, then one whose
        // description is blanks.
        click(w.btnNewNucleo);
        const QString code = w.edtCodiceNucleo->caption();
        typeInto(w.dbeOspite, "mario bianchi");
        typeInto(w.dbeComune, "Udine");
        typeInto(w.dbeIndirizzo, "via roma 1");
        click(w.btnSaveNucleo);
        QCOMPARE(f.dialogs.texts().value(0), kMissing + u"Descrizione Nucleo\r\rTelefono\r\r"_s);
        typeInto(w.edtDescNucleo, "    ");
        typeInto(w.dbeTelefono, "0432 111222");
        click(w.btnSaveNucleo);
        QCOMPARE(f.dialogs.texts().value(1), kMissing + u"Descrizione Nucleo\r\r"_s);

        // Complete, it is stored with its drawn code and no end of hosting.
        typeInto(w.edtDescNucleo, "famiglia test");
        click(w.btnSaveNucleo);
        const QString storedFamily =
            u"SELECT CODICE_NUCLEO, NOME_OSPITANTE, TERMINE_ALLOGGIO FROM TBL_NUCLEO "
            "ORDER BY ID_NUCLEO DESC LIMIT 1"_s;
        QCOMPARE(sql.row(storedFamily), code + u"|MARIO BIANCHI|<NULL>"_s);

        // A member without surname, sex and entry date is refused; complete,
        // it carries the family unit's code and host data.
        click(w.btnNewAnag);
        typeInto(w.dbeNome, "olena");
        typeInto(w.dbeDataNascita, "12/05/1984");
        typeInto(w.dbeNazNascita, "Ucraina");
        typeInto(w.dbeCittadinanza, "Ucraina");
        typeInto(w.dbeParentela, "Coniuge");
        typeInto(w.dbeFrontiera, "polonia");
        click(w.btnSaveAnag);
        QCOMPARE(f.dialogs.texts().value(2), kMissing + u"Cognome\r\rSesso\r\rData Ingresso\r\r"_s);
        typeInto(w.dbeSesso, "F");
        typeInto(w.dbeDataIngresso, "04/03/2022");
        typeInto(w.dbeCognome, "kovalenko");
        click(w.btnSaveAnag);
        const QString storedMember =
            u"SELECT CODICE_NUCLEO, NOME_OSPITANTE, COMUNE, INDIRIZZO, TELEFONO, TERMINE_ALLOGGIO "
            "FROM TBL_ANAGRAFICA WHERE COGNOME = 'KOVALENKO'"_s;
        const QString host = code + u"|MARIO BIANCHI|Udine|VIA ROMA 1|0432 111222|<NULL>"_s;
        QCOMPARE(sql.row(storedMember), host);

        // "Modifica", "Salva" keeps the code; the stored member keeps its host.
        click(w.btnEditNucleo);
        typeInto(w.dbeOspite, " nuovo");
        click(w.btnSaveNucleo);
        QCOMPARE(sql.row(storedFamily), code + u"|MARIO BIANCHI NUOVO|<NULL>"_s);
        QCOMPARE(sql.row(storedMember), host);

        // A family unit whose telephone is blank blocks every member "Salva".
        change(f.nucleo(), "TELEFONO", " ");
        click(w.btnEditAnag);
        click(w.btnSaveAnag);
        QCOMPARE(f.dialogs.texts().value(3), kMissing + u"Telefono\r\r"_s);
        click(w.btnAnagAnnulla);

        // A municipality never chosen is missing; "Annulla" then stores
        // nothing and shows the current code again.
        click(w.btnNewNucleo);
        typeInto(w.edtDescNucleo, "d");
        typeInto(w.dbeOspite, "o");
        typeInto(w.dbeIndirizzo, "i");
        typeInto(w.dbeTelefono, "1");
        click(w.btnSaveNucleo);
        QCOMPARE(f.dialogs.texts().value(4), kMissing + u"Comune\r\r"_s);
        click(w.btnAnnNucleo);
        QCOMPARE(w.edtCodiceNucleo->caption(), code);
        QCOMPARE(sql.count(u"TBL_NUCLEO"_s), families + 1);
        QCOMPARE(f.dialogs.shown.size(), 5);
    }

    // The member "Salva": each required field left blank in turn gives its
    // own line and stores nothing; complete, the member receives all five
    // host columns of its family unit.
    void memberSalvaChecksEachFieldAndCopiesTheHost() {
        WindowFixture f;
        TfrmMain& w = f.w();
        Sql sql(f.path);
        // QX200, with an end of hosting, and its member PIA, whose own host
        // columns are empty.
        clickGridRow(w.DBGrid2, 1);
        QCOMPARE(w.dbeNome->text(), u"PIA"_s);
        const QString hostColumns =
            u"NOME_OSPITANTE, COMUNE, INDIRIZZO, TELEFONO, TERMINE_ALLOGGIO"_s;
        const QString storedMember =
            u"SELECT "_s + hostColumns + u" FROM TBL_ANAGRAFICA WHERE NOME = 'PIA'"_s;
        QCOMPARE(sql.row(storedMember), u"<NULL>|<NULL>|<NULL>|<NULL>|<NULL>"_s);

        // A column value that leaves its control blank: an empty text, no
        // date, an item or a country that is not in the list.
        const struct {
            const char* column;
            Value blank;
            const char* line;
        } cases[] = {
            {"COGNOME", Value::text(QString()), "Cognome"},
            {"NOME", Value::text(u" "_s), "Nome"},
            {"SESSO", Value::text(u"X"_s), "Sesso"},
            {"DATA_NASCITA", Value(), "Data Nascita"},
            {"NAZIONE_NASCITA", Value::text(u"Atlantide"_s), "Nazione Nascita"},
            {"CITTADINANZA", Value::text(QString()), "Cittadinanza"},
            {"GRADO_PARENTELA", Value::text(u"Vicino"_s), "Grado Parentela"},
            {"DATA_INGRESSO", Value(), "Data Ingresso"},
            {"FRONTIERA", Value::text(u"\t"_s), "Frontiera"},
            {"TELEFONO", Value::text(u" "_s), "Telefono"},  // the family unit's
        };
        for (const auto& c : cases) {
            const bool family = QByteArray(c.column) == "TELEFONO";
            if (family)
                change(f.nucleo(), c.column, " ");
            click(w.btnEditAnag);
            if (!family)
                f.members().setFieldValue(QString::fromLatin1(c.column), c.blank);
            f.dialogs.clear();
            click(w.btnSaveAnag);
            QCOMPARE(f.dialogs.texts(),
                     QStringList{kMissing + QString::fromLatin1(c.line) + u"\r\r"_s});
            QCOMPARE(f.members().state(), dsEdit);
            click(w.btnAnagAnnulla);
            if (family)
                change(f.nucleo(), c.column, "049 123456");
            QCOMPARE(sql.row(storedMember), u"<NULL>|<NULL>|<NULL>|<NULL>|<NULL>"_s);
        }

        f.dialogs.clear();
        click(w.btnEditAnag);
        click(w.btnSaveAnag);
        QCOMPARE(f.dialogs.texts(), QStringList());
        const QString host = sql.row(u"SELECT "_s + hostColumns +
                                     u" FROM TBL_NUCLEO WHERE CODICE_NUCLEO = 'QX200'"_s);
        QVERIFY2(!host.contains(u"<NULL>"_s), qPrintable(host));
        QCOMPARE(sql.row(storedMember), host);
    }

    // "Esporta" gives the notice and no file and is enabled again; the
    // member panel's "Modifica" and "Elimina" find no member, its "Nuovo" no
    // family unit.
    void nothingToExport_data() {
        QTest::addColumn<bool>("familyUnits");
        QTest::addColumn<QString>("boxes");
        QTest::newRow("no family units") << false
                                         << u"Non ci sono Dati da Esporatare|Nessun Familiare "
                                            "Inserito|Nessun Nucleo Familiare Inserito"_s;
        QTest::newRow("none with members")
            << true << u"Non ci sono Dati da Esporatare|Nessun Familiare Inserito"_s;
    }
    void nothingToExport() {
        QFETCH(bool, familyUnits);
        QFETCH(QString, boxes);
        WindowFixture f(false);
        Sql(f.path).exec(u"DELETE FROM TBL_ANAGRAFICA"_s);
        if (!familyUnits)
            Sql(f.path).exec(u"DELETE FROM TBL_NUCLEO"_s);
        f.dm->DataModuleCreate(f.path);
        TfrmMain& w = f.w();
        QTemporaryDir exports;
        RecordingOpener opener;
        setExportServices({exports.path(), &opener});
        click(w.btnExport);
        setExportServices({});
        QVERIFY(QDir(exports.path()).isEmpty());
        QVERIFY(w.btnExport->isEnabled());
        click(w.btnEditAnag);
        click(w.btnDelAnag);
        QCOMPARE(f.members().state(), dsBrowse);
        click(w.btnNewAnag);
        QCOMPARE(f.dialogs.texts(), boxes.split(u'|'));
    }

    // "Elimina" and Ctrl+Delete in the list remove the family unit and its
    // three members, and nothing else.
    void deletingAFamilyUnitTakesItsMembers_data() {
        QTest::addColumn<bool>("throughGrid");
        QTest::newRow("Elimina") << false;
        QTest::newRow("Ctrl+Delete in the list") << true;
    }
    void deletingAFamilyUnitTakesItsMembers() {
        QFETCH(bool, throughGrid);
        WindowFixture f;
        Sql sql(f.path);
        add(f.members(), "COGNOME", "ROSSI");  // a third member for QX100
        const auto deleteFirst = [&](DialogButton answer) {
            f.dialogs.answerNext(answer);
            if (throughGrid) {
                clickGridRow(f.w().DBGrid2, 0);
                QTest::keyClick(f.w().DBGrid2, Qt::Key_Delete, Qt::ControlModifier);
            } else {
                click(f.w().btnEliminaNucleo);
            }
        };
        // Refused, nothing goes; granted, the family unit and its members go.
        deleteFirst(throughGrid ? DialogButton::Cancel : DialogButton::No);
        QCOMPARE(sql.count(u"TBL_NUCLEO"_s), 3);
        QCOMPARE(sql.count(u"TBL_ANAGRAFICA"_s), 4);
        deleteFirst(throughGrid ? DialogButton::Ok : DialogButton::Yes);
        QCOMPARE(f.dialogs.shown.size(), 2);
        QCOMPARE(sql.row(u"SELECT group_concat(CODICE_NUCLEO) FROM TBL_NUCLEO"_s),
                 u"QX200,QX300"_s);
        QCOMPARE(sql.row(u"SELECT group_concat(NOME) FROM TBL_ANAGRAFICA"_s), u"PIA"_s);
    }

    // A member goes only when the question is answered yes.
    void deletingAMemberAsksFirst() {
        WindowFixture f;
        Sql sql(f.path);
        const int stored = sql.count(u"TBL_ANAGRAFICA"_s);
        const QString id = text(f.members(), "ID_ANAGRAFICA");
        f.dialogs.answerNext(DialogButton::No);
        click(f.w().btnDelAnag);
        QCOMPARE(f.dialogs.texts(), QStringList{u"Procedere con la Cancellazione"_s});
        QCOMPARE(sql.count(u"TBL_ANAGRAFICA"_s), stored);
        f.dialogs.answerNext(DialogButton::Yes);
        click(f.w().btnDelAnag);
        QCOMPARE(sql.count(u"TBL_ANAGRAFICA"_s), stored - 1);
        QCOMPARE(sql.count(u"TBL_ANAGRAFICA"_s, u"ID_ANAGRAFICA = "_s + id), 0);
    }

    // The first 5,000 codes a seed draws are stored; 10,000 draws from the
    // same seed meet all of them first and must pass them over.
    void drawnCodesAreNeverStoredOnes() {
        WindowFixture f;
        Sql sql(f.path);
        Random::seed(20261209);
        QSet<QString> stored;
        while (stored.size() < 5000)
            stored.insert(drawFamilyCode(nullptr));
        sql.exec(u"BEGIN"_s);
        for (const QString& code : stored)
            sql.exec(u"INSERT INTO TBL_NUCLEO (CODICE_NUCLEO) VALUES (?)"_s, {code});
        sql.exec(u"COMMIT"_s);
        QCOMPARE(sql.count(u"TBL_NUCLEO"_s), 5000 + 3);
        Random::seed(20261209);
        for (int i = 0; i < 10000; ++i) {
            f.w().btnNewNucleoClick();
            QVERIFY(!stored.contains(f.w().edtCodiceNucleo->caption()));
            f.w().btnAnnNucleoClick();
        }
    }

    // Moving during a member edit or "Crea Nucleo" stores what was typed,
    // without checks, and abandons an untouched new row.
    void movingDuringCreationOrMemberEdit() {
        WindowFixture f;
        TfrmMain& w = f.w();
        Sql sql(f.path);
        const int families = sql.count(u"TBL_NUCLEO"_s);
        const int members = sql.count(u"TBL_ANAGRAFICA"_s);

        // A changed member is stored without the host copy; an untouched new
        // one is abandoned.
        click(w.btnEditAnag);
        typeInto(w.dbeFrontiera, " est");
        clickGridRow(w.DBGrid2, 1);
        QCOMPARE(sql.row(u"SELECT FRONTIERA, TELEFONO FROM TBL_ANAGRAFICA WHERE NOME = 'ANNA'"_s),
                 u"POLONIA EST|<NULL>"_s);
        click(w.btnNewAnag);
        clickGridRow(w.DBGrid2, 0);
        QCOMPARE(f.members().state(), dsBrowse);
        QCOMPARE(sql.count(u"TBL_ANAGRAFICA"_s), members);

        // An untouched new family unit is abandoned; one with something
        // typed is stored without its code.
        click(w.btnNewNucleo);
        click(w.DBNavigator2->button(DBNavigator::Next));
        QCOMPARE(sql.count(u"TBL_NUCLEO"_s), families);
        click(w.btnNewNucleo);
        typeInto(w.dbeOspite, "solo ospite");
        clickGridRow(w.DBGrid2, 0);
        QCOMPARE(
            sql.row(u"SELECT CODICE_NUCLEO FROM TBL_NUCLEO WHERE NOME_OSPITANTE = 'SOLO OSPITE'"_s),
            u"<NULL>"_s);
        QCOMPARE(f.dialogs.texts(), QStringList());
    }

    // A second export makes a second file and leaves the first alone. When
    // nothing can open the file, the error is shown, the staging table stays
    // complete and "Esporta" stays disabled.
    void twoExportsGiveTwoFiles() {
        WindowFixture f;
        QTemporaryDir exports;
        RecordingOpener opener;
        setExportServices({exports.path(), &opener});
        click(f.w().btnExport);
        const QByteArray first = contents(opener.opened.value(0));
        click(f.w().btnExport);
        QCOMPARE(opener.opened.size(), 2);
        QCOMPARE(QDir(exports.path()).entryList(QDir::Files).size(), 2);
        QVERIFY(!first.isEmpty());
        QCOMPARE(contents(opener.opened[0]), first);

        opener.refuse = true;
        click(f.w().btnExport);
        setExportServices({});
        QCOMPARE(f.dialogs.shown.size(), 1);
        QVERIFY(f.dialogs.shown[0].text.startsWith(u"Nessuna applicazione per "_s));
        QCOMPARE(f.dialogs.shown[0].icon, DialogIcon::Error);
        QCOMPARE(Sql(f.path).count(u"TBL_EXPORT"_s), Sql(f.path).count(u"TBL_ANAGRAFICA"_s));
        QVERIFY(!f.w().btnExport->isEnabled());
    }
};

MARVESA_TEST_MAIN(TstCommands)
#include "tst_commands.moc"
