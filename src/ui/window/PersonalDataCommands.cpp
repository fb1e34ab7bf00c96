#include "ui/window/PersonalDataCommands.h"

#include <QHash>
#include <QListWidget>
#include <QPushButton>
#include <QShortcut>

#include "data/base/Error.h"
#include "data/base/TextRules.h"
#include "data/registry/Anonymisation.h"
#include "data/registry/DataModule.h"
#include "data/registry/History.h"
#include "data/registry/HistoryLines.h"
#include "data/sql/QtSqlEngine.h"
#include "ui/services/Dialogs.h"
#include "ui/services/ErrorReport.h"
#include "ui/services/WaitCursor.h"
#include "ui/window/MainWindow.h"
#include "ui/window/OfficeCommands.h"
#include "ui/window/WindowLayout.h"

namespace marvesa {

namespace {

// How many rows "Tutto lo storico" shows.
constexpr int kWholeHistoryRows = 500;

const char* const kOwnToolTip = "marvesaToolTip";

bool isEditing(const DataSource& ds) {
    return ds.state() == dsEdit || ds.state() == dsInsert;
}

QtSqlEngine& sqlEngine(TdmMarvesa& dm) {
    if (!dm.cnQuaz.isConnected())
        throw Error(QStringLiteral("Il database non è aperto"));
    auto* engine = dynamic_cast<QtSqlEngine*>(&dm.cnQuaz.engine());
    if (!engine)
        throw Error(QStringLiteral("Lo storico non è disponibile per questo database"));
    return *engine;
}

// Shows a button usable or not, with the reason in its tooltip and its
// description (read by a screen reader) when it is not.
void allow(QPushButton* button, const QString& refusal) {
    if (!button->property(kOwnToolTip).isValid())
        button->setProperty(kOwnToolTip, button->toolTip());
    const QString own = button->property(kOwnToolTip).toString();
    button->setEnabled(refusal.isEmpty());
    button->setToolTip(refusal.isEmpty() ? own : refusal);
    button->setAccessibleDescription(refusal.isEmpty() ? own : refusal);
}

QString unitsText(int n) {
    return n == 1 ? QStringLiteral("1 nucleo familiare")
                  : QStringLiteral("%1 nuclei familiari").arg(n);
}

QString membersText(int n) {
    return n == 1 ? QStringLiteral("1 componente") : QStringLiteral("%1 componenti").arg(n);
}

QString text(const DataSet& table, const char* column) {
    const Value v = table.fieldValue(QString::fromLatin1(column));
    return v.isNull() ? QString() : v.toText();
}

}  // namespace

PersonalDataCommands::PersonalDataCommands(TfrmMain& window)
    : QObject(&window), m_window(window), m_clock([] { return QDate::currentDate(); }) {
    setObjectName(QStringLiteral("personalDataCommands"));
    for (const layout::OfficeButtonEntry& entry : layout::recordButtons()) {
        auto* button = new QPushButton(QString::fromUtf8(entry.caption), &window);
        button->setObjectName(QString::fromLatin1(entry.name));
        button->setGeometry(entry.rect);
        button->setFocusPolicy(Qt::NoFocus);
        button->setAutoDefault(false);
        button->setAccessibleName(QString::fromUtf8(entry.caption));
        button->setToolTip(QString::fromUtf8(entry.toolTip));
        button->setAccessibleDescription(QString::fromUtf8(entry.toolTip));
        button->show();
        const QString name = button->objectName();
        if (name == QLatin1String("btnStorico"))
            m_history = button;
        else if (name == QLatin1String("btnAnonimizza"))
            m_anonymise = button;
        else
            m_erase = button;
    }
    connect(m_history, &QPushButton::clicked, this,
            [this] { runGuarded([this] { openHistory(); }); });
    connect(m_anonymise, &QPushButton::clicked, this,
            [this] { runGuarded([this] { openAnonymise(); }); });
    connect(m_erase, &QPushButton::clicked, this,
            [this] { runGuarded([this] { erasePersonalData(); }); });
    addShortcut(QKeySequence(Qt::CTRL | Qt::Key_H), m_history, &PersonalDataCommands::openHistory);
    addShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_A), m_anonymise,
                &PersonalDataCommands::openAnonymise);
    addShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Delete), m_erase,
                &PersonalDataCommands::erasePersonalData);
}

