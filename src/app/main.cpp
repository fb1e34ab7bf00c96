// Marvesa: registration of displaced persons received during a humanitarian
// emergency and lodged with local host families.

#include "app/Application.h"
#include "app/Platform.h"
#include "app/Program.h"
#include "data/registry/DataModule.h"

int main(int argc, char* argv[]) {
    // Before anything holds personal data.
    marvesa::platform::disableCrashDumps();
    marvesa::Application app(argc, argv);
    return marvesa::runProgram(marvesa::TdmMarvesa::databaseLocation());
}
