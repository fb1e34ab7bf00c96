#pragma once

#include <QWidget>
#include <array>

#include "ui/bound/BoundControl.h"

class QToolButton;

namespace marvesa {

// A record navigator: five buttons side by side, sharing the width equally,
// that move the table of its data source: First, Prior, Next, Last and
// Refresh. Each first ends a pending edit of the table. First and Prior are
// unavailable while the table stands at its beginning, Next and Last while
// it stands at its end, all five while it is closed. The buttons never take
// the keyboard focus.
class DBNavigator : public QWidget, public BoundControl {
    Q_OBJECT
public:
    enum Button { First, Prior, Next, Last, Refresh };
    static constexpr int ButtonCount = 5;

    explicit DBNavigator(const QString& dataSourceName, QWidget* parent = nullptr);

    QToolButton* button(Button which) const { return m_buttons[which]; }
    // Runs a button's action as a click does.
    void click(Button which);

    void dataEvent(DataEvent event, Field* field) override;

protected:
    void bindingChanged() override { updateButtons(); }
    void resizeEvent(QResizeEvent* event) override;

private:
    void updateButtons();
    std::array<QToolButton*, ButtonCount> m_buttons{};
};

}  // namespace marvesa
