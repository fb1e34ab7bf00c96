#pragma once

// The message boxes of a benchmark that drives the real window: no box may
// wait for a click that never comes, so each is printed and answered with its
// first button.

#include <QCoreApplication>
#include <QFileInfo>
#include <QTextStream>

#include "ui/services/Dialogs.h"
#include "ui/services/DuplicateReview.h"

namespace marvesa::bench {

class PrintedDialogs : public Dialogs {
public:
    DialogButton ask(const DialogRequest& request) override {
        ++shown;
        QTextStream(stderr) << QFileInfo(QCoreApplication::applicationFilePath()).fileName()
                            << ": finestra di messaggio: " << request.text << '\n';
        return request.buttons.isEmpty() ? DialogButton::Ok : request.buttons.first();
    }
    int shown = 0;
};

// The warning of likely duplicates at a member's "Salva" answered as a clerk
// who knows the member is another person: "Salva comunque". Installed for as
// long as it lives.
class StoringDuplicateReview : public DuplicateReview {
public:
    StoringDuplicateReview() { DuplicateReview::setInstance(this); }
    ~StoringDuplicateReview() override { DuplicateReview::setInstance(nullptr); }
    DuplicateDecision review(const DuplicateReviewRequest&) override {
        ++shown;
        DuplicateDecision decision;
        decision.action = DuplicateDecision::Action::Store;
        return decision;
    }
    int shown = 0;
};

}  // namespace marvesa::bench
