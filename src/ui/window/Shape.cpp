#include "ui/window/Shape.h"

#include <QPainter>

namespace marvesa {

Shape::Shape(const QColor& fill, const QColor& outline, QWidget* parent)
    : QWidget(parent), m_fill(fill), m_outline(outline) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
}

void Shape::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), m_fill);
    painter.setPen(m_outline);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

}  // namespace marvesa
