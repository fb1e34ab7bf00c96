#include "ui/BoundControl.h"

#include <QApplication>
#include <QFocusEvent>
#include <QWidget>

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
    if (m_source == source) m_source = nullptr;
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
