#pragma once

#include "ui/services/Progress.h"

namespace marvesa {

// A progress dialog with "Annulla", shown only when the command takes more
// than ShowAfterMs; until then the operator sees just the wait cursor. The
// dialog is application-modal: while it shows, only "Annulla" can be used.
class ProgressDialog : public Progress {
public:
    static constexpr int ShowAfterMs = 1000;

    ProgressDialog();
    ~ProgressDialog() override;
    void start(const QString& title) override;
    bool update(const QString& text, std::int64_t done, std::int64_t total) override;
    void finish() override;

private:
    struct State;
    State* m_state;
};

}  // namespace marvesa
