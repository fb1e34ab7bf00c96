#pragma once

#include "data/cursor/DataSource.h"

namespace marvesa {

// Listens to the master's data source and keeps the detail table on the rows
// of the master's current row.
class MasterDetailLink : public DataLink {
public:
    explicit MasterDetailLink(DataSet* detail) : m_detail(detail) {}
    void dataEvent(DataEvent event, Field* field) override;
    void dataSourceDestroyed(DataSource* source) override;

private:
    DataSet* m_detail;
};

}  // namespace marvesa
