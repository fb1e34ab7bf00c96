#pragma once

#include <QApplication>
#include <QCursor>
#include <QStringList>

#include "ui/services/Progress.h"

namespace marvesa::test {

// Stands for the progress dialog: records what a long command reports and,
// when told to, answers as if "Annulla" had been pressed. Installed for as
// long as it lives.
class ScriptedProgress : public Progress {
public:
    ScriptedProgress() { Progress::setInstance(this); }
    ~ScriptedProgress() override { Progress::setInstance(nullptr); }

    // "Annulla" is pressed at the update whose text begins with `prefix`,
    // the `nth` such (from 0).
    void cancelAt(const QString& prefix, int nth = 0) {
        m_cancelPrefix = prefix;
        m_cancelNth = nth;
    }

    void start(const QString& title) override {
        titles << title;
        running = true;
    }
    bool update(const QString& text, std::int64_t, std::int64_t) override {
        texts << text;
        const QCursor* cursor = QApplication::overrideCursor();
        waitCursorEachTime = waitCursorEachTime && cursor && cursor->shape() == Qt::WaitCursor;
        if (!m_cancelPrefix.isEmpty() && text.startsWith(m_cancelPrefix) && m_cancelNth-- == 0) {
            cancelled = true;
            return false;
        }
        return !cancelled;
    }
    void finish() override { running = false; }

    QStringList titles;
    QStringList texts;
    bool running = false;
    bool cancelled = false;
    bool waitCursorEachTime = true;

private:
    QString m_cancelPrefix;
    int m_cancelNth = 0;
};

}  // namespace marvesa::test
