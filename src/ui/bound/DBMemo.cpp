#include "ui/bound/DBMemo.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QScopedValueRollback>

#include "ui/services/ErrorReport.h"

namespace marvesa {

DBMemo::DBMemo(const QString& dataSourceName, const QString& fieldName, QWidget* parent)
    : QPlainTextEdit(parent), BoundControl(dataSourceName, fieldName), PendingChange(this) {
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setTabChangesFocus(true);
    setAcceptDrops(false);
    connect(this, &QPlainTextEdit::textChanged, this, [this] {
        if (!m_showing)
            m_changed = true;
    });
    showColumn();
}

void DBMemo::showColumn() {
    QScopedValueRollback<bool> guard(m_showing, true);
    m_changed = false;
    setReadOnly(!isEditing());
    // Keyboard selection and copying stay possible while the memo refuses
    // changes.
    if (isReadOnly()) {
        setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    }
    QString text = columnText();
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    setPlainText(text);
}

void DBMemo::writeChange() {
    if (Field* f = field())
        f->setText(toPlainText());
    m_changed = false;
}

void DBMemo::dataEvent(DataEvent event, Field* f) {
    if (event == deUpdateRecord) {
        writeForRecordUpdate();
    } else if (showsColumnAgainAfter(event, f, field())) {
        showColumn();
    }
}

void DBMemo::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        showColumn();
        event->accept();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void DBMemo::focusInEvent(QFocusEvent* event) {
    enter();
    QPlainTextEdit::focusInEvent(event);
}

void DBMemo::focusOutEvent(QFocusEvent* event) {
    if (leave(event) == Exit::Refused)
        return;
    QPlainTextEdit::focusOutEvent(event);
}

}  // namespace marvesa
