#pragma once
// The bench host's history store: an SQLite database with one table of
// history records (data id, time saved, the 915-byte block) and one of
// alarms raised and cleared.
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

namespace meter_host {

struct HistoryRecord {
  std::int64_t id = 0;
  std::uint32_t dataId = 0;
  std::string savedAt;  // local time, "YYYY-MM-DD HH:MM:SS"
  std::vector<unsigned char> block;
};

struct AlarmEvent {
  std::uint32_t dataId = 0;
  std::string alarmId;
  std::string signal;
  int level = 0;
  bool raised = false;  // false: cleared
  std::string valueText;
  std::string alarmText;
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

  bool store(std::uint32_t dataId, const unsigned char* block, std::size_t length, std::string* error);
  // The newest record of the data id: the one stored last.
  std::optional<HistoryRecord> newest(std::uint32_t dataId, std::string* error);
  // Every record of the data id, oldest first.
  std::vector<HistoryRecord> records(std::uint32_t dataId, std::string* error);

  bool record_alarm(const AlarmEvent& event, std::string* error);
  // Every alarm event of the data id, oldest first.
  std::vector<AlarmEvent> alarm_events(std::uint32_t dataId, std::string* error);
  // The last recorded state of every alarm id of the data id.
  std::map<std::string, bool> alarm_states(std::uint32_t dataId, std::string* error);

private:
  bool exec(const char* sql, std::string* error);

  std::mutex mutex_;
  sqlite3* db_ = nullptr;
};

// The local time now, as the history tables store it.
std::string local_time_text();

}  // namespace meter_host
