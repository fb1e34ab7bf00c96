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

    // Why the role of the database connection may not use this command
    // (empty: it may): shown as the tooltip and given to a screen reader as
    // the description instead of the button's own, which comes back once
    // the refusal is cleared.
    void setRoleRefusal(const QString& refusal);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    bool m_wordWrap = false;
    bool m_refused = false;
    QString m_ownToolTip;
    QString m_ownDescription;
};

}  // namespace marvesa
