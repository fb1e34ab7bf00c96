#pragma once

#include <QDate>
#include <QObject>
#include <QPointer>
#include <functional>

#include "ui/office/AnonymiseDialog.h"
#include "ui/office/HistoryDialog.h"

class QPushButton;
class QShortcut;

namespace marvesa {

class TfrmMain;
class TdmMarvesa;

// The window's commands on the record history and on personal data:
//
//   Ctrl+H            "Storico": the history of the current family unit and
//                     its members (every role)
//   Ctrl+Maiusc+A     "Anonimizza": the family units due after the retention
//                     period, anonymised in one go (the administrator)
//   Ctrl+Maiusc+Canc  "Cancella dati personali" of the current member, on
//                     request (the administrator)
//
// Each has a small button in a header bar. A button the role may not use is
// disabled, its tooltip and description saying why, whatever the tables'
// states; its keys then do nothing. All three are refused with a message
// while a row is being inserted or edited. The dialogs are window-modal and
// opened without a nested event loop (QDialog::open()), so a test can drive
// them; every message goes through Dialogs.
class PersonalDataCommands : public QObject {
    Q_OBJECT
public:
    explicit PersonalDataCommands(TfrmMain& window);

    QPushButton* historyButton() const { return m_history; }
    QPushButton* anonymiseButton() const { return m_anonymise; }
    QPushButton* eraseButton() const { return m_erase; }
    HistoryDialog* historyDialog() const { return m_historyDialog; }
    AnonymiseDialog* anonymiseDialog() const { return m_anonymiseDialog; }

    void openHistory();
    void openAnonymise();
    void erasePersonalData();

    // Enables the buttons the data module's role allows, and says why the
    // others are not. The window calls it whenever the command buttons
    // change.
    void applyAccessRights();

    // The day the retention period counts back from; today unless a test
    // fixes it.
    void setClock(std::function<QDate()> clock) { m_clock = std::move(clock); }

private:
    TdmMarvesa& dataModule() const;
    bool refuseWhileEditing() const;
    bool refuseToRole() const;
    void anonymise(const std::vector<DueFamilyUnit>& chosen, int months);
    void addShortcut(const QKeySequence& keys, QPushButton* button,
                     void (PersonalDataCommands::*slot)());

    TfrmMain& m_window;
    QPushButton* m_history = nullptr;
    QPushButton* m_anonymise = nullptr;
    QPushButton* m_erase = nullptr;
    QPointer<HistoryDialog> m_historyDialog;
    QPointer<AnonymiseDialog> m_anonymiseDialog;
    std::function<QDate()> m_clock;
};

// The window's commands on personal data (made with the window).
PersonalDataCommands* personalDataCommands(const TfrmMain& window);

}  // namespace marvesa
