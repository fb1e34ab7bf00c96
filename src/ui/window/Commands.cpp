// The command buttons of the two panels and "Esporta".

#include "ui/window/Commands.h"

#include <QPair>
#include <QVector>

#include "data/base/Error.h"
#include "data/base/TextRules.h"
#include "data/registry/DataModule.h"
#include "data/registry/DuplicateCheck.h"
#include "data/registry/FamilyCode.h"
#include "data/registry/FamilyUnitDeletion.h"
#include "data/registry/Navigation.h"
#include "export/FileOpener.h"
#include "export/SpreadsheetOutput.h"
#include "export/XltxWorkbookWriter.h"
#include "ui/services/Dialogs.h"
#include "ui/services/DuplicateReview.h"
#include "ui/services/Progress.h"
#include "ui/services/WaitCursor.h"
#include "ui/window/MainWindow.h"

namespace marvesa {

namespace {

const QString kRequiredFields = QStringLiteral("I seguenti Campi sono Obbligatori");
const QString kTwoReturns = QStringLiteral("\r\r");

// How many codes "Salva" draws for a new family unit when others keep taking
// them first.
constexpr int kCodeAttempts = 20;

// A required field: the name the operator reads and the text its control shows.
using RequiredField = QPair<QString, QString>;

// The required-field message, or nothing when no field is missing. A field
// is missing when its control shows blank text.
QString missingFieldsMessage(const QVector<RequiredField>& fields) {
    QString list;
    for (const RequiredField& f : fields) {
        if (isBlankText(f.second))
            list += f.first + kTwoReturns;
    }
    return list.isEmpty() ? QString() : kRequiredFields + kTwoReturns + list;
}

// Reports the missing required fields; true when there were any.
bool refuseMissingFields(const QVector<RequiredField>& fields) {
    const QString message = missingFieldsMessage(fields);
    if (message.isEmpty())
        return false;
    Dialogs::inform(message);
    return true;
}

TdmMarvesa& dataModule(const TfrmMain& window) {
    if (!window.dm())
        throw Error(QStringLiteral("Il modulo dati non è disponibile"));
    return *window.dm();
}

ExportServices g_exportServices;

}  // namespace

void setExportServices(ExportServices services) {
    g_exportServices = std::move(services);
}

namespace {

// Another desk added members to the family unit being deleted after this
// one showed them.
QString moreMembersMessage(const QString& code, int shown, int stored) {
    const QString text =
        QStringLiteral(
            "Un'altra postazione ha aggiunto familiari al Nucleo Familiare %1 dopo "
            "che è stato mostrato.") +
        kTwoReturns + QStringLiteral("Familiari mostrati: %2\rFamiliari nel database: %3") +
        kTwoReturns + QStringLiteral("Cancellare il Nucleo Familiare con tutti i suoi familiari?");
    return text.arg(code).arg(shown).arg(stored);
}

}  // namespace

void deleteFamilyUnitWithMembers(TdmMarvesa& dm) {
    // The members the operator was asked about are those shown. When the
    // database holds more (another desk stored them meanwhile), the operator
    // is told and asked again before anything is deleted.
    int agreed = dm.TBL_ANAGRAFICA.active() ? dm.TBL_ANAGRAFICA.recordCount() : 0;
    for (;;) {
        const FamilyUnitDeletion deletion = deleteCurrentFamilyUnit(dm, agreed);
        if (deletion.deleted)
            return;
        const QString code =
            dm.TBL_NUCLEO.fieldByName(QStringLiteral("CODICE_NUCLEO"))->displayText();
        if (!Dialogs::confirm(moreMembersMessage(code, agreed, deletion.storedMembers)))
            return;
        agreed = deletion.storedMembers;
    }
}

// ------------------------------------------------------------ family unit

void TfrmMain::btnNewNucleoClick() {
    TdmMarvesa& dm = dataModule(*this);
    dm.TBL_NUCLEO.insert();
    edtDescNucleo->setFocus();
    const QString code =
        drawFamilyCode([&dm](const QString& c) { return familyCodeStored(dm, c); });
    edtCodiceNucleo->setCaption(code);
}

void TfrmMain::btnEditNucleoClick() {
    dataModule(*this).TBL_NUCLEO.edit();
    edtDescNucleo->setFocus();
}

void TfrmMain::btnAnnNucleoClick() {
    dataModule(*this).TBL_NUCLEO.cancel();
}

bool TfrmMain::prepareNucleoForStoring() {
    TdmMarvesa& dm = dataModule(*this);
    if (refuseMissingFields({{QStringLiteral("Descrizione Nucleo"), edtDescNucleo->text()},
                             {QStringLiteral("Ospitante"), dbeOspite->text()},
                             {QStringLiteral("Comune"), dbeComune->text()},
                             {QStringLiteral("Indirizzo"), dbeIndirizzo->text()},
                             {QStringLiteral("Telefono"), dbeTelefono->text()}})) {
        return false;
    }
    dm.TBL_NUCLEO.setFieldValue(QStringLiteral("CODICE_NUCLEO"),
                                Value::text(edtCodiceNucleo->caption()));
    return true;
}

void TfrmMain::btnSaveNucleoClick() {
    if (!prepareNucleoForStoring())
        return;
    TdmMarvesa& dm = dataModule(*this);
    // Another desk may have stored the drawn code since it was drawn: the
    // database refuses a code it already holds, and a new family unit then
    // takes a new code, shown as it is stored.
    for (int attempt = 1;; ++attempt) {
        try {
            dm.TBL_NUCLEO.post();
            return;
        } catch (const UniqueViolation& e) {
            if (dm.TBL_NUCLEO.state() != dsInsert || attempt >= kCodeAttempts ||
                !e.index().contains(QLatin1String("CODICE_NUCLEO"))) {
                throw;
            }
        }
        const QString code =
            drawFamilyCode([&dm](const QString& c) { return familyCodeStored(dm, c); });
        edtCodiceNucleo->setCaption(code);
        dm.TBL_NUCLEO.setFieldValue(QStringLiteral("CODICE_NUCLEO"), Value::text(code));
    }
}

void TfrmMain::TBL_NUCLEOBeforeImplicitPost() {
    if (!prepareNucleoForStoring())
        throw Abort();
}

void TfrmMain::btnEliminaNucleoClick() {
    if (!Dialogs::confirm(QStringLiteral("La procedura Cancellerà il Codice Nucleo Familiare") +
                          kTwoReturns + QStringLiteral("e relativi Familiari"))) {
        return;
    }
    deleteFamilyUnitWithMembers(dataModule(*this));
}

// ----------------------------------------------------------------- member

void TfrmMain::btnNewAnagClick() {
    TdmMarvesa& dm = dataModule(*this);
    if (isBlankText(DBEdit1->text())) {
        Dialogs::notice(QStringLiteral("Nessun Nucleo Familiare Inserito"));
        dm.TBL_ANAGRAFICA.cancel();
        return;
    }
    dm.TBL_ANAGRAFICA.insert();
    dbeCognome->setFocus();
}

void TfrmMain::btnEditAnagClick() {
    TdmMarvesa& dm = dataModule(*this);
    if (isBlankText(dbeCognome->text())) {
        Dialogs::notice(QStringLiteral("Nessun Familiare Inserito"));
        dm.TBL_ANAGRAFICA.cancel();
        return;
    }
    dm.TBL_ANAGRAFICA.edit();
    dbeCognome->setFocus();
}

void TfrmMain::btnAnagAnnullaClick() {
    dataModule(*this).TBL_ANAGRAFICA.cancel();
}

bool TfrmMain::prepareAnagForStoring() {
    TdmMarvesa& dm = dataModule(*this);
    if (refuseMissingFields({{QStringLiteral("Cognome"), dbeCognome->text()},
                             {QStringLiteral("Nome"), dbeNome->text()},
                             {QStringLiteral("Sesso"), dbeSesso->text()},
                             {QStringLiteral("Data Nascita"), dbeDataNascita->text()},
                             {QStringLiteral("Nazione Nascita"), dbeNazNascita->text()},
                             {QStringLiteral("Cittadinanza"), dbeCittadinanza->text()},
                             {QStringLiteral("Grado Parentela"), dbeParentela->text()},
                             {QStringLiteral("Data Ingresso"), dbeDataIngresso->text()},
                             {QStringLiteral("Frontiera"), dbeFrontiera->text()},
                             {QStringLiteral("Telefono"), dbeTelefono->text()}})) {
        return false;
    }
    // The member keeps the host data of its family unit as they are now.
    for (const char* column :
         {"NOME_OSPITANTE", "COMUNE", "INDIRIZZO", "TELEFONO", "TERMINE_ALLOGGIO"}) {
        const QString name = QString::fromLatin1(column);
        dm.TBL_ANAGRAFICA.setFieldValue(name, dm.TBL_NUCLEO.fieldValue(name));
    }
    return true;
}

bool TfrmMain::reviewAnagDuplicates(QSet<qint64>* different) {
    TdmMarvesa& dm = dataModule(*this);
    DataSet& members = dm.TBL_ANAGRAFICA;
    Engine& engine = dm.cnQuaz.engine();
    // The member as its fields show it, as the required-field check read it.
    const QDate birth = parseDateText(dbeDataNascita->text(), QDate::currentDate().year());
    const qint64 self = members.state() == dsEdit
                            ? qint64(members.fieldValue(QStringLiteral("ID_ANAGRAFICA")).toDouble())
                            : 0;
    DuplicateReviewRequest request;
    {
        const WaitCursor wait;
        request.matches =
            duplicates::find(engine, dbeCognome->text(), dbeNome->text(), birth, self);
    }
    if (request.matches.empty())
        return true;
    request.surname = dbeCognome->text();
    request.name = dbeNome->text();
    request.birth = dbeDataNascita->text();
    request.family = (DBEdit1->text() + QLatin1Char(' ') + edtDescNucleo->text()).trimmed();
    const DuplicateDecision decision = DuplicateReview::instance().review(request);
    switch (decision.action) {
        case DuplicateDecision::Action::Store:
            *different = decision.different;
            return true;
        case DuplicateDecision::Action::Back:
            dbeCognome->setFocus(Qt::OtherFocusReason);
            return false;
        case DuplicateDecision::Action::GoTo:
            members.cancel();
            if (goToFamilyUnitAndMember(dm, decision.goToFamily, decision.goToMember) !=
                GoToOutcome::Done) {
                Dialogs::inform(QStringLiteral("Il componente non esiste più."));
            }
            return false;
    }
    return false;
}

void TfrmMain::btnSaveAnagClick() {
    if (!prepareAnagForStoring())
        return;
    // The duplicates after the required fields, before anything is stored.
    QSet<qint64> different;
    if (!reviewAnagDuplicates(&different))
        return;
    TdmMarvesa& dm = dataModule(*this);
    dm.TBL_ANAGRAFICA.post();
    // The stored member's name key, and the people it was declared not to be.
    const qint64 id =
        qint64(dm.TBL_ANAGRAFICA.fieldValue(QStringLiteral("ID_ANAGRAFICA")).toDouble());
    Engine& engine = dm.cnQuaz.engine();
    duplicates::storeKey(engine, id);
    for (qint64 other : different)
        duplicates::declareDifferent(engine, id, other);
}

void TfrmMain::TBL_ANAGRAFICABeforeImplicitPost() {
    if (!prepareAnagForStoring())
        throw Abort();
}

void TfrmMain::btnDelAnagClick() {
    // Only a surname above "!" in code-unit order: not blank, not "!" itself.
    if (!(dbeCognome->text() > QStringLiteral("!")))
        return;
    if (!Dialogs::confirm(QStringLiteral("Procedere con la Cancellazione")))
        return;
    dataModule(*this).TBL_ANAGRAFICA.remove();
}

// ----------------------------------------------------------------- export

namespace {

// Tells the progress display how far "Esporta" has come, in its own words.
class ExportProgressReport : public ExportProgress {
public:
    ExportProgressReport() { Progress::instance().start(kWindowTitle); }
    ~ExportProgressReport() override { Progress::instance().finish(); }
    ExportProgressReport(const ExportProgressReport&) = delete;
    ExportProgressReport& operator=(const ExportProgressReport&) = delete;

