#include "support/ScriptedProgress.h"

#include <QApplication>
#include <QCursor>

namespace marvesa::test {

ScriptedProgress::ScriptedProgress() {
    Progress::setInstance(this);
}

ScriptedProgress::~ScriptedProgress() {
    Progress::setInstance(nullptr);
}

void ScriptedProgress::cancelAt(const QString& prefix, int nth) {
    m_cancelPrefix = prefix;
    m_cancelNth = nth;
}

void ScriptedProgress::start(const QString& title) {
    titles << title;
    running = true;
}

bool ScriptedProgress::update(const QString& text, std::int64_t, std::int64_t) {
    texts << text;
    const QCursor* cursor = QApplication::overrideCursor();
    waitCursorEachTime = waitCursorEachTime && cursor && cursor->shape() == Qt::WaitCursor;
    if (!m_cancelPrefix.isEmpty() && text.startsWith(m_cancelPrefix) && m_cancelNth-- == 0) {
        cancelled = true;
        return false;
    }
    return !cancelled;
}

}  // namespace marvesa::test
