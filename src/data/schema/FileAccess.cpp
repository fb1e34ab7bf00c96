#include "data/schema/FileAccess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "data/base/Error.h"

#ifdef Q_OS_UNIX
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace marvesa::files {

namespace {

QString shown(const QString& path) {
    return QDir::toNativeSeparators(QDir(path).absolutePath());
}

#ifdef Q_OS_UNIX

// The reason of a failed system call, in the operator's language.
QString reason(int error) {
    switch (error) {
        case EPERM:
        case EACCES:
            return QStringLiteral("permesso negato");
        case ENOENT:
            return QStringLiteral("il percorso non esiste");
        case EROFS:
            return QStringLiteral("il disco è in sola lettura");
        default:
            return QStringLiteral("errore di sistema %1").arg(error);
    }
}

gid_t groupId(const QString& group) {
    const struct group* g = ::getgrnam(QFile::encodeName(group).constData());
    if (!g)
        throw Error(QStringLiteral("Il gruppo \"%1\" non esiste").arg(group));
    return g->gr_gid;
}

void giveTo(const QString& path, const QString& group, mode_t mode) {
    const QByteArray native = QFile::encodeName(path);
    if (::chown(native.constData(), uid_t(-1), groupId(group)) != 0) {
        throw Error(QStringLiteral("Impossibile assegnare \"%1\" al gruppo \"%2\": %3")
                        .arg(shown(path), group, reason(errno)));
    }
    if (::chmod(native.constData(), mode) != 0) {
        throw Error(QStringLiteral("Impossibile impostare i permessi di \"%1\": %2")
                        .arg(shown(path), reason(errno)));
    }
}

#endif

void setOwnerOnly(const QString& path, QFileDevice::Permissions permissions) {
    if (!QFile::setPermissions(path, permissions)) {
        throw Error(QStringLiteral("Impossibile impostare i permessi di \"%1\"").arg(shown(path)));
    }
}

}  // namespace

void restrictToOwner(const QString& path) {
    setOwnerOnly(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

void restrictFolderToOwner(const QString& folder) {
    setOwnerOnly(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

void shareFolderWithGroup(const QString& folder, const QString& group) {
#ifdef Q_OS_UNIX
    giveTo(folder, group, S_ISGID | S_IRWXU | S_IRWXG);
#else
    Q_UNUSED(folder);
    throw Error(QStringLiteral("La condivisione con il gruppo \"%1\" non è disponibile su questo "
                               "sistema: usare i permessi delle cartelle del sistema")
                    .arg(group));
#endif
}

void shareFileWithGroup(const QString& path, const QString& group) {
#ifdef Q_OS_UNIX
    giveTo(path, group, S_IRUSR | S_IWUSR | S_IRGRP | S_IWGRP);
#else
    Q_UNUSED(path);
    throw Error(QStringLiteral("La condivisione con il gruppo \"%1\" non è disponibile su questo "
                               "sistema: usare i permessi delle cartelle del sistema")
                    .arg(group));
#endif
}

void makeFolders(const QString& folder) {
    const QString absolute = QDir::cleanPath(QDir(folder).absolutePath());
    QStringList missing;
    for (QString f = absolute; !QFileInfo::exists(f); f = QFileInfo(f).absolutePath()) {
        missing.prepend(f);
        if (QFileInfo(f).absolutePath() == f)
            break;
    }
    for (const QString& f : missing) {
        if (!QDir().mkdir(f) && !QFileInfo(f).isDir()) {
            throw Error(QStringLiteral("Impossibile creare la cartella \"%1\"").arg(shown(f)));
        }
        restrictFolderToOwner(f);
    }
    if (!QFileInfo(absolute).isDir())
        throw Error(QStringLiteral("\"%1\" non è una cartella").arg(shown(absolute)));
}

void copyAccess(const QString& from, const QString& to) {
#ifdef Q_OS_UNIX
    struct stat source {};
    if (::stat(QFile::encodeName(from).constData(), &source) != 0) {
        throw Error(QStringLiteral("Impossibile leggere i permessi di \"%1\": %2")
                        .arg(shown(from), reason(errno)));
    }
    const QByteArray target = QFile::encodeName(to);
    struct stat made {};
    if (::stat(target.constData(), &made) != 0) {
        throw Error(QStringLiteral("Impossibile leggere i permessi di \"%1\": %2")
                        .arg(shown(to), reason(errno)));
    }
    // A folder passes on its group to the files made in it (setgid).
    mode_t mode = source.st_mode & (S_IRWXU | S_IRWXG | S_IRWXO);
    if (S_ISDIR(made.st_mode))
        mode |= source.st_mode & S_ISGID;
    if (made.st_uid != source.st_uid || made.st_gid != source.st_gid) {
        // The owner too where this account may (the administrator's copies
        // of an office's database), else the group alone.
        if (::chown(target.constData(), source.st_uid, source.st_gid) != 0 &&
            ::chown(target.constData(), uid_t(-1), source.st_gid) != 0) {
            mode &= S_IRWXU;
        }
    }
    if (::chmod(target.constData(), mode) != 0) {
        throw Error(QStringLiteral("Impossibile impostare i permessi di \"%1\": %2")
                        .arg(shown(to), reason(errno)));
    }
#else
    Q_UNUSED(from);
    Q_UNUSED(to);
#endif
}

}  // namespace marvesa::files
