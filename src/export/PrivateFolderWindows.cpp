// The user's own temporary folder (%TEMP%, inside the user's profile) is
// private to the user already: the folders made in it inherit that.

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include "data/base/Error.h"
#include "export/PrivateFolder.h"

namespace marvesa::platform {

namespace {

QString native(const QString& path) {
    return QDir::toNativeSeparators(path);
}

const QFile::Permissions kPrivate = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;

}  // namespace

QString userNameForFiles() {
    static const QRegularExpression allowed(QStringLiteral("^[A-Za-z0-9._-]+$"));
    const QString user = qEnvironmentVariable("USERNAME");
    if (user.startsWith(QLatin1Char('.')) || !allowed.match(user).hasMatch())
        return QStringLiteral("utente");
    return user;
}

bool claimPrivateFolder(const QString& path, QString* refusal) {
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink() && !info.isJunction()) {
        if (!QDir().mkdir(path, kPrivate) && !QFileInfo::exists(path)) {
            throw Error(QStringLiteral("Impossibile creare la cartella temporanea \"%1\".")
                            .arg(native(path)));
        }
    }
    const QFileInfo now(path);
    if (now.isSymLink() || now.isJunction()) {
        if (refusal)
            *refusal = QStringLiteral("è un collegamento simbolico");
        return false;
    }
    if (!now.isDir()) {
        if (refusal)
            *refusal = QStringLiteral("non è una cartella");
        return false;
    }
    return true;
}

QString createPrivateFolder(const QString& parent, const QString& prefix) {
    const QDir dir(parent);
    for (int attempt = 0; attempt < 64; ++attempt) {
        const QString path = dir.absoluteFilePath(
            prefix + QString::number(QRandomGenerator::system()->generate64(), 36));
        // mkdir fails when anything stands there already.
        if (QDir().mkdir(path, kPrivate))
            return path;
    }
    throw Error(QStringLiteral("Impossibile creare una cartella temporanea privata in \"%1\".")
                    .arg(native(parent)));
}

}  // namespace marvesa::platform
