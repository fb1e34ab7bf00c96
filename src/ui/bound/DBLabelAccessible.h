#pragma once

#include <QAccessibleWidget>

namespace marvesa {

class DBLabel;

// What assistive technology reads of a data-bound label, such as the
// family code under its caption "Codice Nucleo".
//
// A static text carries no value over the accessibility bus, and a screen
// reader speaks a label by its name: so the name is the control's
// accessible name followed by the text shown ("Codice Nucleo QX1234"). The
// text shown alone is also offered as the label's text (the Text interface),
// where a reader's review of the window and a braille display read it, and
// as its value. DBLabel announces every change of what it shows with a name
// change and a text update.
class DBLabelAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit DBLabelAccessible(DBLabel* label);

    // Installed once, before the first DBLabel is made.
    static void installFactory();

    void* interface_cast(QAccessible::InterfaceType type) override;
    QString text(QAccessible::Text t) const override;

    // QAccessibleTextInterface: the text shown; nothing to select.
    void selection(int selectionIndex, int* startOffset, int* endOffset) const override;
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    QString text(int startOffset, int endOffset) const override;
    int characterCount() const override;
    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint& point) const override;
    void scrollToSubstring(int, int) override {}
    QString attributes(int offset, int* startOffset, int* endOffset) const override;

private:
    QString shown() const;
};

}  // namespace marvesa
