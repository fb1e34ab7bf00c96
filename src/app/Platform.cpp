#include "app/Platform.h"

#include <QFile>

#ifdef Q_OS_WIN
#include <objbase.h>

#include <QProcess>
#else
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#endif

namespace marvesa::platform {

void initializeComponentRuntime() {
#ifdef Q_OS_WIN
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
#endif
}

QString runInPlace(const QString& program, const QString& workingFolder) {
#ifdef Q_OS_WIN
    if (QProcess::startDetached(program, {}, workingFolder))
        return QString();
    return QStringLiteral("il programma non si avvia");
#else
    const QByteArray path = QFile::encodeName(program);
    if (!workingFolder.isEmpty() && ::chdir(QFile::encodeName(workingFolder).constData()) != 0) {
        return QStringLiteral("impossibile entrare nella cartella \"%1\" (%2)")
            .arg(workingFolder, QString::fromLocal8Bit(std::strerror(errno)));
    }
    std::fflush(nullptr);
    char* const argv[] = {const_cast<char*>(path.constData()), nullptr};
    ::execv(path.constData(), argv);
    return QString::fromLocal8Bit(std::strerror(errno));
#endif
}

}  // namespace marvesa::platform
