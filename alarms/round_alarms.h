#pragma once
// The alarm work of a completed round: which work the operating mode asks
// for, the alarm id derived from a point-file signal id, and which
// snapshot members the point-file pass can offer to the alarm services.
#include <optional>
#include <string>

#include <json/value.h>

#include "config/modes.h"

namespace kvrm {

enum class RoundAlarms {
  None,        // no rebuild, no alarm pass
  PointFile,   // the host's threshold service and the analog report check
  Thresholds,  // the four hysteresis passes
};

constexpr RoundAlarms round_alarms(int mode) {
  return mode == kPointFileMode ? RoundAlarms::PointFile
         : mode == kThresholdMode ? RoundAlarms::Thresholds
                                  : RoundAlarms::None;
}

// The signal id with its fourth character made '6' and its ninth '1'. A
// shorter id has only the positions it has replaced.
std::string derived_signal_id(const std::string& signalId);

// The value a snapshot member offers to the alarm services: none for a null
// member (a name that is not in the snapshot) and none for a member that is
// not a number (the update time), which has no value to compare.
std::optional<float> alarm_value(const Json::Value& member);

}  // namespace kvrm
