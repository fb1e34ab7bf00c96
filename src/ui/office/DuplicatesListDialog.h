#pragma once

#include <QDialog>
#include <functional>
#include <optional>
#include <vector>

#include "data/registry/DuplicateCheck.h"

class QLabel;
class QPushButton;
class QTreeWidget;

namespace marvesa {

// "Doppioni" (from "Riepilogo"): every pair of members of the registry that
// are likely one person, with their family units and why. For the pair
// chosen the clerk can declare "Non è la stessa persona" (remembered: the
// pair leaves the list and is never shown again), or go to either member
// ("Vai al primo", "Vai al secondo": the dialog closes, accepted, and the
// window shows that member). Escape or "Chiudi" closes it.
class DuplicatesListDialog : public QDialog {
    Q_OBJECT
public:
    // `declareDifferent` stores the declaration of a pair (it may throw).
    DuplicatesListDialog(std::vector<DuplicatePair> pairs,
                         std::function<void(qint64, qint64)> declareDifferent,
                         QWidget* parent = nullptr);

    QTreeWidget* list() const { return m_list; }
    QPushButton* differentButton() const { return m_different; }
    QPushButton* firstButton() const { return m_first; }
    QPushButton* secondButton() const { return m_second; }
    // The member chosen to go to: (family unit, member).
    const std::optional<std::pair<qint64, qint64>>& chosen() const { return m_chosen; }

    void declareCurrentDifferent();

private:
    void goTo(bool first);
    void updateState();

    std::vector<DuplicatePair> m_pairs;
    std::function<void(qint64, qint64)> m_declare;
    QTreeWidget* m_list;
    QLabel* m_count;
    QPushButton* m_different;
    QPushButton* m_first;
    QPushButton* m_second;
    std::optional<std::pair<qint64, qint64>> m_chosen;
};

}  // namespace marvesa
