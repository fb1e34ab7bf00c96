#pragma once

// Keyboard, mouse and list input as the operator gives it.

#include <QString>

class QComboBox;
class QTableView;
class QWidget;

namespace marvesa::test {

// Pastes `text` from the clipboard with Ctrl+V.
void paste(QWidget* w, const QString& text);

// Types characters beyond ASCII, which QTest::keyClicks cannot.
void typeText(QWidget* w, const QString& text);

void tab(QWidget* from);

QWidget* focused();

// Chooses the item `index` in a drop-down's open list.
void chooseFromList(QComboBox* combo, int index);

// Clicks the visual row `row` of a grid.
void clickGridRow(QTableView* grid, int row, int column = 0);

}  // namespace marvesa::test
