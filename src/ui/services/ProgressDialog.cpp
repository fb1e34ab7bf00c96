#include "ui/services/ProgressDialog.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QProgressDialog>

#include "ui/services/Dialogs.h"

namespace marvesa {

namespace {
// The dialog's bar counts in thousandths, whatever the totals.
constexpr int kSteps = 1000;
}  // namespace

struct ProgressDialog::State {
    QString title;
    QElapsedTimer clock;
    QPointer<QProgressDialog> dialog;
    bool running = false;
};

ProgressDialog::ProgressDialog() : m_state(new State) {}

ProgressDialog::~ProgressDialog() {
    finish();
    delete m_state;
}

void ProgressDialog::start(const QString& title) {
    finish();
    m_state->title = title;
    m_state->clock.start();
    m_state->running = true;
}

bool ProgressDialog::update(const QString& text, std::int64_t done, std::int64_t total) {
    if (!m_state->running)
        return true;
    if (!m_state->dialog) {
        if (m_state->clock.elapsed() < ShowAfterMs)
            return true;
        auto* dialog = new QProgressDialog(text, QStringLiteral("Annulla"), 0, kSteps,
                                           QApplication::activeWindow());
        dialog->setWindowTitle(m_state->title);
        dialog->setAccessibleName(m_state->title);
        dialog->setWindowModality(Qt::ApplicationModal);
        dialog->setMinimumDuration(0);
        dialog->setAutoClose(false);
        dialog->setAutoReset(false);
        dialog->setAttribute(Qt::WA_DeleteOnClose, false);
        dialog->show();
        m_state->dialog = dialog;
        // The arrow comes back beside the hourglass, to reach "Annulla".
        if (QApplication::overrideCursor())
            QApplication::changeOverrideCursor(Qt::BusyCursor);
    }
    QProgressDialog* dialog = m_state->dialog;
    dialog->setLabelText(text);
    const int value =
        total > 0 ? int(qBound(std::int64_t(0), done * kSteps / total, std::int64_t(kSteps))) : 0;
    dialog->setValue(value);
    // The dialog is application-modal: only its own button can be pressed
    // while the events are handled here.
    QCoreApplication::processEvents();
    return !dialog->wasCanceled();
}

void ProgressDialog::finish() {
    m_state->running = false;
    if (m_state->dialog) {
        QProgressDialog* dialog = m_state->dialog;
        m_state->dialog = nullptr;
        dialog->hide();
        delete dialog;
    }
}

}  // namespace marvesa
