#include <sys/resource.h>

#include "app/Platform.h"

#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace marvesa::platform {

void initializeComponentRuntime() {}

void disableCrashDumps() {
    // No core file of any size, and no raising the limit again.
    const rlimit none{0, 0};
    setrlimit(RLIMIT_CORE, &none);
#ifdef __linux__
    // A crash handler the system pipes cores to (systemd-coredump, apport)
    // is not bound by the limit; a process that is not dumpable gets none.
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
#endif
}

}  // namespace marvesa::platform
