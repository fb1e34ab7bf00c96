#include "app/ClosingBackup.h"

#include <QSettings>
#include <memory>

#include "data/base/Error.h"
#include "data/schema/FileBackup.h"
#include "data/sql/ServerAddress.h"
#include "ui/services/Dialogs.h"
#include "ui/services/ErrorReport.h"

namespace marvesa {

namespace {

const QString kFailedMessage = QStringLiteral("copiaNonRiuscita/messaggio");
const QString kFailedAt = QStringLiteral("copiaNonRiuscita/quando");

std::unique_ptr<QSettings> state() {
    auto settings = std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                                QStringLiteral("Marvesa"), QStringLiteral("stato"));
    settings->setFallbacksEnabled(false);
    return settings;
}

}  // namespace

void ClosingBackup::run(const QString& location, const QDateTime& now) {
    if (location.isEmpty() || ServerAddress::isServerConnection(location))
        return;
    QString failure;
    try {
        schema::makeDailyBackup(location, now, schema::BackupPolicy::fromSettings());
    } catch (const std::exception& e) {
        const auto* error = dynamic_cast<const Error*>(&e);
        failure = error ? error->innermostMessage() : QString::fromUtf8(e.what());
    }
    if (failure.isEmpty())
        return;
    const std::unique_ptr<QSettings> settings = state();
    settings->setValue(kFailedMessage, failure);
    settings->setValue(kFailedAt, now);
    settings->sync();
}

void ClosingBackup::tellPendingFailure() {
    const std::unique_ptr<QSettings> settings = state();
    const QString failure = settings->value(kFailedMessage).toString();
    if (failure.isEmpty())
        return;
    const QDateTime at = settings->value(kFailedAt).toDateTime();
    settings->remove(QStringLiteral("copiaNonRiuscita"));
    settings->sync();
    Dialogs::error(
        QStringLiteral("La copia di sicurezza del database non è stata fatta alla "
                       "chiusura del programma%1:\n%2\n\nI dati del database non sono "
                       "stati toccati. Se il problema si ripete, avvisare il "
                       "responsabile informatico dell'ufficio.")
            .arg(at.isValid() ? QStringLiteral(" del ") + schema::shownBackupTime(at) : QString(),
                 errorBoxText(failure)));
}

}  // namespace marvesa
