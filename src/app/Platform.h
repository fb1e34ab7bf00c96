#pragma once

#include <QString>

namespace marvesa::platform {

// Prepares the user-interface thread for the platform's component objects
// (a single-threaded apartment on Windows). Nothing to do elsewhere.
void initializeComponentRuntime();

// Starts `program`, without arguments, in `workingFolder` (the current one
// when empty) in place of this process: on POSIX systems the process
// becomes the program (exec), keeping its id and its environment; elsewhere
// the program is started on its own and this process is to end. Returns an
// empty text when the program started (never, on POSIX systems), else the
// reason it did not, in Italian.
QString runInPlace(const QString& program, const QString& workingFolder);

// The program's memory holds the personal data of the people it registers:
// a crash must not write it to disk. Turns off core dumps of this process
// (Unix: no core file, not even through a crash handler; Windows: no
// error report with a memory dump). Called first thing at start.
void disableCrashDumps();

}  // namespace marvesa::platform
