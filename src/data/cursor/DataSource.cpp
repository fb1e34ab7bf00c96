#include "data/cursor/DataSource.h"

#include <algorithm>

#include "data/cursor/DataSet.h"

namespace marvesa {

QString stateName(DataSetState state) {
    switch (state) {
        case dsInactive:
            return QStringLiteral("dsInactive");
        case dsBrowse:
            return QStringLiteral("dsBrowse");
        case dsEdit:
            return QStringLiteral("dsEdit");
        case dsInsert:
            return QStringLiteral("dsInsert");
    }
    return QString();
}

DataLink::~DataLink() = default;

void DataLink::dataSourceDestroyed(DataSource*) {}

DataSource::DataSource(QString name, DataSet* dataSet)
    : m_name(std::move(name)), m_dataSet(dataSet) {
    if (m_dataSet) {
        m_dataSet->attachDataSource(this);
        m_lastState = m_dataSet->state();
    }
}

DataSource::~DataSource() {
    if (m_dataSet)
        m_dataSet->detachDataSource(this);
    const std::vector<DataLink*> links = m_links;
    m_links.clear();
    for (DataLink* l : links)
        l->dataSourceDestroyed(this);
}

void DataSource::addLink(DataLink* link) {
    if (std::find(m_links.begin(), m_links.end(), link) == m_links.end())
        m_links.push_back(link);
}

void DataSource::removeLink(DataLink* link) {
    m_links.erase(std::remove(m_links.begin(), m_links.end(), link), m_links.end());
}

void DataSource::notify(DataEvent event, Field* field) {
    const std::vector<DataLink*> links = m_links;
    if (event == deUpdateState) {
        const DataSetState now = state();
        if (now == m_lastState)
            return;
        m_lastState = now;
        for (DataLink* l : links)
            l->dataEvent(event, field);
        if (m_onStateChange)
            m_onStateChange(this);
        return;
    }
    for (DataLink* l : links)
        l->dataEvent(event, field);
}

DataSetState DataSource::state() const {
    return m_dataSet ? m_dataSet->state() : dsInactive;
}

}  // namespace marvesa
