#pragma once

#include <QString>
#include <functional>
#include <vector>

#include "data/cursor/DataEvent.h"

namespace marvesa {

class DataSet;
class DataSource;
class Field;

// Something that listens to a data source: a bound control, a grid model, a
// navigator, the member table's link to the family-unit table.
class DataLink {
public:
    virtual ~DataLink();
    // `field` is the column concerned for deFieldChange, otherwise null.
    virtual void dataEvent(DataEvent event, Field* field) = 0;
    // The data source is being released while the link is still registered
    // (the window outlives the data module): the link must forget it.
    virtual void dataSourceDestroyed(DataSource* source);
};

// A data source: passes every event of its table to its listeners, and
// calls its state-change handler once for each real change of state.
class DataSource {
public:
    using StateChangeHandler = std::function<void(DataSource* sender)>;

    DataSource(QString name, DataSet* dataSet);
    ~DataSource();
    DataSource(const DataSource&) = delete;
    DataSource& operator=(const DataSource&) = delete;

    const QString& name() const { return m_name; }
    DataSet* dataSet() const { return m_dataSet; }
    DataSetState state() const;

    void setOnStateChange(StateChangeHandler handler) { m_onStateChange = std::move(handler); }
    void addLink(DataLink* link);
    void removeLink(DataLink* link);

    // Called by the table.
    void notify(DataEvent event, Field* field);

private:
    QString m_name;
    DataSet* m_dataSet;
    std::vector<DataLink*> m_links;
    StateChangeHandler m_onStateChange;
    DataSetState m_lastState = dsInactive;
};

}  // namespace marvesa
