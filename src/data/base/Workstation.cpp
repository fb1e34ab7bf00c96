#include "data/base/Workstation.h"

#include <QSysInfo>

namespace marvesa {

const Workstation& Workstation::current() {
    static const Workstation who{operatingSystemAccount(), QSysInfo::machineHostName()};
    return who;
}

}  // namespace marvesa
