#pragma once

#include <QString>
#include <QWidget>
#include <memory>

namespace marvesa {

class TdmMarvesa;
class TfrmMain;

// The program's two long-lived objects, made and released in their fixed
// order: the window first (not shown), then the data module, which opens the
// database; only then is the window shown. At the end the data module goes
// before the window.
class Program {
public:
    Program();
    ~Program();  // the exit sequence

    // Start-up: seeds the generator, prepares the platform, creates the
    // window and the data module, opens the data store (an error there is
    // shown and start-up goes on), shows the window.
    void start(const QString& databasePath);

    TfrmMain* window() const { return m_window.get(); }
    TdmMarvesa* dataModule() const { return m_dataModule.get(); }
    // Whether start() connected to the database.
    bool databaseOpened() const { return m_databaseOpened; }

private:
    std::unique_ptr<TfrmMain> m_window;
    std::unique_ptr<TdmMarvesa> m_dataModule;
    // The scroll area around the window on a small screen; released last.
    std::unique_ptr<QWidget> m_frame;
    bool m_databaseOpened = false;
};

// The whole run: start-up (then the news of a copy of the database that
// failed at the last close), the event loop, the exit sequence, then the
// day's copy of a database file (ClosingBackup.h). Returns the exit status, 0.
int runProgram(const QString& databasePath);

}  // namespace marvesa
