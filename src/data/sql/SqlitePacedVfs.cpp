#include "data/sql/SqlitePacedVfs.h"

#include <sqlite3.h>

#include <cstring>
#include <mutex>

namespace marvesa {

namespace {

// Written bytes of a database file between two flushes.
constexpr sqlite3_int64 kFlushEvery = 4 * 1024 * 1024;

sqlite3_vfs* g_default = nullptr;
sqlite3_vfs g_paced;
// The layer's file methods, one table for each version a default file may
// have (its locking kind decides), so that SQLite asks of a file only what
// the default one can do.
sqlite3_io_methods g_methods[3];

// A file of this layer: the default layer's own file follows it in memory.
struct PacedFile {
    sqlite3_file base;
    bool paced;               // a main database file: flushed as it is written
    sqlite3_int64 unflushed;  // bytes written since the last flush
    sqlite3_file* real() { return reinterpret_cast<sqlite3_file*>(this + 1); }
};

sqlite3_file* realOf(sqlite3_file* f) {
    return reinterpret_cast<PacedFile*>(f)->real();
}

int pacedClose(sqlite3_file* f) {
    sqlite3_file* real = realOf(f);
    return real->pMethods ? real->pMethods->xClose(real) : SQLITE_OK;
}
int pacedRead(sqlite3_file* f, void* data, int amount, sqlite3_int64 offset) {
    sqlite3_file* real = realOf(f);
    return real->pMethods->xRead(real, data, amount, offset);
}
int pacedWrite(sqlite3_file* f, const void* data, int amount, sqlite3_int64 offset) {
    auto* file = reinterpret_cast<PacedFile*>(f);
    sqlite3_file* real = file->real();
    int rc = real->pMethods->xWrite(real, data, amount, offset);
    if (rc != SQLITE_OK || !file->paced)
        return rc;
    file->unflushed += amount;
    if (file->unflushed >= kFlushEvery) {
        file->unflushed = 0;
        rc = real->pMethods->xSync(real, SQLITE_SYNC_NORMAL | SQLITE_SYNC_DATAONLY);
    }
    return rc;
}
int pacedTruncate(sqlite3_file* f, sqlite3_int64 size) {
    sqlite3_file* real = realOf(f);
    return real->pMethods->xTruncate(real, size);
}
int pacedSync(sqlite3_file* f, int flags) {
    reinterpret_cast<PacedFile*>(f)->unflushed = 0;
    sqlite3_file* real = realOf(f);
    return real->pMethods->xSync(real, flags);
}
int pacedFileSize(sqlite3_file* f, sqlite3_int64* size) {
    sqlite3_file* real = realOf(f);
    return real->pMethods->xFileSize(real, size);
}
int pacedLock(sqlite3_file* f, int level) {
    sqlite3_file* real = realOf(f);
    return real->pMethods->xLock(real, level);
}
int pacedUnlock(sqlite3_file* f, int level) {
    sqlite3_file* real = realOf(f);
    return real->pMethods->xUnlock(real, level);
}
int pacedCheckReservedLock(sqlite3_file* f, int* out) {
    sqlite3_file* real = realOf(f);
    return real->pMethods->xCheckReservedLock(real, out);
}
int pacedFileControl(sqlite3_file* f, int op, void* arg) {
    sqlite3_file* real = realOf(f);
    return real->pMethods->xFileControl(real, op, arg);
}
int pacedSectorSize(sqlite3_file* f) {
    sqlite3_file* real = realOf(f);
    return real->pMethods->xSectorSize(real);
}
int pacedDeviceCharacteristics(sqlite3_file* f) {
    sqlite3_file* real = realOf(f);
    return real->pMethods->xDeviceCharacteristics(real);
}
int pacedShmMap(sqlite3_file* f, int region, int size, int extend, void volatile** out) {
    sqlite3_file* real = realOf(f);
    return real->pMethods->xShmMap(real, region, size, extend, out);
}
int pacedShmLock(sqlite3_file* f, int offset, int n, int flags) {
    sqlite3_file* real = realOf(f);
    return real->pMethods->xShmLock(real, offset, n, flags);
}
void pacedShmBarrier(sqlite3_file* f) {
    sqlite3_file* real = realOf(f);
    real->pMethods->xShmBarrier(real);
}
int pacedShmUnmap(sqlite3_file* f, int deleteFlag) {
    sqlite3_file* real = realOf(f);
    return real->pMethods->xShmUnmap(real, deleteFlag);
}
int pacedFetch(sqlite3_file* f, sqlite3_int64 offset, int amount, void** out) {
    sqlite3_file* real = realOf(f);
    return real->pMethods->xFetch(real, offset, amount, out);
}
int pacedUnfetch(sqlite3_file* f, sqlite3_int64 offset, void* page) {
    sqlite3_file* real = realOf(f);
    return real->pMethods->xUnfetch(real, offset, page);
}

int pacedOpen(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* f, int flags, int* outFlags) {
    auto* file = reinterpret_cast<PacedFile*>(f);
    std::memset(file, 0, sizeof(PacedFile));
    sqlite3_file* real = file->real();
    const int rc = g_default->xOpen(g_default, name, real, flags, outFlags);
    if (rc != SQLITE_OK || !real->pMethods)
        return rc;
    const int version = real->pMethods->iVersion < 1 ? 1 : real->pMethods->iVersion;
    file->base.pMethods = &g_methods[(version > 3 ? 3 : version) - 1];
    file->paced = (flags & SQLITE_OPEN_MAIN_DB) != 0;
    return SQLITE_OK;
}

// The rest of the layer is the default one's.
int pacedDelete(sqlite3_vfs*, const char* name, int syncDir) {
    return g_default->xDelete(g_default, name, syncDir);
}
int pacedAccess(sqlite3_vfs*, const char* name, int flags, int* out) {
    return g_default->xAccess(g_default, name, flags, out);
}
int pacedFullPathname(sqlite3_vfs*, const char* name, int size, char* out) {
    return g_default->xFullPathname(g_default, name, size, out);
}
void* pacedDlOpen(sqlite3_vfs*, const char* name) {
    return g_default->xDlOpen(g_default, name);
}
void pacedDlError(sqlite3_vfs*, int size, char* out) {
    g_default->xDlError(g_default, size, out);
}
void (*pacedDlSym(sqlite3_vfs*, void* handle, const char* symbol))(void) {
    return g_default->xDlSym(g_default, handle, symbol);
}
void pacedDlClose(sqlite3_vfs*, void* handle) {
    g_default->xDlClose(g_default, handle);
}
int pacedRandomness(sqlite3_vfs*, int size, char* out) {
    return g_default->xRandomness(g_default, size, out);
}
int pacedSleep(sqlite3_vfs*, int microseconds) {
    return g_default->xSleep(g_default, microseconds);
}
int pacedCurrentTime(sqlite3_vfs*, double* out) {
    return g_default->xCurrentTime(g_default, out);
}
int pacedGetLastError(sqlite3_vfs*, int size, char* out) {
    return g_default->xGetLastError ? g_default->xGetLastError(g_default, size, out) : 0;
}
int pacedCurrentTimeInt64(sqlite3_vfs*, sqlite3_int64* out) {
    return g_default->xCurrentTimeInt64(g_default, out);
}

const char* registerLayer() {
    g_default = sqlite3_vfs_find(nullptr);
    // The system call overrides of version 3 are not passed on: this layer
    // makes none, and version 2 needs none.
    if (!g_default || g_default->iVersion < 2)
        return nullptr;
    for (int version = 1; version <= 3; ++version) {
        g_methods[version - 1] = sqlite3_io_methods{version,
                                                    pacedClose,
                                                    pacedRead,
                                                    pacedWrite,
                                                    pacedTruncate,
                                                    pacedSync,
                                                    pacedFileSize,
                                                    pacedLock,
                                                    pacedUnlock,
                                                    pacedCheckReservedLock,
                                                    pacedFileControl,
                                                    pacedSectorSize,
                                                    pacedDeviceCharacteristics,
                                                    pacedShmMap,
                                                    pacedShmLock,
                                                    pacedShmBarrier,
                                                    pacedShmUnmap,
                                                    pacedFetch,
                                                    pacedUnfetch};
    }
    g_paced = sqlite3_vfs{2,
                          int(sizeof(PacedFile)) + g_default->szOsFile,
                          g_default->mxPathname,
                          nullptr,
                          "marvesa-paced",
                          nullptr,
                          pacedOpen,
                          pacedDelete,
                          pacedAccess,
                          pacedFullPathname,
                          pacedDlOpen,
                          pacedDlError,
                          pacedDlSym,
                          pacedDlClose,
                          pacedRandomness,
                          pacedSleep,
                          pacedCurrentTime,
                          pacedGetLastError,
                          pacedCurrentTimeInt64,
                          nullptr,
                          nullptr,
                          nullptr};
    if (sqlite3_vfs_register(&g_paced, 0) != SQLITE_OK)
        return nullptr;
    return g_paced.zName;
}

}  // namespace

const char* pacedWriteVfsName() {
    static std::once_flag once;
    static const char* name = nullptr;
    std::call_once(once, [] { name = registerLayer(); });
    return name;
}

}  // namespace marvesa
