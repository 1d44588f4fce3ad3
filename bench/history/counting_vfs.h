#pragma once
// An SQLite file system layer over the default one that counts what
// reaches the files: bytes written and syncs, of the database, its
// write-ahead log and any journal. Registered as the default, so the store
// uses it without knowing.
#include <cstdint>

namespace history_bench {

struct WriteCounts {
  std::uint64_t bytes = 0;
  std::uint64_t writes = 0;
  std::uint64_t syncs = 0;
};

// Installs the layer once; later calls do nothing.
void install_counting_vfs();
WriteCounts write_counts();
void reset_write_counts();

}  // namespace history_bench
