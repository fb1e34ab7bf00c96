#include "app/Program.h"

#include <QApplication>
#include <QSessionManager>

#include "app/ClosingBackup.h"
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
    m_databaseOpened = m_dataModule->cnQuaz.isConnected();

    // On a screen too small for the window, inside a scroll area.
    m_frame = showMainWindow(*m_window);
}

int runProgram(const QString& databasePath) {
    bool opened = false;
    {
        Program program;
        program.start(databasePath);
        // A copy that failed when the program last closed.
        ClosingBackup::tellPendingFailure();
#ifndef QT_NO_SESSIONMANAGER
        // Before a log-off the session manager asks whether the program agrees
        // to end: not while a row is being edited.
        const QMetaObject::Connection logOff = QObject::connect(
            qApp, &QGuiApplication::commitDataRequest, qApp, [&program](QSessionManager& manager) {
                bool canClose = true;
                program.window()->FormCloseQuery(program.window(), canClose);
                if (!canClose && manager.allowsInteraction())
                    manager.cancel();
            });
#endif
        QApplication::exec();
#ifndef QT_NO_SESSIONMANAGER
        QObject::disconnect(logOff);
#endif
        opened = program.databaseOpened();
    }
    // The window has gone: the day's copy of the database file does not
    // keep the clerk waiting.
    if (opened)
        ClosingBackup::run(databasePath);
    return 0;
}

}  // namespace marvesa
