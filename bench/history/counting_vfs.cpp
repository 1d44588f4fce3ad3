#include "counting_vfs.h"

#include <sqlite3.h>

#include <atomic>
#include <cstring>

namespace history_bench {

namespace {

std::atomic<std::uint64_t> gBytes{0}, gWrites{0}, gSyncs{0};
sqlite3_vfs* gReal = nullptr;
sqlite3_vfs gCounting;
sqlite3_io_methods gMethods;

// The layer's file: the real file follows it in the same allocation.
struct CountingFile {
  sqlite3_file base;
  sqlite3_file* real;
};

sqlite3_file* real(sqlite3_file* f) { return reinterpret_cast<CountingFile*>(f)->real; }

int counting_write(sqlite3_file* f, const void* data, int amount, sqlite3_int64 offset) {
  gBytes += static_cast<std::uint64_t>(amount);
  ++gWrites;
  return real(f)->pMethods->xWrite(real(f), data, amount, offset);
}

int counting_sync(sqlite3_file* f, int flags) {
  ++gSyncs;
  return real(f)->pMethods->xSync(real(f), flags);
}

int counting_close(sqlite3_file* f) {
  const int rc = real(f)->pMethods->xClose(real(f));
  f->pMethods = nullptr;
  return rc;
}


int counting_open(sqlite3_vfs*, const char* name, sqlite3_file* f, int flags, int* outFlags) {
  auto* file = reinterpret_cast<CountingFile*>(f);
  file->real = reinterpret_cast<sqlite3_file*>(file + 1);
  const int rc = gReal->xOpen(gReal, name, file->real, flags, outFlags);
  if (rc != SQLITE_OK || !file->real->pMethods) {
    f->pMethods = nullptr;
    return rc;
  }
  static const bool once = [] {
    gMethods.iVersion = 3;
    gMethods.xClose = counting_close;
    gMethods.xRead = [](sqlite3_file* f, void* p, int n, sqlite3_int64 o) { return real(f)->pMethods->xRead(real(f), p, n, o); };
    gMethods.xWrite = counting_write;
    gMethods.xTruncate = [](sqlite3_file* f, sqlite3_int64 s) { return real(f)->pMethods->xTruncate(real(f), s); };
    gMethods.xSync = counting_sync;
    gMethods.xFileSize = [](sqlite3_file* f, sqlite3_int64* s) { return real(f)->pMethods->xFileSize(real(f), s); };
    gMethods.xLock = [](sqlite3_file* f, int l) { return real(f)->pMethods->xLock(real(f), l); };
    gMethods.xUnlock = [](sqlite3_file* f, int l) { return real(f)->pMethods->xUnlock(real(f), l); };
    gMethods.xCheckReservedLock = [](sqlite3_file* f, int* r) { return real(f)->pMethods->xCheckReservedLock(real(f), r); };
    gMethods.xFileControl = [](sqlite3_file* f, int op, void* a) { return real(f)->pMethods->xFileControl(real(f), op, a); };
    gMethods.xSectorSize = [](sqlite3_file* f) { return real(f)->pMethods->xSectorSize(real(f)); };
    gMethods.xDeviceCharacteristics = [](sqlite3_file* f) { return real(f)->pMethods->xDeviceCharacteristics(real(f)); };
    gMethods.xShmMap = [](sqlite3_file* f, int i, int sz, int e, void volatile** p) { return real(f)->pMethods->xShmMap(real(f), i, sz, e, p); };
    gMethods.xShmLock = [](sqlite3_file* f, int o, int n, int fl) { return real(f)->pMethods->xShmLock(real(f), o, n, fl); };
    gMethods.xShmBarrier = [](sqlite3_file* f) { real(f)->pMethods->xShmBarrier(real(f)); };
    gMethods.xShmUnmap = [](sqlite3_file* f, int d) { return real(f)->pMethods->xShmUnmap(real(f), d); };
    gMethods.xFetch = [](sqlite3_file* f, sqlite3_int64 o, int n, void** p) { return real(f)->pMethods->xFetch(real(f), o, n, p); };
    gMethods.xUnfetch = [](sqlite3_file* f, sqlite3_int64 o, void* p) { return real(f)->pMethods->xUnfetch(real(f), o, p); };
    return true;
  }();
  (void)once;
  f->pMethods = &gMethods;
  return rc;
}

}  // namespace

void install_counting_vfs() {
  if (gReal) return;
  gReal = sqlite3_vfs_find(nullptr);
  gCounting = *gReal;
  gCounting.zName = "counting";
  gCounting.szOsFile = static_cast<int>(sizeof(CountingFile)) + gReal->szOsFile;
  gCounting.xOpen = counting_open;
  gCounting.pNext = nullptr;
  sqlite3_vfs_register(&gCounting, 1);
}

WriteCounts write_counts() { return WriteCounts{gBytes, gWrites, gSyncs}; }

void reset_write_counts() {
  gBytes = 0;
  gWrites = 0;
  gSyncs = 0;
}

}  // namespace history_bench
