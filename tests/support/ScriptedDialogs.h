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
    ScriptedDialogs();
    ~ScriptedDialogs() override;

    // The answer to the next box; without one, a box gets its first button.
    void answerNext(DialogButton button) { m_answers.append(button); }

    DialogButton ask(const DialogRequest& request) override;

    // The texts of the boxes shown so far.
    QStringList texts() const;
    void clear();

    QList<DialogRequest> shown;
    // Called for every box as it is shown, before it is answered.
    std::function<void(const DialogRequest&)> onAsk;

private:
    QList<DialogButton> m_answers;
};

}  // namespace marvesa::test
