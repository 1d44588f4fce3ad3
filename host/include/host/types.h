#pragma once
// Small value types shared by the host framework and its devices.
#include <cstdint>
#include <string>

#include <boost/date_time/posix_time/posix_time_types.hpp>

// One rule collected by the host's alarm services during a round; the device
// reports the list, hands it to the batch check and empties it.
struct rule_value {
  std::string signalId;
  std::string text;
  float value = 0.0f;
  int flag = 0;
};

enum EnumParity { PARITY_NONE = 0, PARITY_ODD = 1, PARITY_EVEN = 2, PARITY_MARK = 3, PARITY_SPACE = 4 };

// Packed local time as the host stores it next to device records:
// 16-bit year, then month, day, hour, minute, second.
#pragma pack(push, 1)
struct ttime_t {
  std::uint16_t year;
  std::uint8_t month;
  std::uint8_t day;
  std::uint8_t hour;
  std::uint8_t minute;
  std::uint8_t second;
};
#pragma pack(pop)
static_assert(sizeof(ttime_t) == 7, "ttime_t is seven bytes");

ttime_t get_ttime(const boost::posix_time::ptime& t);
