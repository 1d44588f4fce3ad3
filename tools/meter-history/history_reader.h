#pragma once
// The history records of a meter-host database, read without changing it:
// its blocks (deflated ones inflated) and, in a file of the current layout,
// its per-minute and per-hour tiers. The reader asks an older database
// which columns it has: one without a data id column gives each record the
// data id that its block carries.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "history_store.h"

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

  // The file has the tiers (the current layout).
  bool has_tiers() const { return hasTiers_; }
  // Rows of tier `tier` (an index of hist::kTiers), oldest first.
  bool for_each_tier(std::size_t tier, std::optional<std::uint32_t> dataId,
                     const std::function<bool(const hist::TierRow&)>& each, std::string* error);
  // Records, then each tier: rows and span per meter (current layout only).
  bool spans(std::vector<std::vector<hist::Span>>* parts, std::string* error);

private:
  sqlite3* db_ = nullptr;
  bool hasDataIdColumn_ = false;
  bool hasTiers_ = false;
};

}  // namespace meter_history
