#include "support/ScriptedDialogs.h"

namespace marvesa::test {

ScriptedDuplicateReview::ScriptedDuplicateReview() {
    DuplicateReview::setInstance(this);
}

ScriptedDuplicateReview::~ScriptedDuplicateReview() {
    DuplicateReview::setInstance(nullptr);
}

DuplicateDecision ScriptedDuplicateReview::review(const DuplicateReviewRequest& request) {
    shown.append(request);
    if (onReview)
        onReview(request);
    if (!m_decisions.isEmpty())
        return m_decisions.takeFirst();
    DuplicateDecision store;
    store.action = DuplicateDecision::Action::Store;
    return store;
}

ScriptedDialogs::ScriptedDialogs() {
    Dialogs::setInstance(this);
}

ScriptedDialogs::~ScriptedDialogs() {
    Dialogs::setInstance(nullptr);
}

DialogButton ScriptedDialogs::ask(const DialogRequest& request) {
    shown.append(request);
    if (onAsk)
        onAsk(request);
    if (!m_answers.isEmpty())
        return m_answers.takeFirst();
    return request.buttons.isEmpty() ? DialogButton::Ok : request.buttons.first();
}

QStringList ScriptedDialogs::texts() const {
    QStringList t;
    for (const DialogRequest& r : shown)
        t << r.text;
    return t;
}

void ScriptedDialogs::clear() {
    shown.clear();
    m_answers.clear();
}

}  // namespace marvesa::test
