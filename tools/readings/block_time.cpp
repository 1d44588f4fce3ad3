#include "block_time.h"

#include <cstdio>

#include "acquisition/data_block.h"

namespace readings {

std::int64_t BlockTime::key() const {
  return ((((static_cast<std::int64_t>(year) * 100 + month) * 100 + day) * 100 + hour) * 100 + minute) * 100 + second;
}

BlockTime block_time(const unsigned char* block) {
  const auto byte = [block](std::size_t i) { return static_cast<int>(block[kvrm::kTimeOffset + i]); };
  BlockTime t;
  t.year = kvrm::read_uint16(block, kvrm::kTimeOffset);
  t.month = byte(2);
  t.day = byte(3);
  t.hour = byte(4);
  t.minute = byte(5);
  t.second = byte(6);
  return t;
}

std::string iso_text(const BlockTime& t, char separator) {
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d%c%02d:%02d:%02d", t.year, t.month, t.day, separator, t.hour,
                t.minute, t.second);
  return text;
}

std::optional<BlockTime> parse_time_text(const std::string& text) {
  BlockTime t;
  char sep = 0;
  int used = 0;
  const int n = std::sscanf(text.c_str(), "%d-%d-%d%n%c%d:%d%n:%d%n", &t.year, &t.month, &t.day, &used, &sep,
                            &t.hour, &t.minute, &used, &t.second, &used);
  const bool shapeOk = n == 3 || ((n == 6 || n == 7) && (sep == ' ' || sep == 'T'));
  if (!shapeOk || static_cast<std::size_t>(used) != text.size()) return std::nullopt;
  if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 || t.hour < 0 || t.hour > 23 || t.minute < 0 ||
      t.minute > 59 || t.second < 0 || t.second > 60)
    return std::nullopt;
  return t;
}

std::optional<std::time_t> local_epoch(const BlockTime& t) {
  std::tm tm{};
  tm.tm_year = t.year - 1900;
  tm.tm_mon = t.month - 1;
  tm.tm_mday = t.day;
  tm.tm_hour = t.hour;
  tm.tm_min = t.minute;
  tm.tm_sec = t.second;
  tm.tm_isdst = -1;
  const std::time_t epoch = std::mktime(&tm);
  if (epoch == static_cast<std::time_t>(-1) && !(t.year == 1969 || t.year == 1970)) return std::nullopt;
  return epoch;
}

}  // namespace readings
