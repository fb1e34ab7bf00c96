#include "data/cursor/MasterDetailLink.h"

#include "data/base/Error.h"
#include "data/cursor/DataSet.h"

namespace marvesa {

void MasterDetailLink::dataEvent(DataEvent event, Field* field) {
    if (!m_detail->active())
        return;
    switch (event) {
        case deCheckBrowseMode:
            m_detail->checkBrowseMode();
            break;
        case deDataSetChange:
        case deDataSetScroll:
        case deRecordChange:
            m_detail->linkChanged();
            break;
        case deFieldChange:
            if (field && field->fieldName() == m_detail->m_masterField)
                m_detail->linkChanged();
            break;
        default:
            break;
    }
}

void MasterDetailLink::dataSourceDestroyed(DataSource* source) {
    if (m_detail->m_master == source)
        m_detail->m_master = nullptr;
}

// ---------------------------------------------- the detail table's side

void DataSet::setMasterSource(DataSource* master, const QString& masterField,
                              const QString& detailField) {
    if (m_master && m_masterLink)
        m_master->removeLink(m_masterLink.get());
    m_master = master;
    m_masterField = masterField;
    m_detailField = detailField;
    m_masterLink = std::make_unique<MasterDetailLink>(this);
    if (m_master)
        m_master->addLink(m_masterLink.get());
}

std::optional<ParentRow> DataSet::requiredMaster() const {
    if (m_missingMaster.isEmpty() || !m_master || !m_master->dataSet())
        return std::nullopt;
    const Field* detail = fieldByName(m_detailField);
    return ParentRow{m_master->dataSet()->tableName(), m_masterField,
                     toStorage(*detail, m_pending[detail->index()])};
}

void DataSet::failMissingMaster(const ParentRow& parent) const {
    throw dataSetError(m_name, m_missingMaster.arg(parent.value.toString()));
}

void DataSet::linkChanged() {
    checkBrowseMode();
    std::optional<Value> key;
    const DataSet* master = m_master ? m_master->dataSet() : nullptr;
    if (master && master->active() && master->m_current >= 0 && master->state() != dsInsert) {
        key = master->fieldValue(m_masterField);
    }
    const bool same = key.has_value() == m_filter.has_value() && (!key || *key == *m_filter);
    if (same)
        return;
    m_filter = key;
    readRows();
    m_current = m_rows.empty() ? -1 : 0;
    first();
}

}  // namespace marvesa
