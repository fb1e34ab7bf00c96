#include "ui/bound/DBLabel.h"

#include <QAccessible>
#include <QAccessibleWidget>

namespace marvesa {

namespace {

// What assistive technology reads of a data-bound label: its name (the
// caption above it, "Codice Nucleo") and, as its value, the text it shows.
class DBLabelAccessible : public QAccessibleWidget {
public:
    explicit DBLabelAccessible(DBLabel* label)
        : QAccessibleWidget(label, QAccessible::StaticText) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value)
            return static_cast<const DBLabel*>(widget())->caption();
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface* dbLabelAccessibleFactory(const QString& className, QObject* object) {
    if (className == QLatin1String(DBLabel::staticMetaObject.className()) && object &&
        object->isWidgetType()) {
        if (auto* label = qobject_cast<DBLabel*>(object))
            return new DBLabelAccessible(label);
    }
    return nullptr;
}

}  // namespace

DBLabel::DBLabel(const QString& dataSourceName, const QString& fieldName, QWidget* parent)
    : QLabel(parent), BoundControl(dataSourceName, fieldName) {
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(dbLabelAccessibleFactory);
        return true;
    }();
    Q_UNUSED(factoryInstalled);
    setFocusPolicy(Qt::NoFocus);
    setTextFormat(Qt::PlainText);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

void DBLabel::setCaption(const QString& caption) {
    display(caption);
}

// Shows a text and tells assistive technology that the value changed.
void DBLabel::display(const QString& text) {
    if (text == this->text())
        return;
    setText(text);
    QAccessibleValueChangeEvent event(this, text);
    QAccessible::updateAccessibility(&event);
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
