#include "ui/services/ErrorReport.h"

#include "data/base/Error.h"
#include "ui/services/Dialogs.h"

namespace marvesa {

QString errorBoxText(const QString& message) {
    if (!message.isEmpty() && message.back().unicode() > 0x2E)
        return message + QLatin1Char('.');
    return message;
}

QString errorBoxText(const Error& error) {
    return errorBoxText(error.innermostMessage());
}

void handleApplicationError(const std::exception& error) {
    // The operator was already told why the operation stopped.
    if (dynamic_cast<const Abort*>(&error))
        return;
    if (const auto* e = dynamic_cast<const Error*>(&error)) {
        Dialogs::error(errorBoxText(*e), e->detail());
    } else {
        Dialogs::error(errorBoxText(QString::fromLocal8Bit(error.what())));
    }
}

}  // namespace marvesa
