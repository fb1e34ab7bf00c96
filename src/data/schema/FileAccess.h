#pragma once

#include <QString>

namespace marvesa::files {

// Who may read and write the database and its folder. Personal data: by
// default only the account that made them. An office whose accounts on one
// computer share one database gives the folder and the file to a group.
// Failures throw marvesa::Error with an Italian message.

// The file readable and writable by its owner alone (0600).
void restrictToOwner(const QString& path);

// A folder readable, writable and enterable by its owner alone (0700).
void restrictFolderToOwner(const QString& folder);

// The folder given to `group`, which may read, write and enter it; files
// made in it belong to the group too (2770). Not on every platform.
void shareFolderWithGroup(const QString& folder, const QString& group);

// The file given to `group`, which may read and write it (0660). The
// database's -wal and -shm files take the same access when they are made.
void shareFileWithGroup(const QString& path, const QString& group);

// Makes `folder` and every folder above it that is missing, each new one
// its owner's alone (0700); folders that exist keep their access.
void makeFolders(const QString& folder);

// Gives `to` the access of `from`: its owner and group where this account
// may give them, and its permission bits. When the owner or the group cannot
// be given, `to` keeps only the owner's permissions, so that nobody reads it
// who could not read `from`. Nothing to do where files carry no such modes.
void copyAccess(const QString& from, const QString& to);

}  // namespace marvesa::files
