#pragma once

#include <QApplication>

namespace marvesa {

// The application. Every command and event handler of the window reports
// its own errors through the top-level handler (ui/ErrorReport.h); this is
// the last net for anything that would otherwise escape into the event loop.
class Application : public QApplication {
public:
    Application(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace marvesa
