#pragma once

#include <QPlainTextEdit>

#include "ui/bound/BoundControl.h"
#include "ui/bound/PendingChange.h"

namespace marvesa {

// A data-bound memo: multi-line text whose lines wrap at the right edge,
// without scroll bars. Enter starts a new line; Tab moves to the next
// control. Like the edits it takes input only while its table is editing and
// writes the operator's change into its column when the focus leaves it for
// another control of the window, at post and when a pending edit is ended.
class DBMemo : public QPlainTextEdit, public BoundControl, public PendingChange {
    Q_OBJECT
public:
    DBMemo(const QString& dataSourceName, const QString& fieldName, QWidget* parent = nullptr);

    QString text() const { return toPlainText(); }

    void dataEvent(DataEvent event, Field* field) override;

protected:
    void bindingChanged() override { showColumn(); }
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void showColumn();
    void writeChange() override;

    bool m_showing = false;
};

}  // namespace marvesa
