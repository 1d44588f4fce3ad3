#pragma once
// One threshold entry against one value: the hysteresis rule, the alarm
// text and the value text handed to the host's boolean threshold service.
#include <string>

#include "alarms/float_text.h"
#include "config/limits.h"

namespace kvrm {

// The alarm state after seeing v, in single precision. Out of alarm, the
// threshold is reached inclusively; in alarm, the state holds until the
// value comes back to the recover value (inclusive). NaN keeps the state.
bool next_active(bool active, bool upper, float v, float threshold, float recoverValue);

// "当前值<v>高于阈值:<threshold>" (upper) or "...低于阈值:..." (lower).
std::string alarm_text(float v, bool upper, float threshold);

struct ThresholdReport {
  bool active;
  std::string valueText;
  std::string alarmText;  // empty when out of alarm
};

// Updates the entry's alarm state from v and says what to report.
ThresholdReport evaluate_threshold(ThresholdEntry& entry, bool upper, float v);

}  // namespace kvrm