void PersonalDataCommands::addShortcut(const QKeySequence& keys, QPushButton* button,
                                       void (PersonalDataCommands::*slot)()) {
    auto* shortcut = new QShortcut(keys, &m_window);
    shortcut->setContext(Qt::WindowShortcut);
    shortcut->setAutoRepeat(false);
    // As a click: nothing while the button is disabled.
    connect(shortcut, &QShortcut::activated, this, [this, button, slot] {
        if (button->isEnabled())
            runGuarded([this, slot] { (this->*slot)(); });
    });
}

TdmMarvesa& PersonalDataCommands::dataModule() const {
    TdmMarvesa* dm = m_window.dm();
    if (!dm || !dm->cnQuaz.isConnected())
        throw Error(QStringLiteral("Il database non è aperto"));
    return *dm;
}

bool PersonalDataCommands::refuseWhileEditing() const {
    TdmMarvesa* dm = m_window.dm();
    if (dm && (isEditing(dm->dsNUCLEO) || isEditing(dm->dsANAGRAFICA))) {
        Dialogs::inform(kFinishEditingFirst);
        return true;
    }
    return false;
}

bool PersonalDataCommands::refuseToRole() const {
    TdmMarvesa* dm = m_window.dm();
    const QString refusal = dm ? dm->accessRights().administerRefusal() : QString();
    if (refusal.isEmpty())
        return false;
    Dialogs::inform(refusal);
    return true;
}

void PersonalDataCommands::applyAccessRights() {
    TdmMarvesa* dm = m_window.dm();
    const AccessRights rights = dm ? dm->accessRights() : AccessRights();
    allow(m_history, QString());
    allow(m_anonymise, rights.administerRefusal());
    allow(m_erase, rights.administerRefusal());
    if (OfficeCommands* office = officeCommands(m_window))
        allow(office->importButton(), rights.administerRefusal());
}

// ------------------------------------------------------------------ Storico

void PersonalDataCommands::openHistory() {
    if (refuseWhileEditing())
        return;
    TdmMarvesa& dm = dataModule();
    QtSqlEngine& engine = sqlEngine(dm);
    if (dm.TBL_NUCLEO.isEmpty()) {
        Dialogs::notice(QStringLiteral("Nessun Nucleo Familiare Inserito"));
        return;
    }
    if (m_historyDialog && m_historyDialog->isVisible()) {
        m_historyDialog->raise();
        m_historyDialog->activateWindow();
        return;
    }
    const QString code = text(dm.TBL_NUCLEO, "CODICE_NUCLEO");
    const qint64 id = qint64(dm.TBL_NUCLEO.fieldValue(QStringLiteral("ID_NUCLEO")).toDouble());
    // The members shown now, for the rows that do not name them.
    QHash<qint64, QString> names;
    const DataSet& members = dm.TBL_ANAGRAFICA;
    const int idField = members.fieldByName(QStringLiteral("ID_ANAGRAFICA"))->index();
    const int surnameField = members.fieldByName(QStringLiteral("COGNOME"))->index();
    const int nameField = members.fieldByName(QStringLiteral("NOME"))->index();
    for (int row = 0; row < members.rowCount(); ++row) {
        const Value surname = members.valueAt(row, surnameField);
        const Value name = members.valueAt(row, nameField);
        names.insert(qint64(members.valueAt(row, idField).toDouble()),
                     (surname.isNull() ? QString() : surname.toText()) + QLatin1Char(' ') +
                         (name.isNull() ? QString() : name.toText()));
    }
    QStringList lines;
    {
        const WaitCursor wait;
        lines = historyLines(familyHistory(engine, code, id), names);
    }
    std::function<QStringList()> whole;
    if (dm.accessRights().canAdminister) {
        whole = [this] {
            const WaitCursor wait;
            return historyLines(wholeHistory(sqlEngine(dataModule()), kWholeHistoryRows));
        };
    }
    auto* dialog = new HistoryDialog(code, lines, whole, m_window.window());
    connect(dialog, &QDialog::finished, dialog, &QObject::deleteLater);
    m_historyDialog = dialog;
    dialog->open();
    dialog->lines()->setFocus(Qt::OtherFocusReason);
}

// --------------------------------------------------------------- Anonimizza

