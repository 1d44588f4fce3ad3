#pragma once
// The history records of a meter-host database, read without changing it.
// The reader asks the database which columns it has: a database without a
// data id column gives each record the data id that its block carries.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

struct sqlite3;

namespace meter_history {

struct StoredBlock {
  std::uint32_t dataId = 0;
  const unsigned char* block = nullptr;  // valid during the call only
  std::size_t length = 0;
};

class HistoryReader {
public:
  HistoryReader() = default;
  ~HistoryReader();
  HistoryReader(const HistoryReader&) = delete;
  HistoryReader& operator=(const HistoryReader&) = delete;

  bool open(const std::string& path, std::string* error);

  // Every record, in the order stored, of one data id or of all; stops
  // early when `each` returns false.
  bool for_each(std::optional<std::uint32_t> dataId, const std::function<bool(const StoredBlock&)>& each,
                std::string* error);

private:
  sqlite3* db_ = nullptr;
  bool hasDataIdColumn_ = false;
};

}  // namespace meter_history
