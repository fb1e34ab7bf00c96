#pragma once

#include <QString>

namespace marvesa {

// Hands a finished file to whatever application shows it to the operator.
class FileOpener {
public:
    virtual ~FileOpener() = default;

    // Opens the file at `path`; throws marvesa::Error when nothing can.
    virtual void open(const QString& path) = 0;
};

// Opens the file with the application the desktop associates with its type.
// Needs a QGuiApplication.
class DesktopFileOpener : public FileOpener {
public:
    void open(const QString& path) override;
};

}  // namespace marvesa