void PersonalDataCommands::openAnonymise() {
    if (refuseToRole() || refuseWhileEditing())
        return;
    TdmMarvesa& dm = dataModule();
    QtSqlEngine& engine = sqlEngine(dm);
    if (m_anonymiseDialog && m_anonymiseDialog->isVisible()) {
        m_anonymiseDialog->raise();
        m_anonymiseDialog->activateWindow();
        return;
    }
    const int months = retentionMonths();
    std::vector<DueFamilyUnit> due;
    {
        const WaitCursor wait;
        due = dueFamilyUnits(engine, m_clock(), months);
    }
    if (due.empty()) {
        Dialogs::inform(QStringLiteral("Nessun nucleo familiare da anonimizzare: nessuna "
                                       "ospitalità terminata da più di %1 mesi ha ancora dati "
                                       "personali.")
                            .arg(months));
        return;
    }
    auto* dialog = new AnonymiseDialog(
        due, months,
        [this](qint64 familyId) { return erasurePreview(sqlEngine(dataModule()), {familyId}); },
        m_window.window());
    connect(dialog, &QDialog::finished, dialog, &QObject::deleteLater);
    m_anonymiseDialog = dialog;
    connect(dialog, &QDialog::accepted, this, [this, dialog, months] {
        const std::vector<DueFamilyUnit> chosen = dialog->chosen();
        runGuarded([&] { anonymise(chosen, months); });
    });
    dialog->open();
    dialog->units()->setFocus(Qt::OtherFocusReason);
}

void PersonalDataCommands::anonymise(const std::vector<DueFamilyUnit>& chosen, int months) {
    if (chosen.empty() || refuseToRole() || refuseWhileEditing())
        return;
    int members = 0;
    std::vector<qint64> ids;
    for (const DueFamilyUnit& u : chosen) {
        members += u.members;
        ids.push_back(u.id);
    }
    if (!Dialogs::confirm(QStringLiteral("Anonimizzare i dati personali di %1 (%2)?\r\r"
                                         "L'operazione non si può annullare.")
                              .arg(unitsText(int(chosen.size())), membersText(members)))) {
        return;
    }
    TdmMarvesa& dm = dataModule();
    ErasureOutcome outcome;
    {
        const WaitCursor wait;
        outcome = anonymiseFamilyUnits(sqlEngine(dm), ids, m_clock(), months);
        dm.TBL_NUCLEO.reloadInPlace();
        dm.TBL_ANAGRAFICA.reloadInPlace();
    }
    Dialogs::inform(QStringLiteral("Dati personali anonimizzati: %1, %2.")
                        .arg(unitsText(outcome.familyUnits), membersText(outcome.members)));
}

// -------------------------------------------------- Cancella dati personali

void PersonalDataCommands::erasePersonalData() {
    if (refuseToRole() || refuseWhileEditing())
        return;
    TdmMarvesa& dm = dataModule();
    DataSet& members = dm.TBL_ANAGRAFICA;
    const QString surname = text(members, "COGNOME");
    if (members.isEmpty() || isBlankText(surname)) {
        Dialogs::notice(QStringLiteral("Nessun Familiare Inserito"));
        return;
    }
    const QString person = (surname + QLatin1Char(' ') + text(members, "NOME")).simplified();
    const Value birth = members.fieldValue(QStringLiteral("DATA_NASCITA"));
    const QString born =
        birth.isNull() ? QString() : QStringLiteral(", nato/a il %1").arg(birth.toText());
    if (!Dialogs::confirm(
            QStringLiteral("Cancellare i dati personali di %1%2, del nucleo familiare %3?\r\r"
                           "Cognome, nome, indirizzo, telefono, ospitante e note vengono "
                           "cancellati, anche nello storico e nell'ultima esportazione; la data di "
                           "nascita diventa il primo giorno del suo trimestre. L'operazione viene "
                           "registrata e non si può annullare.")
                .arg(person, born, text(members, "CODICE_NUCLEO")))) {
        return;
    }
    const qint64 id = qint64(members.fieldValue(QStringLiteral("ID_ANAGRAFICA")).toDouble());
    {
        const WaitCursor wait;
        erasePerson(sqlEngine(dm), id);
        members.reloadInPlace();
    }
    Dialogs::inform(QStringLiteral("I dati personali del componente sono stati cancellati."));
}

PersonalDataCommands* personalDataCommands(const TfrmMain& window) {
    return window.findChild<PersonalDataCommands*>(QStringLiteral("personalDataCommands"),
                                                   Qt::FindDirectChildrenOnly);
}

}  // namespace marvesa
