#pragma once

#include <QSet>
#include <QString>
#include <vector>

#include "data/registry/DuplicateCheck.h"

class QWidget;

namespace marvesa {

// What the clerk is shown before a member is stored: the member being
// stored and the members of the registry that look like the same person.
struct DuplicateReviewRequest {
    QString surname;
    QString name;
    QString birth;   // as the date field shows it
    QString family;  // the member's family unit: code and description
    std::vector<DuplicateMatch> matches;
};

// What the clerk decided.
struct DuplicateDecision {
    enum class Action {
        Store,  // store the member anyway
        Back,   // back to the member's fields: nothing is stored
        GoTo,   // abandon the member and go to the one chosen
    };
    Action action = Action::Back;
    // The members declared "non è la stessa persona" (their ID_ANAGRAFICA),
    // remembered once the member is stored.
    QSet<qint64> different;
    qint64 goToMember = 0;
    qint64 goToFamily = 0;
};

// The member "Salva" shows the duplicates it finds through here, so that
// tests can answer in the clerk's place and see what was shown. The
// program's own shows DuplicateDialog and waits for the clerk's choice.
class DuplicateReview {
public:
    virtual ~DuplicateReview();
    virtual DuplicateDecision review(const DuplicateReviewRequest& request) = 0;

    static DuplicateReview& instance();
    // Replaces it (null restores the dialog); the caller keeps ownership.
    static void setInstance(DuplicateReview* review);
};

class DuplicateReviewDialog : public DuplicateReview {
public:
    DuplicateDecision review(const DuplicateReviewRequest& request) override;
};

}  // namespace marvesa
