#pragma once

#include "ui/bound/BoundComboBox.h"
#include "ui/bound/PendingChange.h"

namespace marvesa {

// A data-bound drop-down list with fixed items. It selects the item whose
// text equals the column's value ignoring case, and none when no item does.
// A choice is the control's change, written into the column when the focus
// leaves the control for another control of the window, at post, and
// whenever the table ends a pending edit.
class DBComboBox : public BoundComboBox, public PendingChange {
    Q_OBJECT
public:
    DBComboBox(const QString& dataSourceName, const QString& fieldName, const QStringList& items,
               QWidget* parent = nullptr);

    void dataEvent(DataEvent event, Field* field) override;

protected:
    void showColumn() override;
    void itemChosen(int index) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void writeChange() override;
};

}  // namespace marvesa
