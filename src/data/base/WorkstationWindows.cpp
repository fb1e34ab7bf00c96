#include <windows.h>

#include "data/base/Workstation.h"

namespace marvesa {

QString operatingSystemAccount() {
    wchar_t name[257] = {};
    DWORD size = DWORD(sizeof(name) / sizeof(name[0]));
    if (GetUserNameW(name, &size) && size > 0)
        return QString::fromWCharArray(name, int(size) - 1);
    return QString();
}

}  // namespace marvesa
