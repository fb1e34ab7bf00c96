#include "export/ErrorOutputCapture.h"

#include <QStringList>

namespace marvesa {

QString ErrorOutputCapture::libraryLines(const QByteArray& caught, QByteArray* others) {
    QStringList library;
    for (const QByteArray& line : caught.split('\n')) {
        if (line.startsWith("[ERROR]") || line.startsWith("[WARNING]"))
            library << QString::fromLocal8Bit(line).trimmed();
        else if (!line.isEmpty())
            *others += line + '\n';
    }
    return library.join(QLatin1Char(' '));
}

}  // namespace marvesa
