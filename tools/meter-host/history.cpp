#include "history.h"

#include <ctime>

#include <sqlite3.h>

namespace meter_host {

namespace {

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS records ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " data_id INTEGER NOT NULL,"
    " saved_at TEXT NOT NULL,"
    " block BLOB NOT NULL);"
    "CREATE INDEX IF NOT EXISTS records_by_device ON records (data_id, id);"
    "CREATE TABLE IF NOT EXISTS alarms ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " data_id INTEGER NOT NULL,"
    " saved_at TEXT NOT NULL,"
    " alarm_id TEXT NOT NULL,"
    " signal TEXT NOT NULL,"
    " level INTEGER NOT NULL,"
    " state TEXT NOT NULL CHECK (state IN ('raised', 'cleared')),"
    " value TEXT NOT NULL,"
    " text TEXT NOT NULL);";

// One prepared statement, finalized on every path.
class Statement {
public:
  Statement(sqlite3* db, const char* sql) { ok_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) == SQLITE_OK; }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  bool ok() const { return ok_; }
  sqlite3_stmt* get() const { return stmt_; }
  void bind(int i, std::int64_t v) { ok_ = ok_ && sqlite3_bind_int64(stmt_, i, v) == SQLITE_OK; }
  void bind(int i, const std::string& v) {
    ok_ = ok_ && sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT) == SQLITE_OK;
  }
  void bind_blob(int i, const unsigned char* p, std::size_t n) {
    ok_ = ok_ && sqlite3_bind_blob(stmt_, i, p, static_cast<int>(n), SQLITE_TRANSIENT) == SQLITE_OK;
  }
  std::string text(int col) const {
    const unsigned char* t = sqlite3_column_text(stmt_, col);
    return t ? std::string(reinterpret_cast<const char*>(t), static_cast<std::size_t>(sqlite3_column_bytes(stmt_, col)))
             : std::string();
  }

private:
  sqlite3_stmt* stmt_ = nullptr;
  bool ok_ = false;
};

std::string db_error(sqlite3* db) { return std::string("history: ") + sqlite3_errmsg(db); }

HistoryRecord read_record(const Statement& s) {
  HistoryRecord r;
  r.id = sqlite3_column_int64(s.get(), 0);
  r.dataId = static_cast<std::uint32_t>(sqlite3_column_int64(s.get(), 1));
  r.savedAt = s.text(2);
  const auto* blob = static_cast<const unsigned char*>(sqlite3_column_blob(s.get(), 3));
  r.block.assign(blob, blob + sqlite3_column_bytes(s.get(), 3));
  return r;
}

}  // namespace

std::string local_time_text(std::optional<std::time_t> at) {
  const std::time_t now = at.value_or(std::time(nullptr));
  std::tm tm{};
  localtime_r(&now, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
  return text;
}

History::~History() {
  if (db_) sqlite3_close(db_);
}

bool History::exec(const char* sql, std::string* error) {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
  *error = std::string("history: ") + (message ? message : "failed");
  sqlite3_free(message);
  return false;
}

bool History::open(const std::string& path, std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                      nullptr) != SQLITE_OK) {
    *error = "cannot open the history " + path + ": " + (db_ ? sqlite3_errmsg(db_) : "out of memory");
    sqlite3_close(db_);
    db_ = nullptr;
    return false;
  }
  sqlite3_busy_timeout(db_, 2000);
  if (!exec(kSchema, error)) {
    *error = path + ": " + *error;
    sqlite3_close(db_);
    db_ = nullptr;
    return false;
  }
  return true;
}

bool History::store(std::uint32_t dataId, const unsigned char* block, std::size_t length, std::string* error,
                    std::optional<std::time_t> at) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!db_) return true;
  Statement s(db_, "INSERT INTO records (data_id, saved_at, block) VALUES (?, ?, ?)");
  s.bind(1, static_cast<std::int64_t>(dataId));
  s.bind(2, local_time_text(at));
  s.bind_blob(3, block, length);
  if (!s.ok() || sqlite3_step(s.get()) != SQLITE_DONE) {
    *error = db_error(db_);
    return false;
  }
  return true;
}

std::optional<HistoryRecord> History::newest(std::uint32_t dataId, std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!db_) return std::nullopt;
  Statement s(db_, "SELECT id, data_id, saved_at, block FROM records WHERE data_id = ? ORDER BY id DESC LIMIT 1");
  s.bind(1, static_cast<std::int64_t>(dataId));
  if (!s.ok()) {
    *error = db_error(db_);
    return std::nullopt;
  }
  const int rc = sqlite3_step(s.get());
  if (rc == SQLITE_ROW) return read_record(s);
  if (rc != SQLITE_DONE) *error = db_error(db_);
  return std::nullopt;
}

std::vector<HistoryRecord> History::records(std::uint32_t dataId, std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<HistoryRecord> out;
  if (!db_) return out;
  Statement s(db_, "SELECT id, data_id, saved_at, block FROM records WHERE data_id = ? ORDER BY id");
  s.bind(1, static_cast<std::int64_t>(dataId));
  if (!s.ok()) {
    *error = db_error(db_);
    return out;
  }
  int rc;
  while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) out.push_back(read_record(s));
  if (rc != SQLITE_DONE) *error = db_error(db_);
  return out;
}

bool History::record_alarm(const AlarmEvent& e, std::string* error, std::optional<std::time_t> at) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!db_) return true;
  Statement s(db_,
              "INSERT INTO alarms (data_id, saved_at, alarm_id, signal, level, state, value, text)"
              " VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
  s.bind(1, static_cast<std::int64_t>(e.dataId));
  s.bind(2, local_time_text(at));
  s.bind(3, e.alarmId);
  s.bind(4, e.signal);
  s.bind(5, static_cast<std::int64_t>(e.level));
  s.bind(6, std::string(e.raised ? "raised" : "cleared"));
  s.bind(7, e.valueText);
  s.bind(8, e.alarmText);
  if (!s.ok() || sqlite3_step(s.get()) != SQLITE_DONE) {
    *error = db_error(db_);
    return false;
  }
  return true;
}

std::vector<AlarmEvent> History::alarm_events(std::uint32_t dataId, std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<AlarmEvent> events;
  if (!db_) return events;
  Statement s(db_, "SELECT alarm_id, signal, level, state, value, text FROM alarms WHERE data_id = ? ORDER BY id");
  s.bind(1, static_cast<std::int64_t>(dataId));
  if (!s.ok()) {
    *error = db_error(db_);
    return events;
  }
  int rc;
  while ((rc = sqlite3_step(s.get())) == SQLITE_ROW)
    events.push_back(AlarmEvent{dataId, s.text(0), s.text(1), sqlite3_column_int(s.get(), 2), s.text(3) == "raised",
                                s.text(4), s.text(5)});
  if (rc != SQLITE_DONE) *error = db_error(db_);
  return events;
}

std::map<std::string, bool> History::alarm_states(std::uint32_t dataId, std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::map<std::string, bool> states;
  if (!db_) return states;
  // Rows in insertion order: the last one of each alarm id wins.
  Statement s(db_, "SELECT alarm_id, state FROM alarms WHERE data_id = ? ORDER BY id");
  s.bind(1, static_cast<std::int64_t>(dataId));
  if (!s.ok()) {
    *error = db_error(db_);
    return states;
  }
  int rc;
  while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) states[s.text(0)] = s.text(1) == "raised";
  if (rc != SQLITE_DONE) *error = db_error(db_);
  return states;
}

}  // namespace meter_host
