#pragma once

namespace marvesa::platform {

// Prepares the user-interface thread for the platform's component objects
// (a single-threaded apartment on Windows). Nothing to do elsewhere.
void initializeComponentRuntime();

}  // namespace marvesa::platform
