#include "ui/bound/PendingChange.h"

#include <QApplication>
#include <QFocusEvent>
#include <QWidget>
#include <exception>

#include "ui/services/ErrorReport.h"

namespace marvesa {

void PendingChange::showWriteFailure() {
    if (m_focused)
        focus::restoreTo(m_self);
}

void PendingChange::writeForRecordUpdate() {
    if (!m_changed)
        return;
    try {
        writeChange();
    } catch (...) {
        showWriteFailure();
        throw;
    }
}

PendingChange::Exit PendingChange::leave(const QFocusEvent* event) {
    if (!m_focused || focus::isRestoring() || !focus::leavesForControlOfWindow(m_self, event)) {
        return Exit::Stayed;
    }
    if (m_changed) {
        try {
            writeChange();
        } catch (const std::exception& error) {
            showWriteFailure();
            handleApplicationError(error);
            return Exit::Refused;
        }
    }
    m_focused = false;
    return Exit::Left;
}

namespace focus {

namespace {
int g_restoring = 0;
}

bool leavesForControlOfWindow(const QWidget* self, const QFocusEvent* event) {
    if (event->reason() == Qt::PopupFocusReason || event->reason() == Qt::ActiveWindowFocusReason) {
        return false;
    }
    const QWidget* to = QApplication::focusWidget();
    return to && to != self && to->window() == self->window();
}

void restoreTo(QWidget* control) {
    struct Guard {
        Guard() { ++g_restoring; }
        ~Guard() { --g_restoring; }
    } guard;
    control->setFocus(Qt::OtherFocusReason);
}

bool isRestoring() {
    return g_restoring > 0;
}

}  // namespace focus

}  // namespace marvesa
