#pragma once

#include <QDialog>

#include "ui/services/DuplicateReview.h"

class QPushButton;
class QTreeWidget;

namespace marvesa {

// The warning of the member "Salva": the member being stored on the left,
// the members that look like the same person on the right, each with its
// family unit, how alike they are and why. The clerk can tick those that
// are "non è la stessa persona" (remembered, never shown again), then
// "Salva comunque"; or go to the member chosen ("Vai al componente", which
// abandons what was typed); or go back to the fields ("Torna alla modifica",
// Escape). Nothing is stored until the clerk chooses.
class DuplicateDialog : public QDialog {
    Q_OBJECT
public:
    explicit DuplicateDialog(const DuplicateReviewRequest& request, QWidget* parent = nullptr);

    const DuplicateDecision& decision() const { return m_decision; }
    QTreeWidget* list() const { return m_list; }
    QPushButton* storeButton() const { return m_store; }
    QPushButton* goToButton() const { return m_goTo; }
    QPushButton* backButton() const { return m_back; }

private:
    void store();
    void goTo();

    DuplicateReviewRequest m_request;
    DuplicateDecision m_decision;
    QTreeWidget* m_list;
    QPushButton* m_store;
    QPushButton* m_goTo;
    QPushButton* m_back;
};

// A member as the lists of duplicates show it ("12/05/1980", "QX12 ROSSI
// (ospitante MARIO BIANCHI, Udine)").
QString birthText(const QDate& birth);
QString familyUnitText(const RegisteredPerson& person);

}  // namespace marvesa
