#include "history_store.h"

#include <algorithm>
#include <tuple>

#include "block_codec.h"
#include "layout.h"
#include "sql.h"

namespace hist {

namespace {

// Small pages: a commit changes a few of them, and each costs its whole
// size in the log and again at the checkpoint (the write benchmark has
// 1 KiB pages at half the writes of 4 KiB ones, and a smaller file).
constexpr int kPageSize = 1024;

}  // namespace

std::string local_time_text(std::int64_t time) {
  const std::time_t t = static_cast<std::time_t>(time);
  std::tm tm{};
  localtime_r(&t, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
  return text;
}

namespace {

long gmt_offset(std::int64_t time) {
  const std::time_t t = static_cast<std::time_t>(time);
  std::tm tm{};
  localtime_r(&t, &tm);
  return tm.tm_gmtoff;
}

std::string tier_table(std::size_t tier) { return kTiers[tier].table; }

// Where a block is among all stored: its row and its place in the row. A
// tier row's "upto" is the position of the last block it holds.
constexpr std::int64_t kPositionsPerRow = 256;
static_assert(kBlocksPerRow <= kPositionsPerRow, "a row's blocks have positions of their own");
std::int64_t block_position(std::int64_t rowId, std::size_t index) {
  return rowId * kPositionsPerRow + static_cast<std::int64_t>(index);
}

}  // namespace

HistoryStore::HistoryStore() = default;

HistoryStore::~HistoryStore() {
  statements_.reset();
  if (db_) sqlite3_close(db_);
}

void HistoryStore::fail(std::string* error) { *error = sql_error(db_); }

void HistoryStore::set_retention(const Retention& retention) {
  std::lock_guard<std::mutex> lock(mutex_);
  retention_ = retention;
}

bool HistoryStore::open(const std::string& path, std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
    *error = "cannot open the history " + path + ": " + (db_ ? sqlite3_errmsg(db_) : "out of memory");
    sqlite3_close(db_);
    db_ = nullptr;
    return false;
  }
  sqlite3_busy_timeout(db_, 2000);
  FileLayout layout;
  std::string why;
  if (!probe_layout(db_, &layout, &why)) {
    *error = path + " is not a history this meter-host can write: " + why + "; it is left as it is";
  } else if (layout.kind == FileKind::newer || layout.kind == FileKind::foreign) {
    *error = refusal(path, layout);
  } else if (layout.kind == FileKind::empty && !sql_exec(db_, "PRAGMA page_size = " + std::to_string(kPageSize), &why)) {
    *error = "cannot make the history " + path + ": " + why;
  } else if (!set_up(&why)) {
    *error = "the history " + path + ": " + why;
  } else if (layout.kind == FileKind::empty && !create_layout(db_, &why)) {
    *error = "cannot make the history " + path + ": " + why;
  } else if (layout.kind == FileKind::first &&
             !(sql_exec(db_, "BEGIN IMMEDIATE", &why) && move_first_layout(db_, &why) && catch_up_tiers(&why) &&
               sql_exec(db_, "COMMIT", &why))) {
    *error = "cannot move the history " + path + " to the current layout: " + why;
  } else if (layout.kind != FileKind::first &&
             !(sql_exec(db_, "BEGIN IMMEDIATE", &why) &&
               (layout.kind != FileKind::current || upgrade_layout(db_, layout.version, &why)) &&
               catch_up_tiers(&why) && sql_exec(db_, "COMMIT", &why))) {
    *error = "the history " + path + ": " + why;
  } else if (!load_outbox(&why)) {
    *error = "the history " + path + ": " + why;
  } else {
    return true;
  }
  statements_.reset();
  sqlite3_close(db_);
  db_ = nullptr;
  open_.clear();
  return false;
}

bool HistoryStore::open_to_read(const std::string& path, std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  FileLayout layout;
  std::string why;
  if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
      probe_layout(db_, &layout, &why) && layout.kind == FileKind::current) {
    sqlite3_busy_timeout(db_, 2000);
    statements_ = std::make_unique<Statements>(db_);
    return true;
  }
  *error = "cannot read the history " + path + ": " +
           (!why.empty() ? why : !db_ ? "out of memory" : layout.why.empty() ? sql_error(db_) : layout.why);
  sqlite3_close(db_);
  db_ = nullptr;
  return false;
}

bool HistoryStore::set_up(std::string* error) {
  statements_ = std::make_unique<Statements>(db_);
  // WAL: each page written once, in order; NORMAL: the log is synced at
  // checkpoints only. The log is cut back after a checkpoint so that it
  // does not keep the size of its largest burst.
  return sql_exec(db_,
                  "PRAGMA journal_mode = WAL;"
                  "PRAGMA synchronous = NORMAL;"
                  "PRAGMA journal_size_limit = 4194304;",
                  error);
}

