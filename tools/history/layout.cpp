#include "layout.h"

#include <set>
#include <vector>

#include "acquisition/data_block.h"
#include "block_codec.h"
#include "block_time.h"
#include "sql.h"

namespace hist {

namespace {

constexpr const char* kTables =
    "CREATE TABLE records ("
    " id INTEGER PRIMARY KEY,"
    " data_id INTEGER NOT NULL,"
    " time INTEGER NOT NULL,"  // its first block's time stamp, seconds since the epoch
    " last INTEGER NOT NULL,"  // its last block's
    " rounds INTEGER NOT NULL,"  // its blocks
    " block BLOB NOT NULL);"  // the blocks of one commit of the meter
    "CREATE TABLE IF NOT EXISTS alarms ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " data_id INTEGER NOT NULL,"
    " saved_at TEXT NOT NULL,"
    " alarm_id TEXT NOT NULL,"
    " signal TEXT NOT NULL,"
    " level INTEGER NOT NULL,"
    " state TEXT NOT NULL CHECK (state IN ('raised', 'cleared')),"
    " value TEXT NOT NULL,"
    " text TEXT NOT NULL);"
    // upto: the position of the last block the row holds (its record's
    // id times 256 plus its place there), so that a start after a crash
    // adds the blocks stored since.
    "CREATE TABLE minutes ("
    " id INTEGER PRIMARY KEY,"
    " data_id INTEGER NOT NULL,"
    " start INTEGER NOT NULL,"
    " rounds INTEGER NOT NULL,"
    " upto INTEGER NOT NULL,"
    " stats BLOB NOT NULL);"
    "CREATE TABLE hours ("
    " id INTEGER PRIMARY KEY,"
    " data_id INTEGER NOT NULL,"
    " start INTEGER NOT NULL,"
    " rounds INTEGER NOT NULL,"
    " upto INTEGER NOT NULL,"
    " stats BLOB NOT NULL);";

// Since layout 2: what waits for the broker, oldest first, and the last
// sequence number given to each meter's counted messages. The topic is
// kept below the prefix, so that a new prefix applies to what waits. Row
// ids are never reused: the sender reads on from the last one it sent.
constexpr const char* kOutboxTables =
    "CREATE TABLE outbox ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " data_id INTEGER NOT NULL,"
    " seq INTEGER,"  // none: not counted (meta, the retained availability)
    " kind TEXT NOT NULL,"
    " time INTEGER NOT NULL,"  // of what it tells, seconds since the epoch
    " topic TEXT NOT NULL,"
    " retain INTEGER NOT NULL,"
    " body BLOB NOT NULL);"
    "CREATE TABLE outbox_seq ("
    " data_id INTEGER PRIMARY KEY,"
    " last INTEGER NOT NULL);";

std::string version_pragmas() {
  return "PRAGMA application_id = " + std::to_string(kApplicationId) +
         "; PRAGMA user_version = " + std::to_string(kLayoutVersion) + ";";
}

bool pragma_number(sqlite3* db, const char* sql, std::int64_t* value, std::string* error) {
  sqlite3_stmt* s = nullptr;
  const bool ok = sqlite3_prepare_v2(db, sql, -1, &s, nullptr) == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW;
  if (ok) *value = sqlite3_column_int64(s, 0);
  if (!ok) *error = sql_error(db);
  sqlite3_finalize(s);
  return ok;
}

bool names(sqlite3* db, const std::string& sql, std::set<std::string>* out, std::string* error) {
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr) != SQLITE_OK) {
    *error = sql_error(db);
    return false;
  }
  int rc;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW) out->insert(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)));
  sqlite3_finalize(s);
  if (rc != SQLITE_DONE) *error = sql_error(db);
  return rc == SQLITE_DONE;
}

std::string listed(const std::set<std::string>& items) {
  std::string out;
  for (const auto& t : items) out += (out.empty() ? "" : ", ") + t;
  return out;
}

// The time of a record of the first layout: its block's time stamp, else
// the local time it was saved at.
std::int64_t first_layout_time(const std::vector<unsigned char>& block, const std::string& savedAt) {
  if (block.size() == kvrm::kBlockSize)
    if (const auto t = readings::local_epoch(readings::block_time(block.data()))) return *t;
  if (const auto parsed = readings::parse_time_text(savedAt))
    if (const auto t = readings::local_epoch(*parsed)) return *t;
  return 0;
}

