#pragma once

#include <QList>
#include <QStringList>
#include <functional>

#include "ui/services/Dialogs.h"
#include "ui/services/DuplicateReview.h"

namespace marvesa::test {

// Answers the member "Salva"'s warning of duplicates from a script and
// records every warning shown; without a scripted decision it stores the
// member, as a clerk pressing "Salva comunque".
class ScriptedDuplicateReview : public DuplicateReview {
public:
    ScriptedDuplicateReview();
    ~ScriptedDuplicateReview() override;
    void decideNext(DuplicateDecision decision) { m_decisions.append(decision); }
    DuplicateDecision review(const DuplicateReviewRequest& request) override;

    QList<DuplicateReviewRequest> shown;
    // Called for every warning as it is shown, before it is answered.
    std::function<void(const DuplicateReviewRequest&)> onReview;

private:
    QList<DuplicateDecision> m_decisions;
};

// Answers the program's message boxes from a script and records every box
// that was shown. Installed for as long as it lives.
class ScriptedDialogs : public Dialogs {
public:
    ScriptedDialogs();
    ~ScriptedDialogs() override;

    // The answer to the next box; without one, a box gets its first button.
    void answerNext(DialogButton button) { m_answers.append(button); }

    DialogButton ask(const DialogRequest& request) override;

    // The texts of the boxes shown so far.
    QStringList texts() const;
    void clear();

    QList<DialogRequest> shown;
    // The warnings of duplicates, answered in the same way.
    ScriptedDuplicateReview duplicates;
    // Called for every box as it is shown, before it is answered.
    std::function<void(const DialogRequest&)> onAsk;

private:
    QList<DialogButton> m_answers;
};

}  // namespace marvesa::test
