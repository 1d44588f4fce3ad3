#include "sql.h"

namespace hist {

bool sql_exec(sqlite3* db, const std::string& sql, std::string* error) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) return true;
  *error = message ? message : sql_error(db);
  sqlite3_free(message);
  return false;
}

Statements::~Statements() {
  for (auto& entry : cache_) sqlite3_finalize(entry.second);
}

sqlite3_stmt* Statements::get(const std::string& sql, std::string* error) {
  const auto found = cache_.find(sql);
  if (found != cache_.end()) return found->second;
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v3(db_, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) != SQLITE_OK) {
    *error = sql_error(db_);
    sqlite3_finalize(stmt);
    return nullptr;
  }
  cache_.emplace(sql, stmt);
  return stmt;
}

}  // namespace hist