// Every record of the first layout into the new table, under its own id.
bool copy_first_records(sqlite3* db, std::string* error) {
  Statements statements(db);
  Use read(statements, "SELECT id, data_id, saved_at, block FROM first_records ORDER BY id", error);
  int rc;
  while ((rc = read.step()) == SQLITE_ROW) {
    const auto* bytes = static_cast<const unsigned char*>(read.blob(3));
    TimedBlock block{0, std::vector<unsigned char>(bytes, bytes + read.bytes(3))};
    const std::int64_t time = block.time = first_layout_time(block.block, read.text(2));
    // A record that is not a block is kept as it was.
    const std::string packed = block.block.size() == kvrm::kBlockSize
                                   ? pack_blocks(&block, &block + 1, time)
                                   : std::string(block.block.begin(), block.block.end());
    Use insert(statements, "INSERT INTO records (id, data_id, time, last, rounds, block) VALUES (?, ?, ?, ?, 1, ?)",
               error);
    if (!insert.bind(read.integer(0))
             .bind(read.integer(1))
             .bind(time)
             .bind(time)
             .bind_blob(packed.data(), packed.size())
             .run()) {
      *error = sql_error(db);
      return false;
    }
  }
  if (rc != SQLITE_DONE) {
    *error = sql_error(db);
    return false;
  }
  return true;
}

}  // namespace

bool probe_layout(sqlite3* db, FileLayout* layout, std::string* error) {
  std::int64_t appId = 0, version = 0;
  std::set<std::string> tables;
  if (!pragma_number(db, "PRAGMA application_id", &appId, error) ||
      !pragma_number(db, "PRAGMA user_version", &version, error) ||
      !names(db, "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite_%'", &tables, error))
    return false;
  layout->version = static_cast<int>(version);
  if (appId == kApplicationId) {
    layout->kind = version > kLayoutVersion ? FileKind::newer : FileKind::current;
    if (layout->kind == FileKind::newer)
      layout->why = "it was written by a newer meter-host (layout " + std::to_string(version) +
                    "; this one knows layouts up to " + std::to_string(kLayoutVersion) + ")";
    return true;
  }
  if (appId == 0 && version == 0 && tables.empty()) {
    layout->kind = FileKind::empty;
    return true;
  }
  std::set<std::string> columns;
  if (appId == 0 && version == 0 && tables.count("records") &&
      names(db, "SELECT name FROM pragma_table_info('records')", &columns, error) &&
      (tables == std::set<std::string>{"records"} || tables == std::set<std::string>{"records", "alarms"}) &&
      columns == std::set<std::string>{"id", "data_id", "saved_at", "block"}) {
    layout->kind = FileKind::first;
    return true;
  }
  layout->kind = FileKind::foreign;
  layout->why = appId != 0 ? "it belongs to another application (application id " + std::to_string(appId) + ")"
                : tables.empty() ? "it is another SQLite database"
                                 : "it is another SQLite database (tables " + listed(tables) + ")";
  return true;
}

std::string refusal(const std::string& path, const FileLayout& layout) {
  return path + " is not a history this meter-host can write: " + layout.why + "; it is left as it is";
}

bool create_layout(sqlite3* db, std::string* error) {
  return sql_exec(db, std::string("BEGIN;") + kTables + kOutboxTables + version_pragmas() + "COMMIT;", error);
}

bool upgrade_layout(sqlite3* db, int version, std::string* error) {
  if (version >= kLayoutVersion) return true;
  return sql_exec(db, std::string(kOutboxTables) + version_pragmas(), error);
}

bool move_first_layout(sqlite3* db, std::string* error) {
  if (!sql_exec(db,
                "DROP INDEX IF EXISTS records_by_device;"
                "ALTER TABLE records RENAME TO first_records;",
                error) ||
      !sql_exec(db, std::string(kTables) + kOutboxTables, error))
    return false;
  if (!copy_first_records(db, error)) return false;
  return sql_exec(db, "DROP TABLE first_records;" + version_pragmas(), error);
}

}  // namespace hist