// The newest row of each meter in each tier becomes its open period again;
// *from is the last record they all hold.
bool HistoryStore::load_open_periods(std::int64_t* from, std::string* error) {
  open_.clear();
  bool any = false;
  *from = 0;
  for (std::size_t t = 0; t < kTiers.size(); ++t) {
    Use s(*statements_,
          "SELECT id, data_id, start, rounds, upto, stats FROM " + tier_table(t) +
              " WHERE id IN (SELECT max(id) FROM " + tier_table(t) + " GROUP BY data_id)",
          error);
    int rc;
    while ((rc = s.step()) == SQLITE_ROW) {
      OpenPeriod& p = open_[static_cast<std::uint32_t>(s.integer(1))][t];
      p.active = decode_stats(s.blob(5), s.bytes(5), static_cast<std::uint32_t>(s.integer(3)), &p.stats);
      if (!p.active) continue;  // an unreadable row is left as it is
      p.rowId = s.integer(0);
      p.stats.start = s.integer(2);
      p.upto = s.integer(4);
      *from = any ? std::min(*from, p.upto) : p.upto;
      any = true;
    }
    if (rc != SQLITE_DONE) {
      fail(error);
      return false;
    }
  }
  // A meter with no row yet in some tier: that tier starts from its first.
  for (const auto& meter : open_)
    for (const OpenPeriod& p : meter.second)
      if (!p.active) *from = 0;
  return true;
}

bool HistoryStore::catch_up_tiers(std::string* error) {
  std::int64_t held = 0;
  if (!load_open_periods(&held, error)) return false;
  // From the row of the last block every tier holds.
  std::int64_t next = held / kPositionsPerRow;
  // In slices read into memory: tier rows are written between them.
  for (;;) {
    std::vector<Record> slice;
    {
      Use s(*statements_, "SELECT id, data_id, time, block FROM records WHERE id >= ? ORDER BY id LIMIT 4096", error);
      s.bind(next);
      int rc;
      while ((rc = s.step()) == SQLITE_ROW) {
        const auto* bytes = static_cast<const unsigned char*>(s.blob(3));
        slice.push_back(Record{s.integer(0), static_cast<std::uint32_t>(s.integer(1)), s.integer(2),
                               std::vector<unsigned char>(bytes, bytes + s.bytes(3))});
      }
      if (rc != SQLITE_DONE) {
        fail(error);
        return false;
      }
    }
    if (slice.empty()) return true;
    for (const Record& r : slice)
      if (!add_row(r.dataId, r.id, unpack_blocks(r.block.data(), r.block.size(), r.time), error)) return false;
    next = slice.back().id + 1;
  }
}

bool HistoryStore::write_period(std::size_t tier, std::uint32_t dataId, OpenPeriod& p, std::string* error) {
  const std::string stats = encode_stats(p.stats);
  if (p.rowId) {
    Use s(*statements_, "UPDATE " + tier_table(tier) + " SET rounds = ?, upto = ?, stats = ? WHERE id = ?", error);
    if (!s.bind(p.stats.rounds).bind(p.upto).bind_blob(stats.data(), stats.size()).bind(p.rowId).run()) {
      fail(error);
      return false;
    }
    if (sqlite3_changes(db_) > 0) return true;  // else pruned meanwhile: written anew
  }
  Use s(*statements_,
        "INSERT INTO " + tier_table(tier) + " (data_id, start, rounds, upto, stats) VALUES (?, ?, ?, ?, ?)", error);
  if (!s.bind(dataId).bind(p.stats.start).bind(p.stats.rounds).bind(p.upto).bind_blob(stats.data(), stats.size()).run()) {
    fail(error);
    return false;
  }
  p.rowId = sqlite3_last_insert_rowid(db_);
  return true;
}

