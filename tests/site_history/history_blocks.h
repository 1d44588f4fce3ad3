#pragma once
// Blocks for the history tests: members set to chosen values (the inverse
// of the catalogue's decoding) and the time stamp set to a local time.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include <sqlite3.h>

#include "acquisition/data_block.h"
#include "history_store.h"
#include "member_slots.h"
#include "publication/signal_catalogue.h"

namespace history_test {

using readings::put_member;

// The tests' rounds are stamped around this time; retention counts back
// from it.
constexpr std::int64_t kTestNow = 1767225600;  // a whole hour in every zone of whole and half hours
inline std::int64_t test_now() { return kTestNow + 3600; }

inline long local_offset(std::int64_t time) {
  const std::time_t t = static_cast<std::time_t>(time);
  std::tm tm{};
  localtime_r(&t, &tm);
  return tm.tm_gmtoff;
}

inline void stamp(unsigned char* block, std::int64_t time) {
  const std::time_t t = static_cast<std::time_t>(time);
  std::tm tm{};
  localtime_r(&t, &tm);
  kvrm::write_uint16(block, kvrm::kTimeOffset, static_cast<std::uint16_t>(tm.tm_year + 1900));
  const int fields[] = {tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
  for (int i = 0; i < 5; ++i) block[kvrm::kTimeOffset + 2 + i] = static_cast<unsigned char>(fields[i]);
}

// A round of meter `dataId` at `time`: every member a value that moves
// with `n`.
inline hist::StoredRound round_at(std::uint32_t dataId, std::int64_t time, unsigned n) {
  hist::StoredRound r{dataId, time, std::vector<unsigned char>(kvrm::kBlockSize)};
  std::memcpy(r.block.data(), &dataId, sizeof dataId);
  for (std::size_t i = 0; i < kvrm::kNumericSignals; ++i)
    put_member(r.block.data(), kvrm::kSignalCatalogue[i], (i % 7 == 0) ? 1.0 + (n * 37 + i) % 23 : 2.0);
  stamp(r.block.data(), time);
  return r;
}

// One answer of a query on a file, for checks from outside the store.
inline std::string query(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  std::string out;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr) == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW &&
        sqlite3_column_text(s, 0))
      out = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
    else
      out = std::string("error: ") + sqlite3_errmsg(db);
    sqlite3_finalize(s);
  }
  sqlite3_close(db);
  return out;
}

}  // namespace history_test
