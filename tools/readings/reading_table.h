#pragma once
// The table of one completed round as a person reads it: the quantities in
// groups, each with its English label, its member name as published, its
// value at the meter's resolution and its unit; the alarms in force; the
// round's time and duration. Pure: values in, text out.
#include <cstdint>
#include <string>
#include <vector>

#include <json/value.h>

namespace readings {

struct AlarmInForce {
  std::string alarmId;
  std::string signal;
  int level = 0;
  std::string valueText;
  std::string alarmText;
};

struct RoundReading {
  std::uint32_t dataId = 0;
  unsigned round = 0;
  long long durationMs = 0;
  Json::Value snapshot;  // as command 801 gives it
  std::vector<AlarmInForce> alarms;
};

// One block of lines, each ending in a line end.
std::string render_reading(const RoundReading& reading);

// A number at `decimals` places; "nan", "inf" and "-inf" as such.
std::string fixed_text(double value, int decimals);

}  // namespace readings
