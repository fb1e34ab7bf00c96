#pragma once

#include <QDate>
#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>

#include "ui/office/DuplicatesListDialog.h"
#include "ui/office/ImportDialog.h"
#include "ui/office/SearchDialog.h"
#include "ui/office/SummaryDialog.h"

class QPushButton;
class QShortcut;

namespace marvesa {

class CommandButton;
class Engine;
class TfrmMain;

// The window's keyboard shortcuts and its two office commands:
//
//   Ctrl+I          "Importa" (also the button "Importa" in the family-unit header)
//   Ctrl+F          "Cerca" (also the button "Cerca" in the family-unit header)
//   Ctrl+R          "Riepilogo" (also the button beside "Cerca")
//   Ctrl+S          "Salva" of the panel being edited
//   Ctrl+Maiusc+N   "Crea Nucleo"
//   Ctrl+N          "Nuovo" (member)
//
// A command shortcut acts exactly as a click on its button: the focus goes
// to the button first (so the control being left writes its text and trims
// it, or refuses to let go, and then nothing happens), then the button's own
// click handler runs; where the button is disabled the shortcut does nothing.
// After Ctrl+S the focus goes back to the control the operator was in.
//
// "Importa", "Cerca", "Riepilogo" and its "Doppioni" are refused with a
// message while a row is being inserted or edited. Their dialogs are
// window-modal and opened without a nested event loop (QDialog::open()), so
// a test can drive them.
class OfficeCommands : public QObject {
    Q_OBJECT
public:
    explicit OfficeCommands(TfrmMain& window);

    QPushButton* importButton() const { return m_import; }
    QPushButton* searchButton() const { return m_search; }
    QPushButton* summaryButton() const { return m_summary; }
    SearchDialog* searchDialog() const { return m_searchDialog; }
    SummaryDialog* summaryDialog() const { return m_summaryDialog; }
    ImportDialog* importDialog() const { return m_importDialog; }
    DuplicatesListDialog* duplicatesDialog() const { return m_duplicatesDialog; }

    void openImport();
    void openSearch();
    void openSummary();
    // "Doppioni" of "Riepilogo".
    void openDuplicates();

    // Asks the clerk for the file "Importa" reads (empty: none chosen); the
    // desktop's file dialog unless a test gives its own.
    void setImportFileChooser(std::function<QString(QWidget* parent)> chooser) {
        m_chooseFile = std::move(chooser);
    }
    // Ctrl+S, Ctrl+Maiusc+N, Ctrl+N.
    void saveFromKeyboard();
    void newFamilyUnitFromKeyboard();
    void newMemberFromKeyboard();

    // The day "Riepilogo" counts on; today unless a test fixes it.
    void setClock(std::function<QDate()> clock) { m_clock = std::move(clock); }

private:
    bool refuseWhileEditing();
    void pressFromKeyboard(CommandButton* button, bool focusBack);
    void goTo(qint64 familyId, qint64 memberId);
    QShortcut* addShortcut(const QKeySequence& keys, void (OfficeCommands::*slot)());
    // The registry's queries on the open database, made once and kept (a
    // warm page cache; a summary given again while nothing changed).
    std::shared_ptr<RegistryQueries> queries();

    TfrmMain& m_window;
    QPushButton* m_import;
    QPushButton* m_search;
    QPushButton* m_summary;
    QPointer<SearchDialog> m_searchDialog;
    QPointer<SummaryDialog> m_summaryDialog;
    QPointer<ImportDialog> m_importDialog;
    QPointer<DuplicatesListDialog> m_duplicatesDialog;
    std::function<QString(QWidget*)> m_chooseFile;
    std::function<QDate()> m_clock;
    std::shared_ptr<RegistryQueries> m_queries;
    const Engine* m_queriesEngine = nullptr;
};

// The window's office commands (made with the window).
OfficeCommands* officeCommands(const TfrmMain& window);

// The message with which "Cerca" and "Riepilogo" are refused while a row is
// being edited.
extern const QString kFinishEditingFirst;

}  // namespace marvesa
