#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "history_blocks.h"
#include "layout.h"
#include "support/temp_dir.h"

namespace {

using history_test::query;
using history_test::round_at;

std::string file_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void run_sql(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  char* message = nullptr;
  const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message);
  EXPECT_EQ(rc, SQLITE_OK) << (message ? message : "");
  sqlite3_free(message);
  sqlite3_close(db);
}

// The tables as the bench host wrote them before the layout had a version.
constexpr const char* kFirstLayout =
    "CREATE TABLE records (id INTEGER PRIMARY KEY AUTOINCREMENT, data_id INTEGER NOT NULL,"
    " saved_at TEXT NOT NULL, block BLOB NOT NULL);"
    "CREATE INDEX records_by_device ON records (data_id, id);"
    "CREATE TABLE alarms (id INTEGER PRIMARY KEY AUTOINCREMENT, data_id INTEGER NOT NULL, saved_at TEXT NOT NULL,"
    " alarm_id TEXT NOT NULL, signal TEXT NOT NULL, level INTEGER NOT NULL,"
    " state TEXT NOT NULL CHECK (state IN ('raised', 'cleared')), value TEXT NOT NULL, text TEXT NOT NULL);";

TEST(HistoryLayout, NewFileHasTheVersionAndTheWalJournal) {
  kvtest::TempDir dir;
  const std::string path = dir.path("h.db");
  {
    hist::HistoryStore store;
    std::string error;
    ASSERT_TRUE(store.open(path, &error)) << error;
  }
  EXPECT_EQ(query(path, "PRAGMA user_version"), std::to_string(hist::kLayoutVersion));
  EXPECT_EQ(query(path, "PRAGMA application_id"), std::to_string(hist::kApplicationId));
  EXPECT_EQ(query(path, "PRAGMA journal_mode"), "wal");
}

TEST(HistoryLayout, FirstLayoutIsMovedInPlaceWithItsRecordsAndTiersFilledFromThem) {
  kvtest::TempDir dir;
  const std::string path = dir.path("old.db");
  run_sql(path, kFirstLayout);
  const std::int64_t t0 = history_test::kTestNow;
  std::vector<hist::StoredRound> rounds;
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    for (unsigned n = 0; n < 150; ++n) {
      rounds.push_back(round_at(n % 2 ? 3 : 4, t0 + 2 * (n / 2), n));
      sqlite3_stmt* s = nullptr;
      sqlite3_prepare_v2(db, "INSERT INTO records (data_id, saved_at, block) VALUES (?, '2026-01-01 00:00:00', ?)", -1,
                         &s, nullptr);
      sqlite3_bind_int64(s, 1, rounds.back().dataId);
      sqlite3_bind_blob(s, 2, rounds.back().block.data(), static_cast<int>(rounds.back().block.size()), SQLITE_STATIC);
      ASSERT_EQ(sqlite3_step(s), SQLITE_DONE);
      sqlite3_finalize(s);
    }
    sqlite3_exec(db,
                 "INSERT INTO alarms (data_id, saved_at, alarm_id, signal, level, state, value, text)"
                 " VALUES (3, '2026-01-01 00:00:01', 'A1', 'A相电压', 1, 'raised', '250', 'high')",
                 nullptr, nullptr, nullptr);
    sqlite3_close(db);
  }

  hist::HistoryStore store;
  std::string error;
  ASSERT_TRUE(store.open(path, &error)) << error;
  std::size_t n = 0;
  ASSERT_TRUE(store.for_each_record(std::nullopt, [&](const hist::Record& r) {
    EXPECT_EQ(r.id, static_cast<std::int64_t>(n + 1));
    EXPECT_EQ(r.dataId, rounds[n].dataId);
    EXPECT_EQ(r.time, rounds[n].time);
    EXPECT_EQ(r.block, rounds[n].block);
    ++n;
    return true;
  }, &error));
  EXPECT_EQ(n, rounds.size());
  EXPECT_EQ(store.alarm_states(3, &error), (std::map<std::string, bool>{{"A1", true}}));
  ASSERT_TRUE(store.write_open_periods(&error)) << error;
  for (std::size_t t = 0; t < hist::kTiers.size(); ++t) {
    std::map<std::uint32_t, unsigned> held;
    ASSERT_TRUE(store.for_each_tier_row(t, std::nullopt, [&](const hist::TierRow& row) {
      held[row.dataId] += row.stats.rounds;
      return true;
    }, &error));
    EXPECT_EQ(held, (std::map<std::uint32_t, unsigned>{{3, 75}, {4, 75}})) << hist::kTiers[t].table;
  }
  EXPECT_EQ(query(path, "PRAGMA user_version"), std::to_string(hist::kLayoutVersion));
  EXPECT_EQ(query(path, "PRAGMA integrity_check"), "ok");
}

// A file that is not a history, and one of a newer layout: refused with
// a line that says what it is, and not changed by a byte.
TEST(HistoryLayout, ForeignAndNewerFilesAreRefusedAndLeftAsTheyAre) {
  kvtest::TempDir dir;
  dir.write("notes.txt", std::string("not a database at all, but long enough to have a header\n") +
                             std::string(200, 'x'));
  run_sql(dir.path("other.db"), "CREATE TABLE customers (name TEXT); INSERT INTO customers VALUES ('x');");
  {
    hist::HistoryStore store;
    std::string error;
    ASSERT_TRUE(store.open(dir.path("newer.db"), &error)) << error;
  }
  run_sql(dir.path("newer.db"), "PRAGMA user_version = " + std::to_string(hist::kLayoutVersion + 1));
  const std::string newer = "it was written by a newer meter-host (layout " + std::to_string(hist::kLayoutVersion + 1) +
                            "; this one knows layouts up to " + std::to_string(hist::kLayoutVersion) + ")";
  const struct {
    const char* file;
    std::string says;
  } cases[] = {
      {"notes.txt", "is not a history this meter-host can write: file is not a database"},
      {"other.db", "is not a history this meter-host can write: it is another SQLite database (tables customers)"},
      {"newer.db", newer},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string path = dir.path(c.file);
    const std::string before = file_bytes(path);
    hist::HistoryStore store;
    std::string error;
    EXPECT_FALSE(store.open(path, &error));
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
    EXPECT_EQ(file_bytes(path), before);
  }
}

}  // namespace
