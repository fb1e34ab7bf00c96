#include "ui/window/CommandButton.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionButton>
#include <QStylePainter>

namespace marvesa {

CommandButton::CommandButton(const QString& caption, QWidget* parent)
    : QPushButton(caption, parent) {
    setAutoDefault(false);
    setFocusPolicy(Qt::StrongFocus);
}

void CommandButton::setWordWrap(bool on) {
    m_wordWrap = on;
    update();
}

void CommandButton::setRoleRefusal(const QString& refusal) {
    if (refusal.isEmpty()) {
        if (m_refused) {
            setToolTip(m_ownToolTip);
            setAccessibleDescription(m_ownDescription);
            m_refused = false;
        }
        return;
    }
    if (!m_refused) {
        m_ownToolTip = toolTip();
        m_ownDescription = accessibleDescription();
        m_refused = true;
    }
    setToolTip(refusal);
    setAccessibleDescription(refusal);
}

void CommandButton::mousePressEvent(QMouseEvent* event) {
    const QWidget* f = QApplication::focusWidget();
    if (f && f != this && f->window() == window()) {
        event->accept();
        return;
    }
    QPushButton::mousePressEvent(event);
}

void CommandButton::paintEvent(QPaintEvent* event) {
    if (!m_wordWrap) {
        QPushButton::paintEvent(event);
        return;
    }
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    const QString caption = option.text;
    option.text.clear();
    painter.drawControl(QStyle::CE_PushButton, option);
    const QRect contents = style()->subElementRect(QStyle::SE_PushButtonContents, &option, this);
    style()->drawItemText(&painter, contents,
                          Qt::AlignCenter | Qt::TextWordWrap | Qt::TextShowMnemonic, option.palette,
                          isEnabled(), caption, QPalette::ButtonText);
}

}  // namespace marvesa
