#include "ui/bound/DBEdit.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>

#include "data/base/TextRules.h"
#include "ui/services/ErrorReport.h"

namespace marvesa {

namespace {

bool isPrintable(const QString& text) {
    return !text.isEmpty() && text.at(0).unicode() >= 0x20 && text.at(0) != QChar(0x7F);
}

// Keys that move the cursor or copy without changing the text.
bool isNavigation(const QKeyEvent* e) {
    switch (e->key()) {
        case Qt::Key_Left:
        case Qt::Key_Right:
        case Qt::Key_Home:
        case Qt::Key_End:
            return true;
        default:
            break;
    }
    return e->matches(QKeySequence::Copy) || e->matches(QKeySequence::SelectAll);
}

const int kUnlimited = 32767;  // QLineEdit's own default

}  // namespace

DBEdit::DBEdit(const QString& dataSourceName, const QString& fieldName, QWidget* parent)
    : QLineEdit(parent), BoundControl(dataSourceName, fieldName), PendingChange(this) {
    setAcceptDrops(false);
    setReadOnly(true);
    connect(this, &QLineEdit::textEdited, this, [this] { m_changed = true; });
}

QString DBEdit::text() const {
    return m_masked ? m_masked->text() : QLineEdit::text();
}

void DBEdit::setText(const QString& text) {
    if (text == this->text())
        return;
    if (m_masked) {
        m_masked->setText(text);
        render(true);
    } else {
        QLineEdit::setText(text);
    }
    if (isEditing())
        m_changed = true;
}

void DBEdit::bindingChanged() {
    showColumn();
}

void DBEdit::configureFor(const Field* f) {
    const QString mask = f ? f->editMask() : QString();
    if (mask.isEmpty()) {
        m_masked.reset();
    } else if (!m_masked || m_masked->mask().source() != mask) {
        m_masked.emplace(EditMask(mask));
    }
    setMaxLength(f && f->kind() == FieldKind::Text && !m_masked ? f->width() : kUnlimited);
}

void DBEdit::showColumn() {
    configureFor(field());
    m_columnText = columnText();
    m_changed = false;
    m_maskFailed = false;
    setReadOnly(!isEditing());
    if (m_masked) {
        m_masked->setText(m_columnText);
        render(true);
    } else {
        QLineEdit::setText(m_columnText);
    }
}

// Puts the masked text on screen: the template with placeholders while the
// edit has the focus, the column's display text otherwise.
void DBEdit::render(bool placeCursor) {
    QString shown;
    if (hasFocusLogically()) {
        shown = m_masked->editText();
    } else {
        shown = m_changed ? m_masked->text() : m_columnText;
    }
    if (QLineEdit::text() != shown) {
        QLineEdit::setText(shown);
        placeCursor = true;
    }
    if (placeCursor && hasFocusLogically())
        setCursorPosition(m_masked->cursor());
}

void DBEdit::dataEvent(DataEvent event, Field* f) {
    if (event == deUpdateRecord) {
        writeForRecordUpdate();
    } else if (showsColumnAgainAfter(event, f, field())) {
        showColumn();
    }
}

// Writes the change into the column; a masked edit first checks that every
// required position holds a digit. Throws when the column refuses the text.
void DBEdit::writeChange() {
    Field* f = field();
    if (!f)
        return;
    m_maskFailed = false;
    if (m_masked) {
        try {
            m_masked->validate();
        } catch (...) {
            m_maskFailed = true;
            QApplication::beep();
            throw;
        }
        f->setText(m_masked->text());
    } else {
        f->setText(QLineEdit::text());
    }
    m_changed = false;
}

// After a failed write the edit keeps (or gets back) the focus: a mask
// failure puts the cursor on the first empty required position, a refused
// text is selected whole.
void DBEdit::showWriteFailure() {
    if (m_maskFailed) {
        focus::restoreTo(this);
        render(true);
        setCursorPosition(m_masked->cursor());
    } else if (hasFocusLogically()) {
        focus::restoreTo(this);
        selectAll();
    }
}

void DBEdit::focusInEvent(QFocusEvent* event) {
    enter();
    if (m_masked)
        render(false);
    QLineEdit::focusInEvent(event);
}

void DBEdit::focusOutEvent(QFocusEvent* event) {
    const Exit exit = leave(event);
    if (exit == Exit::Refused)
        return;
    QLineEdit::focusOutEvent(event);
    if (m_masked)
        render(false);
    if (exit == Exit::Left)
        emit exited();
}

void DBEdit::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        showColumn();
        selectAll();
        event->accept();
        return;
    }
    if (!m_masked) {
        if (event->matches(QKeySequence::Paste)) {
            pasteText();
            event->accept();
            return;
        }
        if (m_upperCase && !isReadOnly() && isPrintable(event->text())) {
            QKeyEvent upper(event->type(), event->key(), event->modifiers(),
                            toCapitals(event->text()), event->isAutoRepeat(),
                            ushort(event->count()));
            QLineEdit::keyPressEvent(&upper);
            event->setAccepted(upper.isAccepted());
            return;
        }
        QLineEdit::keyPressEvent(event);
        return;
    }

    // The masked edit handles every change itself.
    if (isNavigation(event)) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    const bool editing = isEditing();
    if (event->matches(QKeySequence::Paste)) {
        if (editing)
            pasteText();
    } else if (event->matches(QKeySequence::Cut)) {
        if (editing)
            cutMasked();
    } else if (event->key() == Qt::Key_Backspace) {
        if (editing)
            deleteMasked(true);
    } else if (event->key() == Qt::Key_Delete) {
        if (editing)
            deleteMasked(false);
    } else if (isPrintable(event->text()) &&
               !(event->modifiers() & (Qt::ControlModifier | Qt::MetaModifier))) {
        if (editing)
            typeMasked(event->text());
    } else {
        event->ignore();
        return;
    }
    event->accept();
}

