#pragma once

#include "data/sql/Engine.h"

namespace marvesa {

// Shows the wait cursor for as long as it lives.
class WaitCursor {
public:
    WaitCursor();
    ~WaitCursor();
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

// While a statement waits for a database another desk holds, the operator
// sees the wait cursor.
class BusyCursor : public BusyObserver {
public:
    void busyWaitStarted() override;
    void busyWaitEnded() override;
};

}  // namespace marvesa
