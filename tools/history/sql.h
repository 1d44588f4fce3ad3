#pragma once
// Small helpers over SQLite's C interface: a statement that resets itself
// after each use, and one place that turns a failure into text.
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

#include <sqlite3.h>

namespace hist {

inline std::string sql_error(sqlite3* db) { return sqlite3_errmsg(db); }

bool sql_exec(sqlite3* db, const std::string& sql, std::string* error);

// A prepared statement kept for the life of the connection; every Use
// binds from the first parameter on and resets it at the end.
class Statements {
public:
  explicit Statements(sqlite3* db) : db_(db) {}
  ~Statements();
  Statements(const Statements&) = delete;
  Statements& operator=(const Statements&) = delete;
  sqlite3_stmt* get(const std::string& sql, std::string* error);

private:
  sqlite3* db_;
  std::unordered_map<std::string, sqlite3_stmt*> cache_;
};

class Use {
public:
  Use(Statements& s, const std::string& sql, std::string* error) : stmt_(s.get(sql, error)), ok_(stmt_ != nullptr) {}
  ~Use() {
    if (stmt_) {
      sqlite3_reset(stmt_);
      sqlite3_clear_bindings(stmt_);
    }
  }
  Use(const Use&) = delete;
  Use& operator=(const Use&) = delete;

  Use& bind(std::int64_t v) {
    ok_ = ok_ && sqlite3_bind_int64(stmt_, ++n_, v) == SQLITE_OK;
    return *this;
  }
  Use& bind(const std::string& text) {
    ok_ = ok_ && sqlite3_bind_text(stmt_, ++n_, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT) == SQLITE_OK;
    return *this;
  }
  Use& bind_null() {
    ok_ = ok_ && sqlite3_bind_null(stmt_, ++n_) == SQLITE_OK;
    return *this;
  }
  Use& bind_blob(const void* p, std::size_t size) {
    ok_ = ok_ && sqlite3_bind_blob(stmt_, ++n_, size ? p : "", static_cast<int>(size), SQLITE_TRANSIENT) == SQLITE_OK;
    return *this;
  }
  // SQLITE_ROW, SQLITE_DONE or an error code.
  int step() { return ok_ ? sqlite3_step(stmt_) : SQLITE_MISUSE; }
  bool run() { return step() == SQLITE_DONE; }

  bool is_null(int col) const { return sqlite3_column_type(stmt_, col) == SQLITE_NULL; }
  std::int64_t integer(int col) const { return sqlite3_column_int64(stmt_, col); }
  std::string text(int col) const {
    const unsigned char* t = sqlite3_column_text(stmt_, col);
    return t ? std::string(reinterpret_cast<const char*>(t), static_cast<std::size_t>(sqlite3_column_bytes(stmt_, col)))
             : std::string();
  }
  const void* blob(int col) const { return sqlite3_column_blob(stmt_, col); }
  std::size_t bytes(int col) const { return static_cast<std::size_t>(sqlite3_column_bytes(stmt_, col)); }

private:
  sqlite3_stmt* stmt_;
  bool ok_;
  int n_ = 0;
};

}  // namespace hist
