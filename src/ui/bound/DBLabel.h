#pragma once

#include <QLabel>

#include "ui/bound/BoundControl.h"

namespace marvesa {

// A data-bound label: shows the display text of its column in the current
// row, in a fixed box; never takes input or the focus.
//
// A command may put another text in it (setCaption). That caption stays
// until the table establishes its current row anew (deDataSetChange,
// deDataSetScroll, deRecordChange), the label's own column changes, or the
// table opens or closes; changes of other columns leave it alone.
//
// Assistive technology reads the label by its accessible name followed by
// the text it shows, and the text alone (DBLabelAccessible); a change of
// that text is announced.
class DBLabel : public QLabel, public BoundControl {
    Q_OBJECT
public:
    DBLabel(const QString& dataSourceName, const QString& fieldName, QWidget* parent = nullptr);

    void setCaption(const QString& caption);
    QString caption() const { return text(); }

    void dataEvent(DataEvent event, Field* field) override;

protected:
    void bindingChanged() override;

private:
    void showColumn();
    void display(const QString& text);
    bool m_wasActive = false;
};

}  // namespace marvesa
