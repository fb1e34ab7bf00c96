#pragma once

#include <QSet>
#include <QWidget>
#include <array>

#include "ui/bound/DBComboBox.h"
#include "ui/bound/DBEdit.h"
#include "ui/bound/DBGrid.h"
#include "ui/bound/DBLabel.h"
#include "ui/bound/DBLookupComboBox.h"
#include "ui/bound/DBMemo.h"
#include "ui/bound/DBNavigator.h"
#include "ui/window/CommandButton.h"
#include "ui/window/CommandState.h"

namespace marvesa {

class TdmMarvesa;

// The main window "Gestione Emergenza Marvesa": the family-unit panel with
// the current family unit, its host, the list of family units and the five
// family-unit commands; below it the member panel with the current member,
// the family unit's members, the five member commands, "Esporta" and
// "Chiudi Programma".
//
// The window is made before the data module: its bound controls wait under
// the names of their data sources until bindTo() connects them. Every
// control is reachable by its name, as a member or through findChild().
class TfrmMain : public QWidget {
    Q_OBJECT
public:
    explicit TfrmMain(QWidget* parent = nullptr);
    ~TfrmMain() override;

    // Connects every pending binding to the data module's data sources by
    // name and installs the two state-change handlers. Called once the
    // module exists and before it opens the data store.
    void bindTo(TdmMarvesa& dm);
    TdmMarvesa* dm() const { return m_dm; }

    // The command-state controller: enables and disables the twelve command
    // buttons as the family-unit and member tables change state.
    void dsNUCLEOStateChange(DataSource* sender);
    void dsANAGRAFICAStateChange(DataSource* sender);

    // Every request to close the window: refused while either table is
    // being edited. Never sets CanClose to true.
    void FormCloseQuery(QObject* Sender, bool& CanClose);

    // Click handlers of the twelve command buttons. An error escaping one is
    // shown by the application's top-level handler.
    void btnNewNucleoClick();
    void btnEditNucleoClick();
    void btnAnnNucleoClick();
    void btnSaveNucleoClick();
    void btnEliminaNucleoClick();
    void btnNewAnagClick();
    void btnEditAnagClick();
    void btnAnagAnnullaClick();
    void btnSaveAnagClick();
    void btnDelAnagClick();
    void btnExportClick();
    void btnExitClick();

    // A family unit or member left with changes (a navigator, a grid, a
    // refresh, the member table following the family unit) goes through its
    // panel's "Salva": the required-field message and an Abort that keeps
    // the row when something is missing; otherwise the row is completed as
    // "Salva" completes it, and then stored.
    void TBL_NUCLEOBeforeImplicitPost();
    void TBL_ANAGRAFICABeforeImplicitPost();

    // Trim on leaving: the seven text edits lose control characters and
    // blanks at both ends when the focus leaves them for another control.
    void dbeCognomeExit();
    void dbeNomeExit();
    void dbeFrontieraExit();
    void dbeIndirizzoExit();
    void dbeOspiteExit();
    void dbeTelefonoExit();
    void edtDescNucleoExit();

    // The command buttons in the controller's order.
    std::array<CommandButton*, CommandButtonCount> commandButtons() const;

    // Why the data module's role may not use the command button `index`
    // (CommandButtonIndex); empty when it may. Such a button stays disabled
    // whatever the tables' states, with the reason as its tooltip.
    QString roleRefusal(int index) const;

    // Family-unit panel.
    DBLabel* edtCodiceNucleo;
    DBNavigator* DBNavigator2;
    CommandButton* btnNewNucleo;
    CommandButton* btnEditNucleo;
    CommandButton* btnAnnNucleo;
    CommandButton* btnEliminaNucleo;
    CommandButton* btnSaveNucleo;
    DBEdit* edtDescNucleo;
    DBGrid* DBGrid2;
    DBEdit* dbeOspite;
    DBLookupComboBox* dbeComune;
    DBEdit* dbeIndirizzo;
    DBEdit* dbeTelefono;
    DBEdit* dbeDataTermine;
    DBEdit* DBEdit1;
    // Member panel.
    DBLabel* dbeNucleoAnag;
    CommandButton* btnNewAnag;
    CommandButton* btnEditAnag;
    CommandButton* btnDelAnag;
    CommandButton* btnAnagAnnulla;
    CommandButton* btnSaveAnag;
    CommandButton* btnExport;
    CommandButton* btnExit;
    DBEdit* dbeCognome;
    DBEdit* dbeNome;
    DBComboBox* dbeSesso;
    DBEdit* dbeDataNascita;
    DBLookupComboBox* dbeNazNascita;
    DBLookupComboBox* dbeCittadinanza;
    DBComboBox* dbeParentela;
    DBEdit* dbeDataIngresso;
    DBEdit* dbeFrontiera;
    DBGrid* DBGrid1;
    DBMemo* DBMemo2;
    DBNavigator* DBNavigator1;

signals:
    // The window asked the event loop to end ("Chiudi Programma", or a close
    // request that was granted).
    void quitRequested();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildShapesAndLabels();
    void buildControls();
    void connectCaptions();
    void setTabOrderChain();
    void connectHandlers();
    void applyCommandStates(DataSetState state, CommandPanel panel);
    // The checks and completion of "Salva" before the row is posted; false
    // once the required-field message has been shown.
    bool prepareNucleoForStoring();
    bool prepareAnagForStoring();
    // The duplicate check of the member "Salva": true when the member is to
    // be stored (with the members declared another person in `different`),
    // false when the clerk went back or to another member.
    bool reviewAnagDuplicates(QSet<qint64>* different);
    void postQuitRequest();

    TdmMarvesa* m_dm = nullptr;
};

// The one main window of the process.
extern TfrmMain* frmMain;

}  // namespace marvesa
