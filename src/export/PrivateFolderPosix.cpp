#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <cerrno>
#include <cstring>

#include "data/base/Error.h"
#include "export/PrivateFolder.h"

namespace marvesa::platform {

namespace {

QString native(const QString& path) {
    return QDir::toNativeSeparators(path);
}

QString systemText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

bool usableInFileName(const QString& name) {
    static const QRegularExpression allowed(QStringLiteral("^[A-Za-z0-9._-]+$"));
    return !name.startsWith(QLatin1Char('.')) && allowed.match(name).hasMatch();
}

// Closes a descriptor on every way out.
struct Descriptor {
    int fd;
    ~Descriptor() {
        if (fd >= 0)
            ::close(fd);
    }
};

}  // namespace

QString userNameForFiles() {
    // The effective user, so that the folder always belongs to whoever runs.
    QString user;
    if (const passwd* pw = ::getpwuid(::geteuid()))
        user = QString::fromLocal8Bit(pw->pw_name);
    return usableInFileName(user) ? user : QString::number(::geteuid());
}

bool claimPrivateFolder(const QString& path, QString* refusal) {
    const QByteArray encoded = QFile::encodeName(path);
    if (::mkdir(encoded.constData(), 0700) != 0 && errno != EEXIST) {
        throw Error(QStringLiteral("Impossibile creare la cartella temporanea \"%1\": %2")
                        .arg(native(path), systemText(errno)));
    }
    // Opened without following a link: what is checked and closed below is
    // the folder itself, not something another account put in its place.
    Descriptor dir{::open(encoded.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)};
    if (dir.fd < 0) {
        const int error = errno;
        if (error == ELOOP || error == ENOTDIR) {
            struct stat st;
            const bool link = ::lstat(encoded.constData(), &st) == 0 && S_ISLNK(st.st_mode);
            if (refusal) {
                *refusal = link ? QStringLiteral("è un collegamento simbolico")
                                : QStringLiteral("non è una cartella");
            }
            return false;
        }
        throw Error(QStringLiteral("Impossibile usare la cartella temporanea \"%1\": %2")
                        .arg(native(path), systemText(error)));
    }
    struct stat st;
    if (::fstat(dir.fd, &st) != 0) {
        throw Error(QStringLiteral("Impossibile usare la cartella temporanea \"%1\": %2")
                        .arg(native(path), systemText(errno)));
    }
    if (st.st_uid != ::geteuid()) {
        if (refusal)
            *refusal = QStringLiteral("appartiene a un altro utente");
        return false;
    }
    if ((st.st_mode & 077) != 0 && ::fchmod(dir.fd, 0700) != 0) {
        throw Error(QStringLiteral("Impossibile rendere privata la cartella temporanea \"%1\": %2")
                        .arg(native(path), systemText(errno)));
    }
    return true;
}

QString createPrivateFolder(const QString& parent, const QString& prefix) {
    // mkdtemp makes a new folder, mode 0700, under a name nobody held.
    QByteArray pattern = QFile::encodeName(QDir(parent).absoluteFilePath(prefix)) + "XXXXXX";
    if (!::mkdtemp(pattern.data())) {
        throw Error(
            QStringLiteral("Impossibile creare una cartella temporanea privata in \"%1\": %2")
                .arg(native(parent), systemText(errno)));
    }
    return QFile::decodeName(pattern);
}

}  // namespace marvesa::platform
