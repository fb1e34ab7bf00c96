#include "ui/office/MunicipalityChart.h"

#include <QAccessibleWidget>
#include <QPainter>
#include <algorithm>

#include "ui/window/WindowLayout.h"

namespace marvesa {

namespace {

// Read as a chart, not as an unnamed pane.
QAccessibleInterface* chartAccessibleFactory(const QString& className, QObject* object) {
    if (className != QLatin1String(MunicipalityChart::staticMetaObject.className()))
        return nullptr;
    if (auto* chart = qobject_cast<MunicipalityChart*>(object)) {
        return new QAccessibleWidget(chart, QAccessible::Chart);
    }
    return nullptr;
}

}  // namespace

MunicipalityChart::MunicipalityChart(std::vector<NamedCount> bars, QWidget* parent)
    : QWidget(parent), m_bars(std::move(bars)) {
    static const bool accessibleInstalled = [] {
        QAccessible::installFactory(chartAccessibleFactory);
        return true;
    }();
    Q_UNUSED(accessibleInstalled);
    setObjectName(QStringLiteral("grfComuni"));
    setAccessibleName(QStringLiteral("Grafico delle persone ospitate per comune"));
    QStringList description;
    for (const NamedCount& b : m_bars)
        description << QStringLiteral("%1: %2").arg(b.name).arg(b.count);
    setAccessibleDescription(description.join(QStringLiteral("; ")));
    setMinimumHeight(120);
    // A tab stop, so that a screen reader reaches the chart and reads its
    // numbers (the description) as it does those of the tables.
    setFocusPolicy(Qt::StrongFocus);
}

void MunicipalityChart::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    update();
}

void MunicipalityChart::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    update();
}

QSize MunicipalityChart::sizeHint() const {
    return {420, 22 * int(m_bars.size()) + 12};
}

void MunicipalityChart::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Base));
    if (hasFocus()) {
        painter.save();
        painter.setPen(QPen(palette().color(QPalette::Highlight), 2));
        painter.drawRect(rect().adjusted(1, 1, -1, -1));
        painter.restore();
    }
    if (m_bars.empty()) {
        painter.drawText(rect(), Qt::AlignCenter, QStringLiteral("Nessuna persona ospitata"));
        return;
    }
    int most = 1;
    for (const NamedCount& b : m_bars)
        most = std::max(most, b.count);
    const QFontMetrics fm(font());
    int labelWidth = 0;
    for (const NamedCount& b : m_bars)
        labelWidth = std::max(labelWidth, fm.horizontalAdvance(b.name));
    labelWidth = std::min(labelWidth + 8, width() / 3);
    const int numberWidth = fm.horizontalAdvance(QString::number(most)) + 8;
    const int barSpace = std::max(10, width() - labelWidth - numberWidth - 8);
    const int rowHeight = std::clamp((height() - 8) / int(m_bars.size()), 12, 24);
    const int barHeight = std::max(6, rowHeight - 8);
    for (int i = 0; i < int(m_bars.size()); ++i) {
        const NamedCount& b = m_bars[i];
        const int y = 4 + i * rowHeight;
        const QRect label(4, y, labelWidth - 8, rowHeight);
        painter.setPen(palette().color(QPalette::Text));
        painter.drawText(label, Qt::AlignRight | Qt::AlignVCenter,
                         fm.elidedText(b.name, Qt::ElideRight, label.width()));
        const int length = int(double(barSpace) * b.count / most);
        const QRect bar(labelWidth, y + (rowHeight - barHeight) / 2, std::max(1, length),
                        barHeight);
        painter.fillRect(bar, b.name == QLatin1String("Altri") ? layout::colors::kPanelOutline
                                                               : layout::colors::kDarkBlue);
        painter.drawText(QRect(bar.right() + 4, y, numberWidth, rowHeight),
                         Qt::AlignLeft | Qt::AlignVCenter, QString::number(b.count));
    }
}

}  // namespace marvesa