// Adds the blocks of a stored row to its meter's open periods; a period
// that ends is written. Open periods are written at a stop only: after a
// crash the next start adds the rows stored after their rows' last one.
bool HistoryStore::add_row(std::uint32_t dataId, std::int64_t rowId, const std::vector<TimedBlock>& blocks,
                           std::string* error) {
  MeterPeriods& periods = open_[dataId];
  MemberValues values;
  for (std::size_t t = 0; t < kTiers.size(); ++t) {
    OpenPeriod& p = periods[t];
    for (std::size_t k = 0; k < blocks.size(); ++k) {
      const TimedBlock& b = blocks[k];
      const std::int64_t position = block_position(rowId, k);
      if (position <= p.upto) continue;  // already held (a start after a crash)
      if (b.block.size() != kvrm::kBlockSize) continue;  // not a block: no values
      member_values(b.block.data(), &values);
      const std::int64_t start = period_start(b.time, kTiers[t].seconds, gmt_offset(b.time));
      if (p.active && p.stats.start != start) {
        if (!write_period(t, dataId, p, error)) return false;
        p = OpenPeriod{};
      }
      if (!p.active) {
        p.active = true;
        p.stats.start = start;
      }
      p.stats.add(values);
      p.upto = position;
    }
  }
  return true;
}

bool HistoryStore::store_row(std::uint32_t dataId, const TimedBlock* first, const TimedBlock* last,
                             std::string* error) {
  const std::string packed = first->block.size() == kvrm::kBlockSize
                                 ? pack_blocks(first, last, first->time)
                                 : std::string(first->block.begin(), first->block.end());
  {
    Use s(*statements_, "INSERT INTO records (data_id, time, last, rounds, block) VALUES (?, ?, ?, ?, ?)", error);
    if (!s.bind(dataId)
             .bind(first->time)
             .bind((last - 1)->time)
             .bind(static_cast<std::int64_t>(last - first))
             .bind_blob(packed.data(), packed.size())
             .run()) {
      fail(error);
      return false;
    }
  }
  return add_row(dataId, sqlite3_last_insert_rowid(db_), std::vector<TimedBlock>(first, last), error);
}

bool HistoryStore::commit(const Batch& batch, std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!db_) return true;
  const auto before = open_;
  const auto seqBefore = lastSeq_;
  const auto outboxBefore = std::tuple(outboxRows_, outboxBytes_, dropped_);
  const auto undo = [&] {
    if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    open_ = before;
    lastSeq_ = seqBefore;
    std::tie(outboxRows_, outboxBytes_, dropped_) = outboxBefore;
    return false;
  };
  if (!sql_exec(db_, "BEGIN IMMEDIATE", error)) return undo();
  // Each meter's blocks of the batch, in the order they came, in rows of
  // up to kBlocksPerRow.
  std::map<std::uint32_t, std::vector<TimedBlock>> meters;
  for (const StoredRound& r : batch.rounds) {
    const TimedBlock b{r.time, r.block};
    if (r.block.size() == kvrm::kBlockSize)
      meters[r.dataId].push_back(b);
    else if (!store_row(r.dataId, &b, &b + 1, error))  // kept as it came, in a row of its own
      return undo();
  }
  for (const auto& [dataId, blocks] : meters)
    for (std::size_t from = 0; from < blocks.size(); from += kBlocksPerRow)
      if (!store_row(dataId, &blocks[from], &blocks[std::min(blocks.size(), from + kBlocksPerRow)], error))
        return undo();
  for (const StoredAlarm& a : batch.alarms) {
    const AlarmEvent& e = a.event;
    Use s(*statements_,
          "INSERT INTO alarms (data_id, saved_at, alarm_id, signal, level, state, value, text)"
          " VALUES (?, ?, ?, ?, ?, ?, ?, ?)",
          error);
    if (!s.bind(e.dataId)
             .bind(local_time_text(a.time))
             .bind(e.alarmId)
             .bind(e.signal)
             .bind(e.level)
             .bind(std::string(e.raised ? "raised" : "cleared"))
             .bind(e.valueText)
             .bind(e.alarmText)
             .run()) {
      fail(error);
      return undo();
    }
  }
  // The messages of the round go with it, and what the broker has
  // acknowledged leaves in the same transaction.
  if (!delete_sent(batch.sent, error)) return undo();
  for (const OutboxMessage& m : batch.messages)
    if (!store_message(m, error)) return undo();
  if (batch.now != 0 && outbox_due(batch.now) && !bound_outbox(batch.now, error)) return undo();
  if (!sql_exec(db_, "COMMIT", error)) return undo();
  if (!batch.messages.empty()) ++outboxGeneration_;
  return true;
}

bool HistoryStore::write_open_periods(std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!db_) return true;
  const auto before = open_;
  if (!sql_exec(db_, "BEGIN IMMEDIATE", error)) return false;
  for (auto& [dataId, periods] : open_)
    for (std::size_t t = 0; t < kTiers.size(); ++t)
      if (periods[t].active && !write_period(t, dataId, periods[t], error)) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        open_ = before;
        return false;
      }
  if (sql_exec(db_, "COMMIT", error)) return true;
  if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  open_ = before;
  return false;
}

}  // namespace hist
