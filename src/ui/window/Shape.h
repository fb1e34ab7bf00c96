#pragma once

#include <QColor>
#include <QWidget>

namespace marvesa {

// A filled rectangle with a one-pixel outline, beneath the labels and
// controls of a panel.
class Shape : public QWidget {
    Q_OBJECT
public:
    Shape(const QColor& fill, const QColor& outline, QWidget* parent = nullptr);

    QColor fill() const { return m_fill; }
    QColor outline() const { return m_outline; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_fill;
    QColor m_outline;
};

}  // namespace marvesa
