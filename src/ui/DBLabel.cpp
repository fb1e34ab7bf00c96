#include "ui/DBLabel.h"

namespace marvesa {

DBLabel::DBLabel(const QString& dataSourceName, const QString& fieldName, QWidget* parent)
    : QLabel(parent), BoundControl(dataSourceName, fieldName) {
    setFocusPolicy(Qt::NoFocus);
    setTextFormat(Qt::PlainText);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

void DBLabel::setCaption(const QString& caption) { setText(caption); }

void DBLabel::showColumn() {
    m_wasActive = isActive();
    setText(columnText());
}

void DBLabel::bindingChanged() { showColumn(); }

void DBLabel::dataEvent(DataEvent event, Field* f) {
    switch (event) {
        case deDataSetChange:
        case deDataSetScroll:
        case deRecordChange: showColumn(); break;
        case deFieldChange:
            if (f && f == field()) showColumn();
            break;
        case deUpdateState:
            // Entering or leaving an editing state keeps a command's caption;
            // opening and closing the table do not.
            if (isActive() != m_wasActive) showColumn();
            break;
        default: break;
    }
}

}  // namespace marvesa
