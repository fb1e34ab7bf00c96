#include "ui/DBComboBox.h"

#include <QFocusEvent>

#include "ui/ErrorReport.h"

namespace marvesa {

DBComboBox::DBComboBox(const QString& dataSourceName, const QString& fieldName, const QStringList& items,
                       QWidget* parent)
    : BoundComboBox(dataSourceName, fieldName, parent) {
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

void DBComboBox::itemChosen(int) { m_changed = true; }

void DBComboBox::writeChange() {
    if (Field* f = field()) f->setText(text());
    m_changed = false;
}

void DBComboBox::dataEvent(DataEvent event, Field* f) {
    switch (event) {
        case deDataSetChange:
        case deDataSetScroll:
        case deRecordChange:
        case deUpdateState: showColumn(); break;
        case deFieldChange:
            if (f && f == field()) showColumn();
            break;
        case deUpdateRecord:
            if (m_changed) {
                try {
                    writeChange();
                } catch (...) {
                    if (m_focused) focus::restoreTo(this);
                    throw;
                }
            }
            break;
        default: break;
    }
}

void DBComboBox::focusInEvent(QFocusEvent* event) {
    m_focused = true;
    BoundComboBox::focusInEvent(event);
}

void DBComboBox::focusOutEvent(QFocusEvent* event) {
    if (!m_focused || focus::isRestoring() || !focus::leavesForControlOfWindow(this, event)) {
        BoundComboBox::focusOutEvent(event);
        return;
    }
    if (m_changed) {
        try {
            writeChange();
        } catch (const std::exception& error) {
            focus::restoreTo(this);
            handleApplicationError(error);
            return;
        }
    }
    m_focused = false;
    BoundComboBox::focusOutEvent(event);
}

}  // namespace marvesa
