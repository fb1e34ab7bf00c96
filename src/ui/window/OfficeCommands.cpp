#include "ui/window/OfficeCommands.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QPushButton>
#include <QShortcut>

#include "data/base/Error.h"
#include "data/registry/DataModule.h"
#include "data/registry/DuplicateCheck.h"
#include "data/registry/Navigation.h"
#include "data/registry/RegistryQueries.h"
#include "data/schema/FileBackup.h"
#include "data/sql/QtSqlEngine.h"
#include "ui/office/SearchDialog.h"
#include "ui/office/SummaryDialog.h"
#include "ui/services/Dialogs.h"
#include "ui/services/ErrorReport.h"
#include "ui/services/WaitCursor.h"
#include "ui/window/MainWindow.h"
#include "ui/window/WindowLayout.h"

namespace marvesa {

const QString kFinishEditingFirst =
    QStringLiteral("Salvare o annullare prima il nucleo o il componente in modifica.");

namespace {

// Tooltips of the command buttons that have a shortcut.
void addShortcutToToolTip(QWidget* button, const QString& keys) {
    const QString tip = button->accessibleName() + QStringLiteral(" (") + keys + QLatin1Char(')');
    button->setToolTip(tip);
    button->setAccessibleDescription(QStringLiteral("Scorciatoia: ") + keys);
}

bool isEditing(const DataSource& ds) {
    return ds.state() == dsEdit || ds.state() == dsInsert;
}

// What "Riepilogo" says of the copies of the database: when the last copy of
// a file was made; that a server's copies are the office's to keep.
QString backupNote(Engine& engine) {
    auto* sql = dynamic_cast<QtSqlEngine*>(&engine);
    if (!sql)
        return QString();
    if (sql->dialect() != SqlDialect::SQLite) {
        return QStringLiteral(
            "Il database è su un server: le sue copie di sicurezza sono a cura "
            "dell'ufficio (pg_dump sul server).");
    }
    const std::optional<QDateTime> last = schema::lastBackup(sql->location());
    if (!last) {
        return QStringLiteral(
            "Nessuna copia di sicurezza del database finora: la prima si fa "
            "alla chiusura del programma.");
    }
    return QStringLiteral("Ultima copia di sicurezza del database: %1.")
        .arg(schema::shownBackupTime(*last));
}

}  // namespace

OfficeCommands::OfficeCommands(TfrmMain& window)
    : QObject(&window), m_window(window), m_clock([] { return QDate::currentDate(); }) {
    setObjectName(QStringLiteral("officeCommands"));
    QPushButton* made[3] = {};
    int i = 0;
    for (const layout::OfficeButtonEntry& entry : layout::officeButtons()) {
        auto* button = new QPushButton(QString::fromUtf8(entry.caption), &window);
        button->setObjectName(QString::fromLatin1(entry.name));
        button->setGeometry(entry.rect);
        button->setFocusPolicy(Qt::NoFocus);
        button->setAutoDefault(false);
        button->setAccessibleName(QString::fromUtf8(entry.caption));
        button->setToolTip(QString::fromUtf8(entry.toolTip));
        button->setAccessibleDescription(QString::fromUtf8(entry.toolTip));
        button->show();
        made[i++] = button;
    }
    m_import = made[0];
    m_search = made[1];
    m_summary = made[2];
    m_chooseFile = [](QWidget* parent) {
        return QFileDialog::getOpenFileName(
            parent, QStringLiteral("Importa"), QString(),
            QStringLiteral("Elenchi (*.csv *.xlsx *.xltx);;Tutti i file (*)"));
    };
    connect(m_import, &QPushButton::clicked, this,
            [this] { runGuarded([this] { openImport(); }); });
    connect(m_search, &QPushButton::clicked, this,
            [this] { runGuarded([this] { openSearch(); }); });
    connect(m_summary, &QPushButton::clicked, this,
            [this] { runGuarded([this] { openSummary(); }); });

    addShortcut(QKeySequence(Qt::CTRL | Qt::Key_I), &OfficeCommands::openImport);
    addShortcut(QKeySequence(Qt::CTRL | Qt::Key_F), &OfficeCommands::openSearch);
    addShortcut(QKeySequence(Qt::CTRL | Qt::Key_R), &OfficeCommands::openSummary);
    addShortcut(QKeySequence(Qt::CTRL | Qt::Key_S), &OfficeCommands::saveFromKeyboard);
    addShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N),
                &OfficeCommands::newFamilyUnitFromKeyboard);
    addShortcut(QKeySequence(Qt::CTRL | Qt::Key_N), &OfficeCommands::newMemberFromKeyboard);

    addShortcutToToolTip(window.btnSaveNucleo, QStringLiteral("Ctrl+S"));
    addShortcutToToolTip(window.btnSaveAnag, QStringLiteral("Ctrl+S"));
    addShortcutToToolTip(window.btnNewNucleo, QStringLiteral("Ctrl+Maiusc+N"));
    addShortcutToToolTip(window.btnNewAnag, QStringLiteral("Ctrl+N"));
}

