#pragma once

#include <QString>
#include <functional>

#include "data/cursor/DataSet.h"

namespace marvesa {

// Finds a data source by its name ("dsNUCLEO"); null when there is none.
using DataSourceResolver = std::function<DataSource*(const QString& name)>;

// The link of a data-bound control to one column of its data source's
// table. The control is made before the data module exists: it waits under
// the data source's name until bindByName() (or setDataSource()) connects it.
// The column is looked up by name on every use, so the control follows the
// table through open, close and rebinding.
class BoundControl : public DataLink {
public:
    BoundControl(QString dataSourceName, QString fieldName);
    ~BoundControl() override;
    BoundControl(const BoundControl&) = delete;
    BoundControl& operator=(const BoundControl&) = delete;

    const QString& dataSourceName() const { return m_dataSourceName; }
    const QString& fieldName() const { return m_fieldName; }
    DataSource* dataSource() const { return m_source; }

    // Connects the control to a data source (null disconnects it) and shows
    // the current row.
    void setDataSource(DataSource* source);
    // Connects every binding the control waits for.
    virtual void bindByName(const DataSourceResolver& resolve);

    void dataSourceDestroyed(DataSource* source) override;

protected:
    DataSet* dataSet() const;
    // The bound column, or null while unbound or when the table lacks it.
    Field* field() const;
    bool isActive() const;
    // Only a table in dsEdit or dsInsert lets its controls change anything.
    bool isEditing() const;
    bool hasCurrentRow() const;
    // What the control shows for its column: the display text, or nothing
    // when the table is closed or has no current row.
    QString columnText() const;

    // The binding changed: show the current row again.
    virtual void bindingChanged() = 0;

private:
    QString m_dataSourceName;
    QString m_fieldName;
    DataSource* m_source = nullptr;
};

// Whether a control showing `own` shows its column again after `event`:
// the current row was established anew, entered dsEdit, the state changed,
// or the column itself received a value.
bool showsColumnAgainAfter(DataEvent event, const Field* changed, const Field* own);

}  // namespace marvesa
