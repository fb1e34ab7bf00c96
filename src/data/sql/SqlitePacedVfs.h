#pragma once

namespace marvesa {

// The name of a SQLite file layer (VFS) that does everything as the
// system's default one, except that a database file written through it is
// sent to the disk a few megabytes at a time rather than all at its end.
//
// A copy of a whole database writes tens of megabytes at once. Left to the
// end, they all go to the disk in the copy's last flush, and every other
// program that flushes a file on the same disk meanwhile (another desk's
// "Salva" committing its row) waits for all of them. Flushed as it goes,
// each flush is short and so is any wait behind it.
//
// Registers the layer on first use; null when SQLite refused it (the copy
// then goes through the default layer).
const char* pacedWriteVfsName();

}  // namespace marvesa
