#pragma once

#include <QStringList>
#include <cstdint>

#include "ui/services/Progress.h"

namespace marvesa::test {

// Stands for the progress dialog: records what a long command reports and,
// when told to, answers as if "Annulla" had been pressed. Installed for as
// long as it lives.
class ScriptedProgress : public Progress {
public:
    ScriptedProgress();
    ~ScriptedProgress() override;

    // "Annulla" is pressed at the update whose text begins with `prefix`,
    // the `nth` such (from 0).
    void cancelAt(const QString& prefix, int nth = 0);

    void start(const QString& title) override;
    // Also notes whether the wait cursor shows at every update.
    bool update(const QString& text, std::int64_t done, std::int64_t total) override;
    void finish() override { running = false; }

    QStringList titles;
    QStringList texts;
    bool running = false;
    bool cancelled = false;
    bool waitCursorEachTime = true;

private:
    QString m_cancelPrefix;
    int m_cancelNth = 0;
};

}  // namespace marvesa::test