QShortcut* OfficeCommands::addShortcut(const QKeySequence& keys, void (OfficeCommands::*slot)()) {
    // Active wherever the focus is in the window, also when the window sits
    // inside the scroll area of a small screen.
    auto* shortcut = new QShortcut(keys, &m_window);
    shortcut->setContext(Qt::WindowShortcut);
    shortcut->setAutoRepeat(false);
    connect(shortcut, &QShortcut::activated, this,
            [this, slot] { runGuarded([this, slot] { (this->*slot)(); }); });
    return shortcut;
}

bool OfficeCommands::refuseWhileEditing() {
    TdmMarvesa* dm = m_window.dm();
    if (dm && (isEditing(dm->dsNUCLEO) || isEditing(dm->dsANAGRAFICA))) {
        Dialogs::inform(kFinishEditingFirst);
        return true;
    }
    return false;
}

void OfficeCommands::pressFromKeyboard(CommandButton* button, bool focusBack) {
    if (!button->isEnabled() || !button->isVisible())
        return;
    QWidget* before = QApplication::focusWidget();
    // As a click: the control being left first writes its text; when it
    // refuses (a date that does not exist), it keeps the focus and the
    // command does not run.
    button->setFocus(Qt::ShortcutFocusReason);
    if (QApplication::focusWidget() != button)
        return;
    button->click();
    if (focusBack && before && before != button && before->isEnabled() && before->isVisible() &&
        QApplication::focusWidget() == button) {
        before->setFocus(Qt::ShortcutFocusReason);
    }
}

void OfficeCommands::saveFromKeyboard() {
    // Only the panel being edited has its "Salva" enabled.
    for (CommandButton* save : {m_window.btnSaveNucleo, m_window.btnSaveAnag}) {
        if (save->isEnabled()) {
            pressFromKeyboard(save, true);
            return;
        }
    }
}

void OfficeCommands::newFamilyUnitFromKeyboard() {
    pressFromKeyboard(m_window.btnNewNucleo, false);
}

void OfficeCommands::newMemberFromKeyboard() {
    pressFromKeyboard(m_window.btnNewAnag, false);
}

void OfficeCommands::openSearch() {
    if (refuseWhileEditing())
        return;
    TdmMarvesa* dm = m_window.dm();
    if (!dm || !dm->cnQuaz.isConnected())
        throw Error(QStringLiteral("Il database non è aperto"));
    if (m_searchDialog && m_searchDialog->isVisible()) {
        m_searchDialog->raise();
        m_searchDialog->activateWindow();
        return;
    }
    std::shared_ptr<RegistryQueries> registry;
    {
        const WaitCursor wait;
        registry = queries();
        registry->prepare();
    }
    auto* dialog = new SearchDialog(registry, m_window.window());
    connect(dialog, &QDialog::finished, dialog, &QObject::deleteLater);
    m_searchDialog = dialog;
    connect(dialog, &QDialog::accepted, this, [this, dialog] {
        if (!dialog->chosen())
            return;
        const SearchHit hit = *dialog->chosen();
        runGuarded([&] { goTo(hit.familyId, hit.memberId); });
    });
    dialog->open();
    dialog->field()->setFocus(Qt::OtherFocusReason);
}

void OfficeCommands::openSummary() {
    if (refuseWhileEditing())
        return;
    TdmMarvesa* dm = m_window.dm();
    if (!dm || !dm->cnQuaz.isConnected())
        throw Error(QStringLiteral("Il database non è aperto"));
    if (m_summaryDialog && m_summaryDialog->isVisible()) {
        m_summaryDialog->raise();
        m_summaryDialog->activateWindow();
        return;
    }
    OfficeSummary summary;
    {
        const WaitCursor wait;
        summary = queries()->summary(m_clock());
    }
    auto* dialog =
        new SummaryDialog(std::move(summary), m_window.window(), backupNote(dm->cnQuaz.engine()));
    connect(dialog, &QDialog::finished, dialog, &QObject::deleteLater);
    m_summaryDialog = dialog;
    connect(dialog, &SummaryDialog::duplicatesRequested, this, [this, dialog] {
        dialog->reject();
        runGuarded([this] { openDuplicates(); });
    });
    connect(dialog, &QDialog::accepted, this, [this, dialog] {
        if (!dialog->chosenFamily())
            return;
        const qint64 family = *dialog->chosenFamily();
        runGuarded([&] { goTo(family, 0); });
    });
    dialog->open();
}

