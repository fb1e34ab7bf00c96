#pragma once

#include <QComboBox>
#include <QElapsedTimer>

#include "ui/bound/BoundControl.h"

namespace marvesa {

// What the two data-bound drop-downs share: a list the operator can only
// choose from, showing the item that matches its column. A choice counts
// only while the table is in dsEdit or dsInsert; in dsBrowse typing and
// scrolling are ignored without a sound and a choice from the open list
// shows the column's value again. Typing selects the first item that begins
// with the characters typed (ignoring case and accents), also while the list
// is open; Escape shows the column again.
class BoundComboBox : public QComboBox, public BoundControl {
    Q_OBJECT
public:
    BoundComboBox(const QString& dataSourceName, const QString& fieldName, QWidget* parent);

    // The selected item's text; empty when no item is selected.
    QString text() const;

    // Opens the list as soon as a character is typed.
    void setDropDownOnTyping(bool on) { m_dropDownOnTyping = on; }

    // The longest pause between two typed characters that still continues
    // the same search.
    static constexpr int kSearchPauseMs = 1000;
    // A text as the search compares it: accents dropped, case folded.
    static QString searchFolded(const QString& text);

protected:
    // Shows the column's value in the current row.
    virtual void showColumn() = 0;
    // The operator chose an item while the table is editing.
    virtual void itemChosen(int index) = 0;

    void bindingChanged() override { showColumn(); }
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    // Coming back to the control starts a new search: what was typed on an
    // earlier visit is no prefix of what is typed now.
    void focusInEvent(QFocusEvent* event) override;

    // Selects the item at `index` (-1: none) without it counting as a choice.
    void showIndex(int index);

private:
    void onActivated(int index);
    void typeAhead(const QString& typed);

    bool m_dropDownOnTyping = false;
    bool m_showing = false;
    QString m_typed;
    QElapsedTimer m_sinceTyped;
    QStringList m_searchTexts;  // the items folded for the search, in order
};

}  // namespace marvesa
