// What the bench host reads at start-up and what the readers list.
#include "block_codec.h"
#include "history_store.h"
#include "sql.h"

namespace hist {

namespace {

// The blocks of the row a statement is on.
std::vector<Record> read_records(const Use& s) {
  std::vector<Record> out;
  for (TimedBlock& b : unpack_blocks(s.blob(3), s.bytes(3), s.integer(2)))
    out.push_back(Record{s.integer(0), static_cast<std::uint32_t>(s.integer(1)), b.time, std::move(b.block)});
  return out;
}

}  // namespace

std::optional<Record> HistoryStore::newest(std::uint32_t dataId, std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!db_) return std::nullopt;
  Use s(*statements_, "SELECT id, data_id, time, block FROM records WHERE data_id = ? ORDER BY id DESC LIMIT 1",
        error);
  const int rc = s.bind(dataId).step();
  if (rc == SQLITE_ROW) return read_records(s).back();
  if (rc != SQLITE_DONE) fail(error);
  return std::nullopt;
}

bool HistoryStore::for_each_record(std::optional<std::uint32_t> dataId, const std::function<bool(const Record&)>& each,
                                   std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!db_) return true;
  Use s(*statements_,
        std::string("SELECT id, data_id, time, block FROM records") + (dataId ? " WHERE data_id = ?" : "") +
            " ORDER BY id",
        error);
  if (dataId) s.bind(*dataId);
  int rc;
  while ((rc = s.step()) == SQLITE_ROW)
    for (const Record& r : read_records(s))
      if (!each(r)) return true;
  if (rc != SQLITE_DONE) fail(error);
  return rc == SQLITE_DONE;
}

bool read_tier_rows(sqlite3* db, std::size_t tier, std::optional<std::uint32_t> dataId,
                    const std::function<bool(const TierRow&)>& each, std::string* error) {
  Statements statements(db);
  Use s(statements,
        std::string("SELECT data_id, start, rounds, stats FROM ") + kTiers.at(tier).table +
            (dataId ? " WHERE data_id = ?" : "") + " ORDER BY id",
        error);
  if (dataId) s.bind(*dataId);
  int rc;
  TierRow row;
  while ((rc = s.step()) == SQLITE_ROW) {
    row.dataId = static_cast<std::uint32_t>(s.integer(0));
    if (!decode_stats(s.blob(3), s.bytes(3), static_cast<std::uint32_t>(s.integer(2)), &row.stats)) continue;
    row.stats.start = s.integer(1);
    if (!each(row)) return true;
  }
  if (rc != SQLITE_DONE) *error = sql_error(db);
  return rc == SQLITE_DONE;
}

bool read_spans(sqlite3* db, std::vector<std::vector<Span>>* parts, std::string* error) {
  Statements statements(db);
  parts->clear();
  // Records count their blocks, tiers their rows.
  const auto part = [&](const std::string& table, const char* rows, const char* first, const char* last) {
    Use s(statements,
          "SELECT data_id, " + std::string(rows) + ", min(" + first + "), max(" + last + ") FROM " + table +
              " GROUP BY data_id ORDER BY data_id",
          error);
    std::vector<Span> spans;
    int rc;
    while ((rc = s.step()) == SQLITE_ROW)
      spans.push_back(Span{static_cast<std::uint32_t>(s.integer(0)), s.integer(1), s.integer(2), s.integer(3)});
    if (rc != SQLITE_DONE) *error = sql_error(db);
    parts->push_back(std::move(spans));
    return rc == SQLITE_DONE;
  };
  if (!part("records", "sum(rounds)", "time", "last")) return false;
  for (const TierSpec& t : kTiers)
    if (!part(t.table, "count(*)", "start", "start")) return false;
  return true;
}

bool HistoryStore::for_each_tier_row(std::size_t tier, std::optional<std::uint32_t> dataId,
                                     const std::function<bool(const TierRow&)>& each, std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!db_) return true;
  return read_tier_rows(db_, tier, dataId, each, error);
}

std::vector<Record> HistoryStore::records(std::uint32_t dataId, std::string* error) {
  std::vector<Record> out;
  for_each_record(dataId, [&](const Record& r) { return out.push_back(r), true; }, error);
  return out;
}

std::vector<AlarmEvent> HistoryStore::alarm_events(std::uint32_t dataId, std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<AlarmEvent> events;
  if (!db_) return events;
  Use s(*statements_,
        "SELECT alarm_id, signal, level, state, value, text FROM alarms WHERE data_id = ? ORDER BY id", error);
  s.bind(dataId);
  int rc;
  while ((rc = s.step()) == SQLITE_ROW)
    events.push_back(AlarmEvent{dataId, s.text(0), s.text(1), static_cast<int>(s.integer(2)), s.text(3) == "raised",
                                s.text(4), s.text(5)});
  if (rc != SQLITE_DONE) fail(error);
  return events;
}

std::map<std::string, bool> HistoryStore::alarm_states(std::uint32_t dataId, std::string* error) {
  std::map<std::string, bool> states;
  // In the order stored: the last event of each alarm id wins.
  for (const AlarmEvent& e : alarm_events(dataId, error)) states[e.alarmId] = e.raised;
  return states;
}

}  // namespace hist
