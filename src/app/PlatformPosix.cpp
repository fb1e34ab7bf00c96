#include <sys/resource.h>
#include <unistd.h>

#include <QFile>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "app/Platform.h"

#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace marvesa::platform {

void initializeComponentRuntime() {}

void disableCrashDumps() {
    // No core file of any size, and no raising the limit again.
    const rlimit none{0, 0};
    setrlimit(RLIMIT_CORE, &none);
#ifdef __linux__
    // A crash handler the system pipes cores to (systemd-coredump, apport)
    // is not bound by the limit; a process that is not dumpable gets none.
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
#endif
}

QString runInPlace(const QString& program, const QString& workingFolder) {
    const QByteArray path = QFile::encodeName(program);
    if (!workingFolder.isEmpty() && ::chdir(QFile::encodeName(workingFolder).constData()) != 0) {
        return QStringLiteral("impossibile entrare nella cartella \"%1\" (%2)")
            .arg(workingFolder, QString::fromLocal8Bit(std::strerror(errno)));
    }
    std::fflush(nullptr);
    char* const argv[] = {const_cast<char*>(path.constData()), nullptr};
    ::execv(path.constData(), argv);
    return QString::fromLocal8Bit(std::strerror(errno));
}

}  // namespace marvesa::platform
