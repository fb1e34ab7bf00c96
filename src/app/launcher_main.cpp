// marvesa-launcher: what the applications menu starts. Opens Marvesa on the
// office's database (see Launcher.h); started from a terminal, "marvesa"
// itself still works as it always has.

#include "app/Application.h"
#include "app/Launcher.h"

int main(int argc, char* argv[]) {
    marvesa::Application app(argc, argv);
    return marvesa::runLauncher();
}