    bool advance(Phase phase, std::int64_t done, std::int64_t total) override {
        const QString text =
            phase == Phase::Writing
                ? QStringLiteral("Scrittura del foglio di calcolo: %1 di %2 familiari")
                : QStringLiteral("Aggiornamento della tabella di esportazione: %1 di %2 righe");
        return Progress::instance().update(text.arg(done).arg(total), done, total);
    }
};

}  // namespace

void TfrmMain::btnExportClick() {
    TdmMarvesa& dm = dataModule(*this);
    btnExport->setEnabled(false);
    ExportOutcome outcome;
    {
        WaitCursor wait;
        ExportProgressReport progress;
        XltxWorkbookWriter writer(g_exportServices.folder);
        outcome = runExport(dm, writer, nullptr, &progress);
    }
    // "Annulla": nothing was changed and no file made.
    if (outcome.cancelled) {
        btnExport->setEnabled(roleRefusal(cbExport).isEmpty());
        return;
    }
    if (outcome.staged < 1) {
        Dialogs::notice(QStringLiteral("Non ci sono Dati da Esporatare"));
    } else {
        DesktopFileOpener desktop;
        FileOpener& opener = g_exportServices.opener ? *g_exportServices.opener : desktop;
        opener.open(outcome.file);
    }
    btnExport->setEnabled(roleRefusal(cbExport).isEmpty());
}

}  // namespace marvesa
