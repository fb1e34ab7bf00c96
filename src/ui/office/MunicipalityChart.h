#pragma once

#include <QWidget>
#include <vector>

#include "data/registry/RegistryQueries.h"

namespace marvesa {

// The bar chart of the people hosted by municipality: the first ten and
// "Altri", one horizontal bar each, drawn with QPainter. A tab stop with a
// frame while it has the focus; assistive technology reads it as a chart
// whose description gives every bar's name and number.
class MunicipalityChart : public QWidget {
    Q_OBJECT
public:
    explicit MunicipalityChart(std::vector<NamedCount> bars, QWidget* parent = nullptr);
    const std::vector<NamedCount>& bars() const { return m_bars; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    std::vector<NamedCount> m_bars;
};

}  // namespace marvesa
