#include "app/Launcher.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <filesystem>
#include <system_error>

#include "app/Platform.h"
#include "data/base/Error.h"
#include "data/base/OfficeSettings.h"
#include "data/schema/FileAccess.h"
#include "data/schema/FileDatabase.h"
#include "ui/services/Dialogs.h"
#include "ui/services/ErrorReport.h"

namespace marvesa {

namespace {

const QString kFolder = QStringLiteral("dB");
const QString kFile = QStringLiteral("dbQuaz.mdb");

QString shown(const QString& path) {
    return QDir::toNativeSeparators(path);
}

QString userDataFolder() {
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
        .filePath(QStringLiteral("Marvesa"));
}

// A folder from which "../dB/dbQuaz.mdb" is `file`: its own folder when the
// names fit, else the folder of a link to it in the user's data folder.
QString workingFolderFor(const QString& file) {
    const QFileInfo info(file);
    if (info.fileName() == kFile && info.absoluteDir().dirName() == kFolder)
        return info.absolutePath();
    const QString folder = QDir(userDataFolder()).filePath(QStringLiteral("collegamento/dB"));
    files::makeFolders(folder);
    const QString link = QDir(folder).filePath(kFile);
    const QFileInfo existing(link);
    if (existing.isSymLink() && existing.symLinkTarget() == info.absoluteFilePath())
        return folder;
    if (existing.exists() && !existing.isSymLink()) {
        throw Error(QStringLiteral("Impossibile avviare Marvesa sul database \"%1\": al posto del "
                                   "collegamento \"%2\" c'è un file")
                        .arg(shown(file), shown(link)));
    }
    std::error_code error;
    std::filesystem::remove(link.toStdU16String(), error);
    std::filesystem::create_symlink(info.absoluteFilePath().toStdU16String(), link.toStdU16String(),
                                    error);
    if (error) {
        throw Error(QStringLiteral("Impossibile avviare Marvesa sul database \"%1\": il programma "
                                   "lo trova solo come \"dB%2dbQuaz.mdb\" e su questo sistema "
                                   "non si può creare un collegamento (%3). Dare al file quel "
                                   "nome, in una cartella \"dB\"")
                        .arg(shown(file), QString(QDir::separator()),
                             QString::fromLocal8Bit(error.message().c_str())));
    }
    return folder;
}

LaunchPlan fileInSettings(const DatabaseSetting& setting) {
    const QString& path = setting.value;
    if (QDir::isRelativePath(path)) {
        throw Error(QStringLiteral("Nelle impostazioni \"%1\" il database deve essere indicato con "
                                   "il percorso completo, non come \"%2\"")
                        .arg(shown(setting.settingsFile), path));
    }
    if (!QFileInfo(path).isFile()) {
        throw Error(
            QStringLiteral("Il database \"%1\" indicato nelle impostazioni \"%2\" non esiste "
                           "o non è raggiungibile: avvisare il responsabile informatico "
                           "dell'ufficio")
                .arg(shown(path), shown(setting.settingsFile)));
    }
    return {true, workingFolderFor(path), QFileInfo(path).absoluteFilePath()};
}

LaunchPlan userRegistry() {
    const QString path = userRegistryPath();
    const QString folder = QFileInfo(path).absolutePath();
    if (!QFileInfo::exists(path)) {
        const bool make = Dialogs::confirm(
            QStringLiteral("Non c'è ancora un registro di Marvesa per questo utente.\n\n"
                           "Crearne uno nuovo, vuoto, nella cartella \"%1\"?\n\n"
                           "Se l'ufficio ha già un registro, rispondere No e chiedere al "
                           "responsabile informatico di indicarlo nelle impostazioni.")
                .arg(shown(folder)));
        if (!make)
            return {false, QString(), QString()};
        files::makeFolders(folder);
        schema::createDatabaseAndFolder(path);
    }
    return {true, folder, path};
}

void showError(const QString& text) {
    Dialogs::instance().ask(
        {kWindowTitle, errorBoxText(text), DialogIcon::Error, {DialogButton::Ok}, false});
}

}  // namespace

QString userRegistryPath() {
    return QDir(userDataFolder()).filePath(kFolder + QLatin1Char('/') + kFile);
}

LaunchPlan planLaunch() {
    const DatabaseSetting setting = databaseSetting();
    switch (setting.kind) {
        case DatabaseSetting::Kind::Connection:
            return {true, QString(), QString()};
        case DatabaseSetting::Kind::File:
            return fileInSettings(setting);
        case DatabaseSetting::Kind::None:
            break;
    }
    return userRegistry();
}

int runLauncher() {
    LaunchPlan plan;
    try {
        plan = planLaunch();
    } catch (const Error& e) {
        showError(e.message());
        return 1;
    }
    if (!plan.start)
        return 0;
    const QString program = QStandardPaths::findExecutable(
        QStringLiteral("marvesa"), {QCoreApplication::applicationDirPath()});
    if (program.isEmpty()) {
        showError(QStringLiteral("Impossibile avviare Marvesa: il programma \"marvesa\" non si "
                                 "trova nella cartella \"%1\"")
                      .arg(shown(QCoreApplication::applicationDirPath())));
        return 1;
    }
    const QString failure = platform::runInPlace(program, plan.workingFolder);
    if (failure.isEmpty())
        return 0;
    showError(
        QStringLiteral("Impossibile avviare Marvesa (\"%1\"): %2").arg(shown(program), failure));
    return 1;
}

}  // namespace marvesa
