#include "data/base/OfficeSettings.h"

#include <QSettings>
#include <QStringList>
#include <memory>
#include <vector>

namespace marvesa {

namespace {

const QString kOrganization = QStringLiteral("Marvesa");
const QString kApplication = QStringLiteral("Marvesa");

// Each file of the settings on its own, in the order in which they count
// (as QSettings looks them up): the user's for the program, the user's for
// the organisation, then the same two of the computer.
std::vector<std::unique_ptr<QSettings>> settingsFiles() {
    std::vector<std::unique_ptr<QSettings>> files;
    for (const QSettings::Scope scope : {QSettings::UserScope, QSettings::SystemScope}) {
        for (const QString& application : {kApplication, QString()}) {
            auto file = std::make_unique<QSettings>(QSettings::IniFormat, scope, kOrganization,
                                                    application);
            file->setFallbacksEnabled(false);
            files.push_back(std::move(file));
        }
    }
    return files;
}

// A value with a comma in it (several hosts) is read as a list unless it is
// quoted; it is the same text either way.
QString text(const QVariant& value) {
    const QString joined = value.metaType().id() == QMetaType::QStringList
                               ? value.toStringList().join(QLatin1Char(','))
                               : value.toString();
    return joined.trimmed();
}

}  // namespace

DatabaseSetting databaseSetting() {
    for (const auto& file : settingsFiles()) {
        const QString connection = text(file->value(QStringLiteral("connection")));
        if (!connection.isEmpty())
            return {DatabaseSetting::Kind::Connection, connection, file->fileName()};
        const QString database = text(file->value(QStringLiteral("database")));
        if (!database.isEmpty())
            return {DatabaseSetting::Kind::File, database, file->fileName()};
    }
    return {};
}

QVariant officeSetting(const QString& key, const QVariant& defaultValue) {
    const QSettings settings(QSettings::IniFormat, QSettings::UserScope, kOrganization,
                             kApplication);
    return settings.value(key, defaultValue);
}

}  // namespace marvesa
