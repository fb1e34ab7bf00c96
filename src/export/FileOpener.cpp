#include "export/FileOpener.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include "data/base/Error.h"

namespace marvesa {

void DesktopFileOpener::open(const QString& path) {
    const QString full = QFileInfo(path).absoluteFilePath();
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(full))) {
        // The file stays where it is, so the operator can still open it.
        throw Error(QStringLiteral("Nessuna applicazione ha potuto aprire il foglio di calcolo. "
                                   "Il file è stato conservato e si può aprire a mano: \"%1\"")
                        .arg(QDir::toNativeSeparators(full)));
    }
}

}  // namespace marvesa