// Applies one editing step to the masked text, starting from the cursor or
// the selection on screen.
void DBEdit::editMasked(const std::function<void(MaskedText&)>& edit) {
    MaskedText next = *m_masked;
    if (hasSelectedText()) {
        next.clearRange(selectionStart(), selectionStart() + selectedText().size());
    } else {
        next.setCursor(cursorPosition());
    }
    edit(next);
    // Only a different text is a change; "/" merely moves the cursor.
    if (next.text() != m_masked->text())
        m_changed = true;
    *m_masked = next;
    render(true);
    setCursorPosition(m_masked->cursor());
}

void DBEdit::typeMasked(const QString& typed) {
    bool refused = false;
    MaskedText trial = *m_masked;
    // A refused key changes nothing, not even the selection.
    if (typed.size() == 1) {
        if (hasSelectedText()) {
            trial.clearRange(selectionStart(), selectionStart() + selectedText().size());
        } else {
            trial.setCursor(cursorPosition());
        }
        if (!trial.type(typed.at(0))) {
            QApplication::beep();
            return;
        }
    }
    editMasked([&](MaskedText& m) {
        for (QChar c : typed) {
            if (!m.type(c))
                refused = true;
        }
    });
    if (refused)
        QApplication::beep();
}

void DBEdit::deleteMasked(bool backwards) {
    if (hasSelectedText()) {
        editMasked([](MaskedText&) {});
    } else {
        editMasked([backwards](MaskedText& m) { backwards ? m.backspace() : m.del(); });
    }
}

void DBEdit::cutMasked() {
    if (!hasSelectedText())
        return;
    QGuiApplication::clipboard()->setText(selectedText());
    editMasked([](MaskedText&) {});
}

// Pastes the clipboard's text: in capitals for an upper-case edit, through
// the mask for a masked one. The width limit cuts what does not fit.
void DBEdit::pasteText() {
    if (isReadOnly() || !isEditing())
        return;
    QString s = QGuiApplication::clipboard()->text();
    if (s.isEmpty())
        return;
    if (m_masked) {
        typeMasked(s);
        return;
    }
    insert(m_upperCase ? toCapitals(s) : s);
}

void DBEdit::contextMenuEvent(QContextMenuEvent* event) {
    QMenu* menu = createStandardContextMenu();
    const bool editable = !isReadOnly() && isEditing();
    for (QAction* action : menu->actions()) {
        const QString name = action->objectName();
        if (name == QLatin1String("edit-paste")) {
            disconnect(action, &QAction::triggered, this, nullptr);
            connect(action, &QAction::triggered, this, &DBEdit::pasteText);
        } else if (m_masked && name == QLatin1String("edit-cut")) {
            disconnect(action, &QAction::triggered, this, nullptr);
            connect(action, &QAction::triggered, this, &DBEdit::cutMasked);
            action->setEnabled(editable && hasSelectedText());
        } else if (m_masked && name == QLatin1String("edit-delete")) {
            disconnect(action, &QAction::triggered, this, nullptr);
            connect(action, &QAction::triggered, this, [this] { deleteMasked(false); });
            action->setEnabled(editable && hasSelectedText());
        } else if (m_masked &&
                   (name == QLatin1String("edit-undo") || name == QLatin1String("edit-redo"))) {
            action->setEnabled(false);
        }
    }
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

void DBEdit::inputMethodEvent(QInputMethodEvent* event) {
    if (m_masked) {
        if (isEditing() && !event->commitString().isEmpty())
            typeMasked(event->commitString());
        event->accept();
        return;
    }
    if (m_upperCase && !event->commitString().isEmpty()) {
        QInputMethodEvent upper(event->preeditString(), event->attributes());
        upper.setCommitString(toCapitals(event->commitString()), event->replacementStart(),
                              event->replacementLength());
        QLineEdit::inputMethodEvent(&upper);
        return;
    }
    QLineEdit::inputMethodEvent(event);
}

}  // namespace marvesa
