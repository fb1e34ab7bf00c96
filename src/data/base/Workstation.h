#pragma once

#include <QString>

namespace marvesa {

// Who works at this computer, as the record history names them: the
// operating-system account the program runs under and the computer's name.
struct Workstation {
    QString account;
    QString computer;

    // This process's: read once and kept.
    static const Workstation& current();
};

// The account name of the process's user, from the operating system (one
// piece per platform); empty when it cannot be told.
QString operatingSystemAccount();

}  // namespace marvesa
