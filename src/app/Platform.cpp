#include "app/Platform.h"

#ifdef Q_OS_WIN
#include <objbase.h>
#endif

namespace marvesa::platform {

void initializeComponentRuntime() {
#ifdef Q_OS_WIN
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
#endif
}

}  // namespace marvesa::platform
