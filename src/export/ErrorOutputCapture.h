#pragma once

#include <QByteArray>
#include <QString>

namespace marvesa {

// Catches what the process writes on its standard error while it lives: a
// library that reports its failures there itself (libxlsxwriter prints
// "[ERROR] ..." lines) is heard by the program instead of by the operator's
// terminal, and its words go into the error's detail. What others print on
// standard error meanwhile is written back there when the capture ends.
// One platform piece each (ErrorOutputCapturePosix.cpp,
// ErrorOutputCaptureWindows.cpp).
class ErrorOutputCapture {
public:
    ErrorOutputCapture();
    ~ErrorOutputCapture();  // ends the capture, if finish() did not
    ErrorOutputCapture(const ErrorOutputCapture&) = delete;
    ErrorOutputCapture& operator=(const ErrorOutputCapture&) = delete;

    // Ends the capture; returns the library's lines ("[ERROR]",
    // "[WARNING]"), on one line each, and writes everything else back to
    // standard error.
    QString finish();

    // What was caught, parted: the library's lines (returned, on one line
    // each) and everything else (`others`, to be written back). The same on
    // every platform (ErrorOutputCapture.cpp).
    static QString libraryLines(const QByteArray& caught, QByteArray* others);

private:
    int m_saved = -1;  // standard error as it was
    int m_file = -1;   // where it goes meanwhile
};

}  // namespace marvesa
