#include <pwd.h>
#include <unistd.h>

#include <vector>

#include "data/base/Workstation.h"

namespace marvesa {

QString operatingSystemAccount() {
    // The account of the effective user, as the system's own tools name it;
    // a variable of the environment could name anybody.
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size_t(size > 0 ? size : 16384));
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_name) {
        return QString::fromLocal8Bit(found->pw_name);
    }
    return QString::number(geteuid());
}

}  // namespace marvesa
