#include "ui/bound/BoundControl.h"

#include <QApplication>
#include <QFocusEvent>
#include <QWidget>

#include "ui/services/ErrorReport.h"

namespace marvesa {

BoundControl::BoundControl(QString dataSourceName, QString fieldName)
    : m_dataSourceName(std::move(dataSourceName)), m_fieldName(std::move(fieldName)) {}

BoundControl::~BoundControl() {
    if (m_source) m_source->removeLink(this);
}

void BoundControl::setDataSource(DataSource* source) {
    if (m_source == source) return;
    if (m_source) m_source->removeLink(this);
    m_source = source;
    if (m_source) m_source->addLink(this);
    bindingChanged();
}

void BoundControl::bindByName(const DataSourceResolver& resolve) {
    setDataSource(resolve(m_dataSourceName));
}

void BoundControl::dataSourceDestroyed(DataSource* source) {
    if (m_source != source) return;
    m_source = nullptr;
    // The control lets go of the table too (the grid's model keeps a pointer
    // to it): the window outlives the data module at the end of the program.
    bindingChanged();
}

bool showsColumnAgainAfter(DataEvent event, const Field* changed, const Field* own) {
    switch (event) {
        case deDataSetChange:
        case deDataSetScroll:
        case deRecordChange:
        case deUpdateState: return true;
        case deFieldChange: return changed && changed == own;
        default: return false;
    }
}

void PendingChange::showWriteFailure() {
    if (m_focused) focus::restoreTo(m_self);
}

void PendingChange::writeForRecordUpdate() {
    if (!m_changed) return;
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

DataSet* BoundControl::dataSet() const { return m_source ? m_source->dataSet() : nullptr; }

Field* BoundControl::field() const {
    DataSet* ds = dataSet();
    return ds && !m_fieldName.isEmpty() ? ds->findField(m_fieldName) : nullptr;
}

bool BoundControl::isActive() const {
    DataSet* ds = dataSet();
    return ds && ds->active();
}

bool BoundControl::isEditing() const {
    DataSet* ds = dataSet();
    return ds && ds->isEditing();
}

bool BoundControl::hasCurrentRow() const {
    DataSet* ds = dataSet();
    return ds && ds->active() && ds->currentRow() >= 0;
}

QString BoundControl::columnText() const {
    Field* f = field();
    return f && hasCurrentRow() ? f->displayText() : QString();
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

bool isRestoring() { return g_restoring > 0; }

}  // namespace focus

}  // namespace marvesa
