#include "ui/bound/DBComboBox.h"

#include <QFocusEvent>

#include "ui/services/ErrorReport.h"

namespace marvesa {

DBComboBox::DBComboBox(const QString& dataSourceName, const QString& fieldName,
                       const QStringList& items, QWidget* parent)
    : BoundComboBox(dataSourceName, fieldName, parent), PendingChange(this) {
    addItems(items);
    showIndex(-1);
}

void DBComboBox::showColumn() {
    m_changed = false;
    int match = -1;
    if (hasCurrentRow() && field() && !field()->value().isNull()) {
        const QString value = columnText();
        for (int i = 0; i < count(); ++i) {
            if (itemText(i).compare(value, Qt::CaseInsensitive) == 0) {
                match = i;
                break;
            }
        }
    }
    showIndex(match);
}

void DBComboBox::itemChosen(int) {
    m_changed = true;
}

void DBComboBox::writeChange() {
    if (Field* f = field())
        f->setText(text());
    m_changed = false;
}

void DBComboBox::dataEvent(DataEvent event, Field* f) {
    if (event == deUpdateRecord) {
        writeForRecordUpdate();
    } else if (showsColumnAgainAfter(event, f, field())) {
        showColumn();
    }
}

void DBComboBox::focusInEvent(QFocusEvent* event) {
    enter();
    BoundComboBox::focusInEvent(event);
}

void DBComboBox::focusOutEvent(QFocusEvent* event) {
    if (leave(event) == Exit::Refused)
        return;
    BoundComboBox::focusOutEvent(event);
}

}  // namespace marvesa
