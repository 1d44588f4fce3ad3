#include "alarms/threshold_eval.h"

#include <cmath>

namespace kvrm {

bool next_active(bool active, bool upper, float v, float threshold, float recoverValue) {
  if (std::isnan(v)) return active;
  if (upper) return active ? v > recoverValue : v >= threshold;
  return active ? v < recoverValue : v <= threshold;
}

namespace {

std::string alarm_text_of(const char* valueBegin, const char* valueEnd, bool upper, float threshold) {
  char limit[kFloatTextRoom];
  const char* const limitBegin = limit;
  const char* const limitEnd = write_float_text(limit, threshold);
  std::string text("当前值");
  text.append(valueBegin, valueEnd).append(upper ? "高于阈值:" : "低于阈值:").append(limitBegin, limitEnd);
  return text;
}

}  // namespace

std::string alarm_text(float v, bool upper, float threshold) {
  char value[kFloatTextRoom];
  return alarm_text_of(value, write_float_text(value, v), upper, threshold);
}

ThresholdReport evaluate_threshold(ThresholdEntry& entry, bool upper, float v) {
  bool& active = std::get<kActive>(entry);
  active = next_active(active, upper, v, std::get<kThreshold>(entry), std::get<kRecoverValue>(entry));
  // The value's text serves both the value text and the alarm text.
  char value[kFloatTextRoom];
  const char* const valueEnd = write_float_text(value, v);
  const char* const valueBegin = value;
  return ThresholdReport{active, std::string(valueBegin, valueEnd),
                         active ? alarm_text_of(valueBegin, valueEnd, upper, std::get<kThreshold>(entry)) : ""};
}

}  // namespace kvrm
