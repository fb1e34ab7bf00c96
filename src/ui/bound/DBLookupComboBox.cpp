#include "ui/bound/DBLookupComboBox.h"

#include <QAbstractItemView>
#include <QListView>

namespace marvesa {

// Follows the reference table: the list is read again when the table opens,
// closes or reads its rows anew.
class DBLookupComboBox::ListLink : public DataLink {
public:
    explicit ListLink(DBLookupComboBox* owner) : m_owner(owner) {}
    ~ListLink() override { setSource(nullptr); }

    DataSource* source() const { return m_source; }
    void setSource(DataSource* source) {
        if (m_source)
            m_source->removeLink(this);
        m_source = source;
        if (m_source)
            m_source->addLink(this);
    }
    void dataEvent(DataEvent event, Field*) override {
        if (event == deUpdateState || event == deDataSetChange)
            m_owner->fillList();
    }
    void dataSourceDestroyed(DataSource* source) override {
        if (m_source == source)
            m_source = nullptr;
    }

private:
    DBLookupComboBox* m_owner;
    DataSource* m_source = nullptr;
};

DBLookupComboBox::DBLookupComboBox(const QString& dataSourceName, const QString& fieldName,
                                   const QString& listSourceName, const QString& keyFieldName,
                                   QWidget* parent)
    : BoundComboBox(dataSourceName, fieldName, parent),
      m_listSourceName(listSourceName),
      m_keyFieldName(keyFieldName),
      m_listLink(std::make_unique<ListLink>(this)) {
    // Thousands of municipalities: rows of one height keep the list quick.
    if (auto* list = qobject_cast<QListView*>(view()))
        list->setUniformItemSizes(true);
}

DBLookupComboBox::~DBLookupComboBox() = default;

void DBLookupComboBox::setListSource(DataSource* source) {
    if (m_listLink->source() == source)
        return;
    m_listLink->setSource(source);
    fillList();
}

void DBLookupComboBox::bindByName(const DataSourceResolver& resolve) {
    setListSource(resolve(m_listSourceName));
    BoundComboBox::bindByName(resolve);
}

void DBLookupComboBox::fillList() {
    QStringList keys;
    m_keyIndex.clear();
    DataSource* source = m_listLink->source();
    DataSet* list = source ? source->dataSet() : nullptr;
    if (list && list->active()) {
        if (const Field* key = list->findField(m_keyFieldName)) {
            const int rows = list->rowCount();
            keys.reserve(rows);
            for (int row = 0; row < rows; ++row) {
                const QString text = Field::displayTextOf(list->valueAt(row, key->index()));
                if (!m_keyIndex.contains(text))
                    m_keyIndex.insert(text, keys.size());
                keys << text;
            }
        }
    }
    showIndex(-1);
    clear();
    addItems(keys);
    showColumn();
}

void DBLookupComboBox::showColumn() {
    int match = -1;
    if (hasCurrentRow() && field() && !field()->value().isNull()) {
        match = m_keyIndex.value(columnText(), -1);
    }
    showIndex(match);
}

void DBLookupComboBox::itemChosen(int index) {
    Field* f = field();
    if (!f || index < 0)
        return;
    try {
        f->setText(itemText(index));
    } catch (...) {
        showColumn();
        throw;
    }
}

void DBLookupComboBox::dataEvent(DataEvent event, Field* f) {
    switch (event) {
        case deDataSetChange:
        case deDataSetScroll:
        case deRecordChange:
        case deUpdateState:
            showColumn();
            break;
        case deFieldChange:
            if (f && f == field())
                showColumn();
            break;
        default:
            break;
    }
}

}  // namespace marvesa
