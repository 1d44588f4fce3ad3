#pragma once
// The bench host's history store: an SQLite database with one table of
// history records (data id, time saved, the 915-byte block) and one of
// alarms raised and cleared.
#include <cstdint>
#include <ctime>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "round_sink.h"

struct sqlite3;

namespace meter_host {

struct HistoryRecord {
  std::int64_t id = 0;
  std::uint32_t dataId = 0;
  std::string savedAt;  // local time, "YYYY-MM-DD HH:MM:SS"
  std::vector<unsigned char> block;
};


class History {
public:
  History() = default;
  ~History();
  History(const History&) = delete;
  History& operator=(const History&) = delete;

  // Opens or creates the database and its tables.
  bool open(const std::string& path, std::string* error);
  bool is_open() const { return db_ != nullptr; }

  // Saved at `at`, local time (default: now).
  bool store(std::uint32_t dataId, const unsigned char* block, std::size_t length, std::string* error,
             std::optional<std::time_t> at = std::nullopt);
  // The newest record of the data id: the one stored last.
  std::optional<HistoryRecord> newest(std::uint32_t dataId, std::string* error);
  // Every record of the data id, oldest first.
  std::vector<HistoryRecord> records(std::uint32_t dataId, std::string* error);

  bool record_alarm(const AlarmEvent& event, std::string* error, std::optional<std::time_t> at = std::nullopt);
  // Every alarm event of the data id, oldest first.
  std::vector<AlarmEvent> alarm_events(std::uint32_t dataId, std::string* error);
  // The last recorded state of every alarm id of the data id.
  std::map<std::string, bool> alarm_states(std::uint32_t dataId, std::string* error);

private:
  bool exec(const char* sql, std::string* error);

  std::mutex mutex_;
  sqlite3* db_ = nullptr;
};

// A time (default: now) as the history tables store it, local time.
std::string local_time_text(std::optional<std::time_t> at = std::nullopt);

}  // namespace meter_host
