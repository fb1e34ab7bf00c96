#include "app/Application.h"

#include "ui/ErrorReport.h"

namespace marvesa {

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {}

bool Application::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        handleApplicationError(e);
    }
    return false;
}

}  // namespace marvesa
