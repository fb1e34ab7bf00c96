#include "ui/bound/DBLabelAccessible.h"

#include <QFontMetrics>

#include "ui/bound/DBLabel.h"

namespace marvesa {

namespace {

QAccessibleInterface* dbLabelFactory(const QString& className, QObject* object) {
    if (className != QLatin1String(DBLabel::staticMetaObject.className()))
        return nullptr;
    if (auto* label = qobject_cast<DBLabel*>(object))
        return new DBLabelAccessible(label);
    return nullptr;
}

}  // namespace

DBLabelAccessible::DBLabelAccessible(DBLabel* label)
    : QAccessibleWidget(label, QAccessible::StaticText) {}

void DBLabelAccessible::installFactory() {
    static const bool installed = [] {
        QAccessible::installFactory(dbLabelFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

QString DBLabelAccessible::shown() const {
    return static_cast<const DBLabel*>(widget())->caption();
}

void* DBLabelAccessible::interface_cast(QAccessible::InterfaceType type) {
    if (type == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
}

QString DBLabelAccessible::text(QAccessible::Text t) const {
    switch (t) {
        case QAccessible::Name: {
            const QString name = widget()->accessibleName();
            const QString value = shown();
            if (value.isEmpty())
                return name;
            return name.isEmpty() ? value : name + QLatin1Char(' ') + value;
        }
        case QAccessible::Value:
            return shown();
        default:
            return QAccessibleWidget::text(t);
    }
}

void DBLabelAccessible::selection(int, int* startOffset, int* endOffset) const {
    *startOffset = 0;
    *endOffset = 0;
}

QString DBLabelAccessible::text(int startOffset, int endOffset) const {
    const QString s = shown();
    if (endOffset < 0 || endOffset > s.size())
        endOffset = int(s.size());
    startOffset = qBound(0, startOffset, endOffset);
    return s.mid(startOffset, endOffset - startOffset);
}

int DBLabelAccessible::characterCount() const {
    return int(shown().size());
}

// The label shows its text from its top-left corner on one line.
QRect DBLabelAccessible::characterRect(int offset) const {
    const QString s = shown();
    if (offset < 0 || offset >= s.size())
        return QRect();
    const QWidget* w = widget();
    const QFontMetrics fm(w->font());
    const int x = fm.horizontalAdvance(s.left(offset));
    const QRect local(x, 0, fm.horizontalAdvance(s.at(offset)), fm.height());
    return QRect(w->mapToGlobal(local.topLeft()), local.size());
}

int DBLabelAccessible::offsetAtPoint(const QPoint& point) const {
    const QString s = shown();
    const QPoint local = widget()->mapFromGlobal(point);
    const QFontMetrics fm(widget()->font());
    for (int i = 0; i < s.size(); ++i) {
        if (local.x() < fm.horizontalAdvance(s.left(i + 1)))
            return i;
    }
    return -1;
}

QString DBLabelAccessible::attributes(int offset, int* startOffset, int* endOffset) const {
    *startOffset = offset;
    *endOffset = offset;
    return QString();
}

}  // namespace marvesa
