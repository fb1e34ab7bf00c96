// The family-unit, member and export commands, driven through the real
// window with the mouse and the keyboard, on real database files.

#include <QProgressDialog>
#include <QPushButton>
#include <QSet>
#include <QToolButton>
#include <QtTest>

#include "data/base/Error.h"
#include "data/base/Random.h"
#include "data/registry/FamilyCode.h"
#include "data/sql/PostgresEngine.h"
#include "data/sql/SqliteEngine.h"
#include "export/FileOpener.h"
#include "support/DataTestSupport.h"
#include "support/ScriptedProgress.h"
#include "support/TestApplication.h"
#include "support/WindowFixture.h"
#include "ui/services/ProgressDialog.h"
#include "ui/window/Commands.h"

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

    // "Nuovo" refuses a family unit whose code is only blanks (a text that
    // is blank, not only an empty one): the notice, and nothing inserted.
    void nuovoRefusesAFamilyUnitWithABlankCode_data() {
        QTest::addColumn<QString>("code");
        QTest::newRow("blanks") << u"   "_s;
        QTest::newRow("a tab first") << u"\tQX1"_s;
        QTest::newRow("empty") << QStringLiteral("");
    }
    void nuovoRefusesAFamilyUnitWithABlankCode() {
        QFETCH(QString, code);
        WindowFixture f(false);
        Sql sql(f.path);
        sql.exec(u"DELETE FROM TBL_ANAGRAFICA"_s);
        sql.exec(u"DELETE FROM TBL_NUCLEO"_s);
        sql.exec(u"INSERT INTO TBL_NUCLEO (CODICE_NUCLEO, DENOMINAZIONE) VALUES (?, 'SENZA')"_s,
                 {code});
        f.dm->DataModuleCreate(f.path);
        TfrmMain& w = f.w();
        QCOMPARE(f.column(f.nucleo(), "DENOMINAZIONE"), u"SENZA"_s);
        click(w.btnNewAnag);
        QCOMPARE(f.dialogs.texts(), QStringList{u"Nessun Nucleo Familiare Inserito"_s});
        QCOMPARE(f.members().state(), dsBrowse);
        click(w.btnSaveAnag);  // disabled: nothing to store
        QCOMPARE(sql.count(u"TBL_ANAGRAFICA"_s), 0);
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
        QCOMPARE(sql.row(u"SELECT "_s + sql.joined(u"CODICE_NUCLEO"_s, u"ID_NUCLEO"_s) +
                         u" FROM TBL_NUCLEO"_s),
                 u"QX200,QX300"_s);
        QCOMPARE(sql.row(u"SELECT "_s + sql.joined(u"NOME"_s, u"ID_ANAGRAFICA"_s) +
                         u" FROM TBL_ANAGRAFICA"_s),
                 u"PIA"_s);
    }

    // Another desk stores the code this one drew, before this one's "Salva":
    // the new family unit is stored under a new code, which the window
    // shows, and the other desk's family unit keeps its own.
    void aCodeTakenMeanwhileIsDrawnAgain() {
        WindowFixture f;
        TfrmMain& w = f.w();
        click(w.btnNewNucleo);
        const QString drawn = w.edtCodiceNucleo->caption();
        {
            TdmMarvesa other;
            other.DataModuleCreate(f.path);
            other.TBL_NUCLEO.insert();
            other.TBL_NUCLEO.setFieldValue(u"CODICE_NUCLEO"_s, Value::text(drawn));
            other.TBL_NUCLEO.setFieldValue(u"DENOMINAZIONE"_s, txt("ALTRA POSTAZIONE"));
            other.TBL_NUCLEO.post();
        }
        typeInto(w.edtDescNucleo, "famiglia test");
        typeInto(w.dbeOspite, "mario bianchi");
        typeInto(w.dbeComune, "Udine");
        typeInto(w.dbeIndirizzo, "via roma 1");
        typeInto(w.dbeTelefono, "0432 111222");
        click(w.btnSaveNucleo);
        QVERIFY(f.dialogs.shown.isEmpty());
        QCOMPARE(f.nucleo().state(), dsBrowse);
        const QString stored = w.edtCodiceNucleo->caption();
        QVERIFY2(stored != drawn && stored.startsWith(u"QX"_s), qPrintable(stored));
        Sql sql(f.path);
        QCOMPARE(sql.one(u"SELECT DENOMINAZIONE FROM TBL_NUCLEO WHERE CODICE_NUCLEO = ?"_s, {drawn})
                     .toString(),
                 u"ALTRA POSTAZIONE"_s);
        QCOMPARE(
            sql.one(u"SELECT DENOMINAZIONE FROM TBL_NUCLEO WHERE CODICE_NUCLEO = ?"_s, {stored})
                .toString(),
            u"FAMIGLIA TEST"_s);
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

    // Leaving a member being edited or a family unit being created (grid,
    // navigator) goes through the panel's "Salva": with a required field
    // missing, its message, and nothing moves or is stored; complete, the
    // row is stored as "Salva" stores it. An untouched new row is abandoned.
    void movingDuringCreationOrMemberEdit() {
        WindowFixture f;
        TfrmMain& w = f.w();
        Sql sql(f.path);
        const int families = sql.count(u"TBL_NUCLEO"_s);
        const int members = sql.count(u"TBL_ANAGRAFICA"_s);

        // LUCA's relationship is none of the list: clicking another family
        // unit gives the message, the family-unit table does not move and
        // the member stays in editing with what was typed.
        clickGridRow(w.DBGrid1, 1);
        QCOMPARE(text(f.members(), "NOME"), u"LUCA"_s);
        click(w.btnEditAnag);
        typeInto(w.dbeFrontiera, " est");
        clickGridRow(w.DBGrid2, 1);
        QCOMPARE(f.dialogs.texts(), QStringList{kMissing + u"Grado Parentela\r\r"_s});
        QCOMPARE(text(f.nucleo(), "CODICE_NUCLEO"), u"QX100"_s);
        QCOMPARE(f.members().state(), dsEdit);
        QCOMPARE(w.dbeFrontiera->text(), u"POLONIA EST"_s);
        QCOMPARE(sql.row(u"SELECT FRONTIERA FROM TBL_ANAGRAFICA WHERE NOME = 'LUCA'"_s),
                 u"POLONIA"_s);
        click(w.btnAnagAnnulla);

        // ANNA is complete: clicking another family unit stores her with the
        // host data of her family unit.
        clickGridRow(w.DBGrid1, 0);
        click(w.btnEditAnag);
        typeInto(w.dbeFrontiera, " est");
        clickGridRow(w.DBGrid2, 1);
        QCOMPARE(sql.row(u"SELECT FRONTIERA, NOME_OSPITANTE, COMUNE, INDIRIZZO, TELEFONO, "
                         "TERMINE_ALLOGGIO FROM TBL_ANAGRAFICA WHERE NOME = 'ANNA'"_s),
                 u"POLONIA EST|MARIO BIANCHI |Abano Terme|VIA ROMA 1|049 123456|<NULL>"_s);
        QCOMPARE(text(f.nucleo(), "CODICE_NUCLEO"), u"QX200"_s);

        // A new member of QX200 with only a surname, left through the member
        // grid: the message, nothing stored; complete, stored with the host
        // data of QX200.
        click(w.btnNewAnag);
        typeInto(w.dbeCognome, "kovalenko");
        clickGridRow(w.DBGrid1, 1);
        QCOMPARE(f.dialogs.texts().value(1),
                 kMissing +
                     u"Nome\r\rSesso\r\rData Nascita\r\rNazione Nascita\r\r"
                     "Cittadinanza\r\rGrado Parentela\r\rData Ingresso\r\r"
                     "Frontiera\r\r"_s);
        QCOMPARE(f.members().state(), dsInsert);
        QCOMPARE(sql.count(u"TBL_ANAGRAFICA"_s), members);
        typeInto(w.dbeNome, "olena");
        typeInto(w.dbeSesso, "F");
        typeInto(w.dbeDataNascita, "12/05/1984");
        typeInto(w.dbeNazNascita, "Ucraina");
        typeInto(w.dbeCittadinanza, "Ucraina");
        typeInto(w.dbeParentela, "Coniuge");
        typeInto(w.dbeDataIngresso, "04/03/2022");
        typeInto(w.dbeFrontiera, "polonia");
        clickGridRow(w.DBGrid1, 1);
        QCOMPARE(f.members().state(), dsBrowse);
        QCOMPARE(sql.row(u"SELECT CODICE_NUCLEO, NOME, NOME_OSPITANTE, COMUNE, TELEFONO, "
                         "TERMINE_ALLOGGIO FROM TBL_ANAGRAFICA WHERE COGNOME = 'KOVALENKO'"_s),
                 u"QX200|OLENA|GINO|Nessun Paese|049 123456|2025-06-30T00:00:00"_s);
        QCOMPARE(text(f.members(), "NOME"), u"PIA"_s);

        // An untouched new member and an untouched new family unit are
        // abandoned.
        click(w.btnNewAnag);
        clickGridRow(w.DBGrid2, 0);
        QCOMPARE(f.members().state(), dsBrowse);
        QCOMPARE(sql.count(u"TBL_ANAGRAFICA"_s), members + 1);
        click(w.btnNewNucleo);
        click(w.DBNavigator2->button(DBNavigator::Next));
        QCOMPARE(sql.count(u"TBL_NUCLEO"_s), families);
        QCOMPARE(f.dialogs.shown.size(), 2);

        // "Crea Nucleo" with only a description, then First: the message,
        // nothing stored, still inserting.
        click(w.btnNewNucleo);
        const QString code = w.edtCodiceNucleo->caption();
        typeInto(w.edtDescNucleo, "solo descrizione");
        click(w.DBNavigator2->button(DBNavigator::First));
        QCOMPARE(f.dialogs.texts().value(2),
                 kMissing + u"Ospitante\r\rComune\r\rIndirizzo\r\rTelefono\r\r"_s);
        QCOMPARE(f.nucleo().state(), dsInsert);
        QCOMPARE(sql.count(u"TBL_NUCLEO"_s), families);
        QCOMPARE(w.edtCodiceNucleo->caption(), code);

        // Every field filled: First stores it with its code, as "Salva" does.
        typeInto(w.dbeOspite, "mario bianchi");
        typeInto(w.dbeComune, "Udine");
        typeInto(w.dbeIndirizzo, "via roma 1");
        typeInto(w.dbeTelefono, "0432 111222");
        click(w.DBNavigator2->button(DBNavigator::First));
        QCOMPARE(f.nucleo().state(), dsBrowse);
        QCOMPARE(sql.row(u"SELECT CODICE_NUCLEO, DENOMINAZIONE, NOME_OSPITANTE, COMUNE "
                         "FROM TBL_NUCLEO ORDER BY ID_NUCLEO DESC LIMIT 1"_s),
                 code + u"|SOLO DESCRIZIONE|MARIO BIANCHI|Udine"_s);
        QCOMPARE(text(f.nucleo(), "CODICE_NUCLEO"), u"QX100"_s);

        // "Modifica" emptying the telephone, then Refresh: the message and
        // the stored row unchanged.
        click(w.btnEditNucleo);
        WindowFixture::focus(w.dbeTelefono);
        QTest::keyClick(w.dbeTelefono, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(w.dbeTelefono, Qt::Key_Delete);
        click(w.DBNavigator2->button(DBNavigator::Refresh));
        QCOMPARE(f.dialogs.texts().value(3), kMissing + u"Telefono\r\r"_s);
        QCOMPARE(f.nucleo().state(), dsEdit);
        QCOMPARE(sql.row(u"SELECT TELEFONO FROM TBL_NUCLEO WHERE CODICE_NUCLEO = 'QX100'"_s),
                 u"049 123456"_s);
        QCOMPARE(f.dialogs.shown.size(), 4);
    }

    // Another desk holds the database longer than the wait: the wait cursor
    // while waiting, then the Italian message; the typed member stays
    // pending, and "Salva" stores it once the database is free.
    void databaseHeldByAnotherDesk() {
        WindowFixture f(false);
        f.dm->cnQuaz.setEngineFactory([](const QString& p) -> std::unique_ptr<Engine> {
            if (onServer()) {
                auto engine = std::make_unique<PostgresEngine>(p);
                engine->setBusyTimeout(300);
                return engine;
            }
            auto engine = std::make_unique<SqliteEngine>(p);
            engine->setBusyTimeout(300);
            return engine;
        });
        f.dm->DataModuleCreate(f.path);
        TfrmMain& w = f.w();
        // Watches the window's own observer at work.
        struct Watch : BusyObserver {
            BusyObserver* window = nullptr;
            QList<int> cursors;
            void busyWaitStarted() override {
                window->busyWaitStarted();
                const QCursor* c = QGuiApplication::overrideCursor();
                cursors << (c ? int(c->shape()) : -1);
            }
            void busyWaitEnded() override { window->busyWaitEnded(); }
        } watch;
        watch.window = f.dm->cnQuaz.busyObserver();
        QVERIFY(watch.window);
        f.dm->cnQuaz.setBusyObserver(&watch);

        Sql other(f.path);
        click(w.btnEditAnag);
        typeInto(w.dbeFrontiera, " nord");
        if (other.onServer()) {
            // A server holds the row another desk is changing.
            other.exec(u"BEGIN"_s);
            other.exec(u"SELECT 1 FROM TBL_ANAGRAFICA WHERE NOME = 'ANNA' FOR UPDATE"_s);
        } else {
            other.exec(u"BEGIN IMMEDIATE"_s);
            other.exec(u"DELETE FROM TBL_EXPORT"_s);
        }
        click(w.btnSaveAnag);
        QCOMPARE(watch.cursors, QList<int>{int(Qt::WaitCursor)});
        QVERIFY(!QGuiApplication::overrideCursor());
        QCOMPARE(f.dialogs.texts(), QStringList{SqliteEngine::busyMessage() + u'.'});
        QCOMPARE(f.members().state(), dsEdit);
        QCOMPARE(w.dbeFrontiera->text(), u"POLONIA NORD"_s);
        other.exec(u"COMMIT"_s);
        click(w.btnSaveAnag);
        QCOMPARE(f.members().state(), dsBrowse);
        QCOMPARE(other.row(u"SELECT FRONTIERA FROM TBL_ANAGRAFICA WHERE NOME = 'ANNA'"_s),
                 u"POLONIA NORD"_s);
        QCOMPARE(f.dialogs.shown.size(), 1);
        f.dm->cnQuaz.setBusyObserver(watch.window);
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

    // "Annulla" in the progress dialog, while the spreadsheet is written or
    // while the staging table is filled: no file, the staging table as
    // before, "Esporta" enabled again, nothing shown. Meanwhile the wait
    // cursor shows and the progress speaks Italian.
    void annullaStopsTheExport_data() {
        QTest::addColumn<QString>("at");
        QTest::newRow("writing") << u"Scrittura del foglio di calcolo: "_s;
        QTest::newRow("staging") << u"Aggiornamento della tabella di esportazione: "_s;
    }
    void annullaStopsTheExport() {
        QFETCH(QString, at);
        WindowFixture f;
        Sql sql(f.path);
        sql.exec(u"INSERT INTO TBL_EXPORT (CODICE_NUCLEO, COGNOME) VALUES ('QX1', 'Vecchio')"_s);
        const QString before = sql.row(u"SELECT group_concat(COGNOME) FROM TBL_EXPORT"_s);
        QTemporaryDir exports;
        RecordingOpener opener;
        ScriptedProgress progress;
        progress.cancelAt(at, 1);
        setExportServices({exports.path(), &opener});
        click(f.w().btnExport);
        setExportServices({});
        QVERIFY(progress.cancelled);
        QVERIFY(!progress.running);
        QVERIFY(progress.waitCursorEachTime);
        QCOMPARE(QApplication::overrideCursor(), nullptr);
        QCOMPARE(progress.titles, QStringList{u"Gestione Emergenza Marvesa"_s});
        QCOMPARE(progress.texts.value(0), u"Scrittura del foglio di calcolo: 0 di 3 familiari"_s);
        QVERIFY(opener.opened.isEmpty());
        QVERIFY(QDir(exports.path()).isEmpty());
        QCOMPARE(sql.row(u"SELECT group_concat(COGNOME) FROM TBL_EXPORT"_s), before);
        QVERIFY(f.w().btnExport->isEnabled());
        QCOMPARE(f.dialogs.shown.size(), 0);
    }

    // Whatever was current, afterwards the window shows the first family
    // unit and its first member; meanwhile the bound controls are told once,
    // not for every member staged.
    void exportEndsOnTheFirstRows() {
        WindowFixture f;
        // Forty more members: following the staging member by member would
        // tell the controls at least once for each.
        Sql sql(f.path);
        for (int i = 0; i < 40; ++i)
            sql.addMember(u"QX300"_s, u"NERI"_s, u"N%1"_s.arg(i));
        clickGridRow(f.w().DBGrid2, 1);
        QCOMPARE(f.w().edtCodiceNucleo->caption(), u"QX200"_s);
        // Counts what the two data sources tell their bound controls.
        struct Counter : DataLink {
            int events = 0;
            void dataEvent(DataEvent, Field*) override { ++events; }
        } counter;
        f.dm->dsNUCLEO.addLink(&counter);
        f.dm->dsANAGRAFICA.addLink(&counter);
        QTemporaryDir exports;
        RecordingOpener opener;
        setExportServices({exports.path(), &opener});
        click(f.w().btnExport);
        setExportServices({});
        QCOMPARE(opener.opened.size(), 1);
        QCOMPARE(f.w().edtCodiceNucleo->caption(), u"QX100"_s);
        QCOMPARE(f.w().dbeNome->text(), u"ANNA"_s);
        QCOMPARE(f.nucleo().currentRow(), 0);
        QCOMPARE(f.members().currentRow(), 0);
        f.dm->dsNUCLEO.removeLink(&counter);
        f.dm->dsANAGRAFICA.removeLink(&counter);
        QVERIFY2(counter.events <= 16, qPrintable(QString::number(counter.events)));
    }

    // The program's own progress display: nothing during the first second,
    // then a modal dialog with the text, the bar and "Annulla", which stops
    // the command; gone when the command ends.
    void progressDialogAppearsAfterASecond() {
        WindowFixture f;
        ProgressDialog progress;
        const auto shown = [] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* d = qobject_cast<QProgressDialog*>(w); d && d->isVisible())
                    return d;
            return static_cast<QProgressDialog*>(nullptr);
        };
        progress.start(u"Gestione Emergenza Marvesa"_s);
        QVERIFY(progress.update(u"Passo 1 di 4"_s, 1, 4));
        QCOMPARE(shown(), nullptr);
        QTest::qWait(ProgressDialog::ShowAfterMs + 100);
        QVERIFY(progress.update(u"Passo 2 di 4"_s, 2, 4));
        QProgressDialog* box = shown();
        QVERIFY(box);
        QCOMPARE(box->windowTitle(), u"Gestione Emergenza Marvesa"_s);
        QCOMPARE(box->labelText(), u"Passo 2 di 4"_s);
        QCOMPARE(box->windowModality(), Qt::ApplicationModal);
        QPushButton* annulla = box->findChild<QPushButton*>();
        QVERIFY(annulla);
        QCOMPARE(annulla->text(), u"Annulla"_s);
        QTest::mouseClick(annulla, Qt::LeftButton);
        QVERIFY(!progress.update(u"Passo 3 di 4"_s, 3, 4));
        progress.finish();
        QCOMPARE(shown(), nullptr);
    }
};

MARVESA_TEST_MAIN(TstCommands)
#include "tst_commands.moc"
