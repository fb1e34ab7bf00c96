#pragma once

#include <QLineEdit>
#include <functional>
#include <optional>

#include "data/cursor/MaskModel.h"
#include "ui/bound/BoundControl.h"
#include "ui/bound/PendingChange.h"

namespace marvesa {

// A data-bound single-line edit. It shows its column in the current row and
// takes input only while the table is in dsEdit or dsInsert; in dsBrowse it
// can take the focus but refuses every change without a sound.
//
// A text column limits the input to the column's width. A column with an
// input mask (the date columns) turns the edit into a masked date edit:
// while focused it shows the template with "_" in every empty position and
// takes digits only, "/" jumping past the next separator; without the focus
// it shows the column's display text. Its text() always reads the ten
// template positions, a blank in each empty one.
//
// The operator's change is written into the column (Field::setText) when the
// focus leaves the edit for another control of the window, at post, and
// whenever the table ends a pending edit. Escape drops it and shows the
// column again.
class DBEdit : public QLineEdit, public BoundControl, public PendingChange {
    Q_OBJECT
public:
    DBEdit(const QString& dataSourceName, const QString& fieldName, QWidget* parent = nullptr);

    // Letters typed or pasted become capitals as they enter.
    void setUpperCase(bool upperCase) { m_upperCase = upperCase; }
    bool upperCase() const { return m_upperCase; }

    // The text the commands read: what the edit holds; for a masked edit the
    // ten template positions with a blank in every empty one.
    QString text() const;
    // Sets the text as a command does. While the table is editing the new
    // text is the control's change; in dsBrowse only what it shows changes.
    void setText(const QString& text);
    // The text on screen, placeholders included.
    QString shownText() const { return QLineEdit::text(); }

    bool isMasked() const { return m_masked.has_value(); }
    // True while the control holds a change not yet written into its column.

    void dataEvent(DataEvent event, Field* field) override;

signals:
    // The focus left for another control of the window after the change, if
    // any, went into the column (the trimmed edits hang their trim on this).
    void exited();

protected:
    void bindingChanged() override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;

private:
    void showColumn();
    void configureFor(const Field* field);
    void writeChange() override;
    void showWriteFailure() override;
    void render(bool placeCursor);
    void editMasked(const std::function<void(MaskedText&)>& edit);
    void typeMasked(const QString& typed);
    void pasteText();
    void cutMasked();
    void deleteMasked(bool backwards);

    bool m_upperCase = false;
    bool m_maskFailed = false;
    QString m_columnText;
    std::optional<MaskedText> m_masked;
};

}  // namespace marvesa
