// Retention and the cap: deletions of a few hundred rows at a time, so
// that no statement holds the writer for long; the pages they free are
// reused by the next rows and the file stops growing.
#include <algorithm>

#include "history_store.h"
#include "sql.h"

namespace hist {

namespace {

constexpr int kPruneRows = 256;

// One table of what is kept how long, walked by one loop; the cap deletes
// in the same order (blocks first), never a period still open.
struct Kept {
  const char* table;
  const char* time;  // the column a row's age is read from
  double Retention::*days;
  std::int64_t openFor;  // seconds before `now` the cap leaves alone
};
constexpr Kept kKept[] = {
    {"records", "time", &Retention::keepRawDays, 0},
    {"minutes", "start", &Retention::keepMinuteDays, 3600},
    {"hours", "start", &Retention::keepHourDays, kDay},
};

// Deletes up to kPruneRows of the oldest rows older than `cutoff`; the
// newest row of a table is never deleted, so that ids keep growing.
bool delete_older(Statements& statements, sqlite3* db, const Kept& k, std::int64_t cutoff, int* deleted,
                  std::string* error) {
  const std::string table = k.table;
  Use s(statements,
        "DELETE FROM " + table + " WHERE id IN (SELECT id FROM " + table + " WHERE id < (SELECT max(id) FROM " +
            table + ") ORDER BY id LIMIT " + std::to_string(kPruneRows) + ") AND " + k.time + " < ?",
        error);
  if (!s.bind(cutoff).run()) {
    *error = sql_error(db);
    return false;
  }
  *deleted = sqlite3_changes(db);
  return true;
}

}  // namespace

std::int64_t HistoryStore::used_bytes() {
  std::lock_guard<std::mutex> lock(mutex_);
  return used_bytes_locked();
}

std::int64_t HistoryStore::used_bytes_locked() {
  if (!db_) return 0;
  std::string error;
  std::int64_t pages = 0, free = 0, size = 0;
  for (auto [sql, out] : {std::pair{"PRAGMA page_count", &pages}, std::pair{"PRAGMA freelist_count", &free},
                          std::pair{"PRAGMA page_size", &size}}) {
    Use s(*statements_, sql, &error);
    if (s.step() == SQLITE_ROW) *out = s.integer(0);
  }
  return (pages - free) * size;
}

bool HistoryStore::prune_step(std::int64_t now, bool* deleted, std::string* error) {
  *deleted = false;
  for (const Kept& k : kKept) {
    const auto keep = static_cast<std::int64_t>(retention_.*k.days * kDay);
    int n = 0;
    if (!delete_older(*statements_, db_, k, now - keep, &n, error)) return false;
    if (n > 0) {
      *deleted = true;
      return true;
    }
  }
  if (used_bytes_locked() <= retention_.maxBytes) return true;
  for (const Kept& k : kKept) {
    int n = 0;
    if (!delete_older(*statements_, db_, k, now - k.openFor, &n, error)) return false;
    if (n > 0) {
      *deleted = true;
      return true;
    }
  }
  return true;  // nothing more the cap may take
}

bool HistoryStore::prune(std::int64_t now, int steps, bool* more, std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  *more = false;
  if (!db_) return true;
  if (!sql_exec(db_, "BEGIN IMMEDIATE", error)) return false;
  for (int i = 0; i < steps; ++i) {
    bool deleted = false;
    if (!prune_step(now, &deleted, error)) {
      if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
      return false;
    }
    *more = deleted;
    if (!deleted) break;
  }
  if (sql_exec(db_, "COMMIT", error)) return true;
  if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  return false;
}

}  // namespace hist
