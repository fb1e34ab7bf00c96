#pragma once

#include <QHash>

#include "ui/bound/BoundComboBox.h"

namespace marvesa {

// A data-bound lookup drop-down: its items are the key column of a
// reference table, in the table's order, read from the list data source. It
// shows the item whose key equals the bound column's value, nothing when
// none does; choosing an item writes its key text into the column at once.
class DBLookupComboBox : public BoundComboBox {
    Q_OBJECT
public:
    DBLookupComboBox(const QString& dataSourceName, const QString& fieldName,
                     const QString& listSourceName, const QString& keyFieldName,
                     QWidget* parent = nullptr);
    ~DBLookupComboBox() override;

    const QString& listSourceName() const { return m_listSourceName; }
    void setListSource(DataSource* source);
    void bindByName(const DataSourceResolver& resolve) override;

    void dataEvent(DataEvent event, Field* field) override;

protected:
    void showColumn() override;
    void itemChosen(int index) override;

private:
    class ListLink;
    void fillList();

    QString m_listSourceName;
    QString m_keyFieldName;
    std::unique_ptr<ListLink> m_listLink;
    QHash<QString, int> m_keyIndex;
};

}  // namespace marvesa
