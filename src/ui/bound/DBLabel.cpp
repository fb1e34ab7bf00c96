#include "ui/bound/DBLabel.h"

#include <QAccessible>

#include "ui/bound/DBLabelAccessible.h"

namespace marvesa {

DBLabel::DBLabel(const QString& dataSourceName, const QString& fieldName, QWidget* parent)
    : QLabel(parent), BoundControl(dataSourceName, fieldName) {
    DBLabelAccessible::installFactory();
    setFocusPolicy(Qt::NoFocus);
    setTextFormat(Qt::PlainText);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

void DBLabel::setCaption(const QString& caption) {
    display(caption);
}

// Shows a text and tells assistive technology: its name carries the text
// (a screen reader following the label speaks the new name), and its text
// was replaced.
void DBLabel::display(const QString& text) {
    const QString old = this->text();
    if (text == old)
        return;
    setText(text);
    if (!QAccessible::isActive())
        return;
    QAccessibleEvent nameChanged(this, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&nameChanged);
    QAccessibleTextUpdateEvent textChanged(this, 0, old, text);
    QAccessible::updateAccessibility(&textChanged);
}

void DBLabel::showColumn() {
    m_wasActive = isActive();
    display(columnText());
}

void DBLabel::bindingChanged() {
    showColumn();
}

void DBLabel::dataEvent(DataEvent event, Field* f) {
    switch (event) {
        case deDataSetChange:
        case deDataSetScroll:
        case deRecordChange:
            showColumn();
            break;
        case deFieldChange:
            if (f && f == field())
                showColumn();
            break;
        case deUpdateState:
            // Entering or leaving an editing state keeps a command's caption;
            // opening and closing the table do not.
            if (isActive() != m_wasActive)
                showColumn();
            break;
        default:
            break;
    }
}

}  // namespace marvesa
