#pragma once

#include <QPushButton>

namespace marvesa {

// A command button of the window. A click counts only when the button could
// take the focus: when the control being left refused to let go (its text
// could not be written into its column), the click does nothing. Its caption
// can break between words onto further lines when it does not fit.
class CommandButton : public QPushButton {
    Q_OBJECT
public:
    explicit CommandButton(const QString& caption, QWidget* parent = nullptr);

    void setWordWrap(bool on);
    bool wordWrap() const { return m_wordWrap; }

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    bool m_wordWrap = false;
};

}  // namespace marvesa
