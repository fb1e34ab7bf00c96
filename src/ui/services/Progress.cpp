#include "ui/services/Progress.h"

#include "ui/services/ProgressDialog.h"

namespace marvesa {

namespace {
Progress* g_progress = nullptr;
}  // namespace

Progress::~Progress() = default;

Progress& Progress::instance() {
    static ProgressDialog dialog;
    return g_progress ? *g_progress : dialog;
}

void Progress::setInstance(Progress* progress) {
    g_progress = progress;
}

}  // namespace marvesa
