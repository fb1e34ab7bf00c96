#pragma once

class QFocusEvent;
class QWidget;

namespace marvesa {

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
