#pragma once

#include <QString>

// The few calls into the operating system that keep the exported files
// private to the user who runs the program. One implementation per platform:
// PrivateFolderPosix.cpp (Linux, macOS...) and PrivateFolderWindows.cpp,
// where the user's own temporary folder is private already.
namespace marvesa::platform {

// The name of the user running the program, usable as part of a file name:
// letters, digits, ".", "_" and "-" only, not beginning with ".". Falls back
// to the user's number (POSIX) or "utente" when the name is unusable.
QString userNameForFiles();

// Makes `path` a folder only the current user can enter: creates it,
// private from the start, when it is missing (its parent must exist).
// Returns false with the reason in `refusal` when something else stands
// there: a symbolic link (never followed), a file, or a folder of another
// account -- so that the caller can go elsewhere. An existing folder of the
// user that others can enter is closed to them. Throws marvesa::Error when
// the folder can be neither made nor checked.
bool claimPrivateFolder(const QString& path, QString* refusal);

// Creates a new folder in `parent`, named `prefix` followed by random
// characters, private to the user from the moment it exists; never reuses
// or follows anything that stood there before. Returns its path; throws
// marvesa::Error when it cannot be made.
QString createPrivateFolder(const QString& parent, const QString& prefix);

}  // namespace marvesa::platform
