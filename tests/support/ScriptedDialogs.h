#pragma once

#include <QList>
#include <QStringList>
#include <functional>

#include "ui/services/Dialogs.h"

namespace marvesa::test {

// Answers the program's message boxes from a script and records every box
// that was shown. Installed for as long as it lives.
class ScriptedDialogs : public Dialogs {
public:
    ScriptedDialogs() { Dialogs::setInstance(this); }
    ~ScriptedDialogs() override { Dialogs::setInstance(nullptr); }

    // The answer to the next box; without one, a box gets its first button.
    void answerNext(DialogButton button) { m_answers.append(button); }

    DialogButton ask(const DialogRequest& request) override {
        shown.append(request);
        if (onAsk) onAsk(request);
        if (!m_answers.isEmpty()) return m_answers.takeFirst();
        return request.buttons.isEmpty() ? DialogButton::Ok : request.buttons.first();
    }

    // The texts of the boxes shown so far.
    QStringList texts() const {
        QStringList t;
        for (const DialogRequest& r : shown) t << r.text;
        return t;
    }
    void clear() { shown.clear(); m_answers.clear(); }

    QList<DialogRequest> shown;
    // Called for every box as it is shown, before it is answered.
    std::function<void(const DialogRequest&)> onAsk;

private:
    QList<DialogButton> m_answers;
};

}  // namespace marvesa::test
