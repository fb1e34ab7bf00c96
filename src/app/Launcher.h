#pragma once

#include <QString>

namespace marvesa {

// What the applications menu starts (marvesa-launcher): the program on the
// office's database, without the clerk knowing about working folders. The
// program finds its database file as "../dB/dbQuaz.mdb" from its working
// folder; the launcher chooses the database and that folder:
//   1. a server named by "connection=" in the settings, which the program
//      reads itself: the working folder does not matter;
//   2. a file named by "database=" in the settings: a folder from which
//      "../dB/dbQuaz.mdb" is that file (the file's own folder when it is a
//      "dB/dbQuaz.mdb"; otherwise a link to it in the user's data folder);
//   3. otherwise the user's own registry, userRegistryPath(), made on the
//      first start once the clerk agrees: its folders the user's alone
//      (0700), the file too (0600), with the reference lists, as
//      marvesa-initdb makes a database.
// The user's settings count over the computer's (see OfficeSettings.h).
// Nothing is ever written beside the program.
struct LaunchPlan {
    bool start = true;      // false: the clerk did not want a registry made
    QString workingFolder;  // empty: the launcher's own
    QString database;       // the file the program will open; empty for a server
};

// The user's own registry: "Marvesa/dB/dbQuaz.mdb" in the user's data
// folder ($XDG_DATA_HOME, ~/.local/share; %LOCALAPPDATA% on Windows).
QString userRegistryPath();

// Where the program is to run, asking the clerk (through Dialogs) before
// the user's own registry is made. Throws marvesa::Error with an Italian
// message.
LaunchPlan planLaunch();

// The whole launcher: the plan, then the program "marvesa" beside the
// launcher in its place. An error is shown and ends it with status 1; a
// clerk who wants no registry ends it with status 0.
int runLauncher();

}  // namespace marvesa
