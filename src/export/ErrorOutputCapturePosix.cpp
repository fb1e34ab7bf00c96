#include <unistd.h>

#include <QByteArray>
#include <QStringList>
#include <cstdio>
#include <cstdlib>

#include "export/ErrorOutputCapture.h"

namespace marvesa {

ErrorOutputCapture::ErrorOutputCapture() {
    std::fflush(stderr);
    std::FILE* file = std::tmpfile();
    if (!file)
        return;  // nothing caught: the lines go where they always went
    m_file = dup(fileno(file));
    std::fclose(file);
    m_saved = dup(STDERR_FILENO);
    if (m_file < 0 || m_saved < 0 || dup2(m_file, STDERR_FILENO) < 0) {
        if (m_saved >= 0)
            close(m_saved);
        if (m_file >= 0)
            close(m_file);
        m_saved = m_file = -1;
    }
}

ErrorOutputCapture::~ErrorOutputCapture() {
    finish();
}

QString ErrorOutputCapture::finish() {
    if (m_saved < 0)
        return QString();
    std::fflush(stderr);
    dup2(m_saved, STDERR_FILENO);
    close(m_saved);
    m_saved = -1;
    QByteArray caught;
    if (lseek(m_file, 0, SEEK_SET) == 0) {
        char buffer[4096];
        for (ssize_t n; (n = read(m_file, buffer, sizeof(buffer))) > 0;)
            caught.append(buffer, n);
    }
    close(m_file);
    m_file = -1;
    QByteArray others;
    const QString library = libraryLines(caught, &others);
    if (!others.isEmpty() && write(STDERR_FILENO, others.constData(), size_t(others.size())) < 0) {
        // Standard error is gone: nowhere to put them.
    }
    return library;
}

}  // namespace marvesa
