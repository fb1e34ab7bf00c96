#include "ui/services/DuplicateReview.h"

#include <QApplication>

#include "ui/office/DuplicateDialog.h"

namespace marvesa {

namespace {
DuplicateReview* g_review = nullptr;
}

DuplicateReview::~DuplicateReview() = default;

DuplicateReview& DuplicateReview::instance() {
    static DuplicateReviewDialog dialog;
    return g_review ? *g_review : dialog;
}

void DuplicateReview::setInstance(DuplicateReview* review) {
    g_review = review;
}

DuplicateDecision DuplicateReviewDialog::review(const DuplicateReviewRequest& request) {
    DuplicateDialog dialog(request, QApplication::activeWindow());
    dialog.exec();
    return dialog.decision();
}

}  // namespace marvesa
