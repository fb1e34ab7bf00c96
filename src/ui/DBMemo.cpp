#include "ui/DBMemo.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QScopedValueRollback>

#include "ui/ErrorReport.h"

namespace marvesa {

DBMemo::DBMemo(const QString& dataSourceName, const QString& fieldName, QWidget* parent)
    : QPlainTextEdit(parent), BoundControl(dataSourceName, fieldName) {
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setTabChangesFocus(true);
    setAcceptDrops(false);
    connect(this, &QPlainTextEdit::textChanged, this, [this] {
        if (!m_showing) m_changed = true;
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
    if (Field* f = field()) f->setText(toPlainText());
    m_changed = false;
}

void DBMemo::dataEvent(DataEvent event, Field* f) {
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

void DBMemo::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        showColumn();
        event->accept();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void DBMemo::focusInEvent(QFocusEvent* event) {
    m_focused = true;
    QPlainTextEdit::focusInEvent(event);
}

void DBMemo::focusOutEvent(QFocusEvent* event) {
    if (!m_focused || focus::isRestoring() || !focus::leavesForControlOfWindow(this, event)) {
        QPlainTextEdit::focusOutEvent(event);
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
    QPlainTextEdit::focusOutEvent(event);
}

}  // namespace marvesa
