#include "history_reader.h"

#include <cstring>

#include <sqlite3.h>

#include "acquisition/data_block.h"
#include "block_codec.h"
#include "layout.h"

namespace meter_history {

namespace {

class Statement {
public:
  Statement(sqlite3* db, const std::string& sql) {
    ok_ = sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt_, nullptr) == SQLITE_OK;
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  bool ok() const { return ok_; }
  sqlite3_stmt* get() const { return stmt_; }

private:
  sqlite3_stmt* stmt_ = nullptr;
  bool ok_ = false;
};

std::string column_text(sqlite3_stmt* s, int col) {
  const unsigned char* t = sqlite3_column_text(s, col);
  return t ? reinterpret_cast<const char*>(t) : "";
}

}  // namespace

HistoryReader::~HistoryReader() {
  if (db_) sqlite3_close(db_);
}

bool HistoryReader::open(const std::string& path, std::string* error) {
  if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    *error = "cannot open the history " + path + ": " + (db_ ? sqlite3_errmsg(db_) : "out of memory");
    sqlite3_close(db_);
    db_ = nullptr;
    return false;
  }
  sqlite3_busy_timeout(db_, 2000);
  hist::FileLayout layout;
  std::string why;
  if (hist::probe_layout(db_, &layout, &why) && layout.kind == hist::FileKind::newer) {
    *error = path + ": " + layout.why;
    return false;
  }
  hasTiers_ = layout.kind == hist::FileKind::current;
  bool hasBlock = false;
  Statement columns(db_, "PRAGMA table_info(records)");
  while (columns.ok() && sqlite3_step(columns.get()) == SQLITE_ROW) {
    const std::string name = column_text(columns.get(), 1);
    if (name == "block") hasBlock = true;
    if (name == "data_id") hasDataIdColumn_ = true;
  }
  if (!columns.ok() || !hasBlock) {
    *error = path + " holds no history records (is it a meter-host --history database?)" +
             (columns.ok() ? std::string() : std::string(": ") + sqlite3_errmsg(db_));
    return false;
  }
  return true;
}

bool HistoryReader::for_each(std::optional<std::uint32_t> dataId,
                             const std::function<bool(const StoredBlock&)>& each, std::string* error) {
  const std::string idColumn = hasDataIdColumn_ ? "data_id" : "NULL";
  // Rows of the current layout hold the blocks of one commit.
  std::string sql = "SELECT " + idColumn + ", block, " + (hasTiers_ ? "time" : "0") + " FROM records";
  if (dataId && hasDataIdColumn_) sql += " WHERE data_id = ?";
  sql += " ORDER BY rowid";
  Statement s(db_, sql);
  if (s.ok() && dataId && hasDataIdColumn_) sqlite3_bind_int64(s.get(), 1, static_cast<sqlite3_int64>(*dataId));
  if (!s.ok()) {
    *error = std::string("history: ") + sqlite3_errmsg(db_);
    return false;
  }
  int rc;
  while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
    const void* blob = sqlite3_column_blob(s.get(), 1);
    const auto size = static_cast<std::size_t>(sqlite3_column_bytes(s.get(), 1));
    const auto* bytes = static_cast<const unsigned char*>(blob);
    const auto blocks = hasTiers_ ? hist::unpack_blocks(blob, size, sqlite3_column_int64(s.get(), 2))
                                  : std::vector<hist::TimedBlock>{hist::TimedBlock{0, {bytes, bytes + size}}};
    for (const hist::TimedBlock& block : blocks) {
      StoredBlock b;
      b.block = block.block.empty() ? nullptr : block.block.data();
      b.length = block.block.size();
      if (hasDataIdColumn_ && sqlite3_column_type(s.get(), 0) != SQLITE_NULL) {
        b.dataId = static_cast<std::uint32_t>(sqlite3_column_int64(s.get(), 0));
      } else if (b.block && b.length >= sizeof(std::uint32_t)) {
        std::memcpy(&b.dataId, b.block, sizeof b.dataId);  // the block's own data id field
      }
      if (dataId && b.dataId != *dataId) continue;
      if (!each(b)) return true;
    }
  }
  if (rc != SQLITE_DONE) {
    *error = std::string("history: ") + sqlite3_errmsg(db_);
    return false;
  }
  return true;
}

bool HistoryReader::for_each_tier(std::size_t tier, std::optional<std::uint32_t> dataId,
                                  const std::function<bool(const hist::TierRow&)>& each, std::string* error) {
  if (!hasTiers_) return true;
  return hist::read_tier_rows(db_, tier, dataId, each, error);
}

bool HistoryReader::spans(std::vector<std::vector<hist::Span>>* parts, std::string* error) {
  return hasTiers_ && hist::read_spans(db_, parts, error);
}

}  // namespace meter_history