void OfficeCommands::openImport() {
    if (refuseWhileEditing())
        return;
    TdmMarvesa* dm = m_window.dm();
    if (!dm || !dm->cnQuaz.isConnected())
        throw Error(QStringLiteral("Il database non è aperto"));
    // Ctrl+I does nothing where the button is refused to the role.
    if (!m_import->isEnabled())
        return;
    if (m_importDialog && m_importDialog->isVisible()) {
        m_importDialog->raise();
        m_importDialog->activateWindow();
        return;
    }
    const QString path = m_chooseFile(m_window.window());
    if (path.isEmpty())
        return;
    auto* dialog = new ImportDialog(dm->cnQuaz.engine(), path, m_window.window());
    connect(dialog, &QDialog::finished, dialog, &QObject::deleteLater);
    m_importDialog = dialog;
    connect(dialog, &QDialog::accepted, this, [this, dialog] {
        if (!dialog->outcome())
            return;
        const ImportOutcome outcome = *dialog->outcome();
        runGuarded([&] {
            // The window shows what was stored, the family unit it stood on
            // staying current.
            if (TdmMarvesa* dm = m_window.dm()) {
                dm->TBL_NUCLEO.reloadInPlace();
                dm->TBL_ANAGRAFICA.reloadInPlace();
            }
            QString text = QStringLiteral("Importati %1 nuclei familiari e %2 componenti.")
                               .arg(outcome.families)
                               .arg(outcome.members);
            if (!outcome.rejectedFile.isEmpty()) {
                text += QStringLiteral(
                            "\r\rLe righe scartate sono nel file \"%1\", con il "
                            "motivo di ciascuna.")
                            .arg(QDir::toNativeSeparators(outcome.rejectedFile));
            }
            Dialogs::inform(text);
        });
    });
    dialog->open();
}

void OfficeCommands::openDuplicates() {
    if (refuseWhileEditing())
        return;
    TdmMarvesa* dm = m_window.dm();
    if (!dm || !dm->cnQuaz.isConnected())
        throw Error(QStringLiteral("Il database non è aperto"));
    std::vector<DuplicatePair> pairs;
    {
        const WaitCursor wait;
        pairs = duplicates::likelyPairs(dm->cnQuaz.engine());
    }
    auto* dialog = new DuplicatesListDialog(
        std::move(pairs),
        [this](qint64 a, qint64 b) {
            if (TdmMarvesa* d = m_window.dm())
                duplicates::declareDifferent(d->cnQuaz.engine(), a, b);
        },
        m_window.window());
    connect(dialog, &QDialog::finished, dialog, &QObject::deleteLater);
    m_duplicatesDialog = dialog;
    connect(dialog, &QDialog::accepted, this, [this, dialog] {
        if (!dialog->chosen())
            return;
        const std::pair<qint64, qint64> chosen = *dialog->chosen();
        runGuarded([&] { goTo(chosen.first, chosen.second); });
    });
    dialog->open();
}

void OfficeCommands::goTo(qint64 familyId, qint64 memberId) {
    TdmMarvesa* dm = m_window.dm();
    if (!dm || refuseWhileEditing())
        return;
    switch (goToFamilyUnitAndMember(*dm, familyId, memberId)) {
        case GoToOutcome::Done:
            break;
        case GoToOutcome::FamilyUnitMissing:
            Dialogs::inform(
                memberId > 0 ? QStringLiteral(
                                   "Nessun nucleo familiare porta il codice di questo componente.")
                             : QStringLiteral("Il nucleo familiare non esiste più."));
            break;
        case GoToOutcome::MemberMissing:
            Dialogs::inform(QStringLiteral("Il componente non esiste più nel nucleo familiare."));
            break;
    }
}

std::shared_ptr<RegistryQueries> OfficeCommands::queries() {
    TdmMarvesa* dm = m_window.dm();
    if (!dm || !dm->cnQuaz.isConnected())
        throw Error(QStringLiteral("Il database non è aperto"));
    Engine& engine = dm->cnQuaz.engine();
    // Made again for a new engine, or when the connection they were given
    // closed with an earlier one.
    if (!m_queries || m_queriesEngine != &engine || !m_queries->isOpen()) {
        m_queries.reset();
        m_queries = registryQueriesFor(engine);
        m_queriesEngine = &engine;
    }
    return m_queries;
}

OfficeCommands* officeCommands(const TfrmMain& window) {
    return window.findChild<OfficeCommands*>(QStringLiteral("officeCommands"),
                                             Qt::FindDirectChildrenOnly);
}

}  // namespace marvesa
