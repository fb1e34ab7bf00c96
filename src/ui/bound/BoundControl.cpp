#include "ui/bound/BoundControl.h"

#include <QApplication>
#include <QFocusEvent>
#include <QWidget>

#include "ui/services/ErrorReport.h"

namespace marvesa {

BoundControl::BoundControl(QString dataSourceName, QString fieldName)
    : m_dataSourceName(std::move(dataSourceName)), m_fieldName(std::move(fieldName)) {}

BoundControl::~BoundControl() {
    if (m_source)
        m_source->removeLink(this);
}

void BoundControl::setDataSource(DataSource* source) {
    if (m_source == source)
        return;
    if (m_source)
        m_source->removeLink(this);
    m_source = source;
    if (m_source)
        m_source->addLink(this);
    bindingChanged();
}

void BoundControl::bindByName(const DataSourceResolver& resolve) {
    setDataSource(resolve(m_dataSourceName));
}

void BoundControl::dataSourceDestroyed(DataSource* source) {
    if (m_source != source)
        return;
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
        case deUpdateState:
            return true;
        case deFieldChange:
            return changed && changed == own;
        default:
            return false;
    }
}

DataSet* BoundControl::dataSet() const {
    return m_source ? m_source->dataSet() : nullptr;
}

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

}  // namespace marvesa
