#pragma once

namespace marvesa::platform {

// Prepares the user-interface thread for the platform's component objects
// (a single-threaded apartment on Windows). Nothing to do elsewhere.
void initializeComponentRuntime();

// The program's memory holds the personal data of the people it registers:
// a crash must not write it to disk. Turns off core dumps of this process
// (Unix: no core file, not even through a crash handler; Windows: no
// error report with a memory dump). Called first thing at start.
void disableCrashDumps();

}  // namespace marvesa::platform
