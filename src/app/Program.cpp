#include "app/Program.h"

#include <QApplication>
#include <QSessionManager>

#include "app/Platform.h"
#include "data/base/Random.h"
#include "data/registry/DataModule.h"
#include "ui/services/ErrorReport.h"
#include "ui/window/MainWindow.h"
#include "ui/window/ScreenFit.h"

namespace marvesa {

Program::Program() = default;

Program::~Program() {
    // Exit sequence: the data module is released before the window.
    m_dataModule.reset();
    m_window.reset();
}

void Program::start(const QString& databasePath) {
    Random::seed(Random::clockSeed());
    platform::initializeComponentRuntime();

    m_window = std::make_unique<TfrmMain>();

    m_dataModule = std::make_unique<TdmMarvesa>();
    m_window->bindTo(*m_dataModule);
    runGuarded([&] { m_dataModule->DataModuleCreate(databasePath); });

    // On a screen too small for the window, inside a scroll area.
    m_frame = showMainWindow(*m_window);
}

int runProgram(const QString& databasePath) {
    Program program;
    program.start(databasePath);
#ifndef QT_NO_SESSIONMANAGER
    // Before a log-off the session manager asks whether the program agrees
    // to end: not while a row is being edited.
    QObject::connect(qApp, &QGuiApplication::commitDataRequest, qApp,
                     [&program](QSessionManager& manager) {
                         bool canClose = true;
                         program.window()->FormCloseQuery(program.window(), canClose);
                         if (!canClose && manager.allowsInteraction())
                             manager.cancel();
                     });
#endif
    QApplication::exec();
    return 0;
}

}  // namespace marvesa
