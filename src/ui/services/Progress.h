#pragma once

#include <QString>
#include <cstdint>

namespace marvesa {

// How a long command shows the operator how far it has come and lets it be
// stopped. Every such display of the program goes through here, so that
// tests can follow it and press "Annulla" without a real dialog; the
// program's own implementation is ProgressDialog.
class Progress {
public:
    virtual ~Progress();

    // A long command begins; nothing is shown yet.
    virtual void start(const QString& title) = 0;
    // `done` of `total` so far, described by `text`. Returns false once the
    // operator has asked to stop.
    virtual bool update(const QString& text, std::int64_t done, std::int64_t total) = 0;
    // The command is over, however it ended: whatever was shown goes.
    virtual void finish() = 0;

    // The display in use; the progress dialog unless replaced.
    static Progress& instance();
    // Replaces it (null restores the dialog); the caller keeps ownership.
    static void setInstance(Progress* progress);
};

}  // namespace marvesa
