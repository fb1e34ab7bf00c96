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

// Loads Qt's own Italian texts, so that the standard buttons of the message
// boxes read "Sì", "No", "Annulla" as in any Italian Qt program; the
// program's own texts are written in Italian and are not translated. Done
// when the application is made. False when the translation is not installed.
bool installQtTranslation(QCoreApplication& app);

}  // namespace marvesa
