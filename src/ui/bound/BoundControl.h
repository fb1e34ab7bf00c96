#pragma once

#include <QString>
#include <functional>

#include "data/cursor/DataSet.h"

class QFocusEvent;
class QWidget;

namespace marvesa {

// Finds a data source by its name ("dsNUCLEO"); null when there is none.
using DataSourceResolver = std::function<DataSource*(const QString& name)>;

// The link of a data-bound control to one column of its data source's
// table. The control is made before the data module exists: it waits under
// the data source's name until bindByName() (or setDataSource()) connects it.
// The column is looked up by name on every use, so the control follows the
// table through open, close and rebinding.
class BoundControl : public DataLink {
public:
    BoundControl(QString dataSourceName, QString fieldName);
    ~BoundControl() override;
    BoundControl(const BoundControl&) = delete;
    BoundControl& operator=(const BoundControl&) = delete;

    const QString& dataSourceName() const { return m_dataSourceName; }
    const QString& fieldName() const { return m_fieldName; }
    DataSource* dataSource() const { return m_source; }

    // Connects the control to a data source (null disconnects it) and shows
    // the current row.
    void setDataSource(DataSource* source);
    // Connects every binding the control waits for.
    virtual void bindByName(const DataSourceResolver& resolve);

    void dataSourceDestroyed(DataSource* source) override;

protected:
    DataSet* dataSet() const;
    // The bound column, or null while unbound or when the table lacks it.
    Field* field() const;
    bool isActive() const;
    // Only a table in dsEdit or dsInsert lets its controls change anything.
    bool isEditing() const;
    bool hasCurrentRow() const;
    // What the control shows for its column: the display text, or nothing
    // when the table is closed or has no current row.
    QString columnText() const;

    // The binding changed: show the current row again.
    virtual void bindingChanged() = 0;

private:
    QString m_dataSourceName;
    QString m_fieldName;
    DataSource* m_source = nullptr;
};

// Whether a control showing `own` shows its column again after `event`:
// the current row was established anew, entered dsEdit, the state changed,
// or the column itself received a value.
bool showsColumnAgainAfter(DataEvent event, const Field* changed, const Field* own);

// The operator's change of an editable control (edit, drop-down list, memo)
// and when it goes into the column: at post and when the table ends a
// pending edit (deUpdateRecord), and when the focus leaves the control for
// another control of the window. A failed write leaves the control with the
// focus, so the operator can correct or abandon it.
class PendingChange {
public:
    bool hasChange() const { return m_changed; }

protected:
    explicit PendingChange(QWidget* self) : m_self(self) {}
    virtual ~PendingChange() = default;

    // Writes the change into the column; throws when the column refuses it.
    virtual void writeChange() = 0;
    // After a refused write: the control takes the focus back.
    virtual void showWriteFailure();

    // deUpdateRecord: writes an unwritten change; a refused write stops what
    // caused it (the post, the move), so the error goes on to its caller.
    void writeForRecordUpdate();

    // Focus bookkeeping. On a focus-out, leave() writes the change when the
    // focus went to another control of the window (Left); a focus going to
    // a popup, a message box or nowhere is no exit (Stayed). When the change
    // could not be written (Refused) the error has been shown and the
    // control has the focus again: the focus-out must go no further.
    enum class Exit { Stayed, Refused, Left };
    void enter() { m_focused = true; }
    Exit leave(const QFocusEvent* event);
    bool hasFocusLogically() const { return m_focused; }

    bool m_changed = false;

private:
    QWidget* m_self;
    bool m_focused = false;
};

// Focus bookkeeping shared by the editable controls.
namespace focus {

// True when the keyboard focus leaves `self` for another control of its own
// window. Focus going to a popup, to another window (a message box) or
// nowhere is no exit: the control keeps its logical focus.
bool leavesForControlOfWindow(const QWidget* self, const QFocusEvent* event);

// Gives the focus back to a control whose text could not be written. While
// this runs, the focus-out that Qt sends to the control that was about to
// receive the focus must not count as leaving it.
void restoreTo(QWidget* control);
bool isRestoring();

}  // namespace focus

}  // namespace marvesa
