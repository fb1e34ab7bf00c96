#include "ui/services/WaitCursor.h"

#include <QApplication>

namespace marvesa {

WaitCursor::WaitCursor() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

WaitCursor::~WaitCursor() {
    QApplication::restoreOverrideCursor();
}

void BusyCursor::busyWaitStarted() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

void BusyCursor::busyWaitEnded() {
    QApplication::restoreOverrideCursor();
}

}  // namespace marvesa
