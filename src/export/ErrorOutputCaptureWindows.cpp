#include <io.h>

#include <QByteArray>
#include <QStringList>
#include <cstdio>

#include "export/ErrorOutputCapture.h"

namespace marvesa {

ErrorOutputCapture::ErrorOutputCapture() {
    std::fflush(stderr);
    std::FILE* file = nullptr;
    if (tmpfile_s(&file) != 0 || !file)
        return;
    m_file = _dup(_fileno(file));
    std::fclose(file);
    m_saved = _dup(_fileno(stderr));
    if (m_file < 0 || m_saved < 0 || _dup2(m_file, _fileno(stderr)) < 0) {
        if (m_saved >= 0)
            _close(m_saved);
        if (m_file >= 0)
            _close(m_file);
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
    _dup2(m_saved, _fileno(stderr));
    _close(m_saved);
    m_saved = -1;
    QByteArray caught;
    if (_lseek(m_file, 0, SEEK_SET) == 0) {
        char buffer[4096];
        for (int n; (n = _read(m_file, buffer, sizeof(buffer))) > 0;)
            caught.append(buffer, n);
    }
    _close(m_file);
    m_file = -1;
    QByteArray others;
    const QString library = libraryLines(caught, &others);
    if (!others.isEmpty())
        _write(_fileno(stderr), others.constData(), unsigned(others.size()));
    return library;
}

}  // namespace marvesa
