#include "alarms/threshold_eval.h"

#include <cmath>

namespace kvrm {

bool next_active(bool active, bool upper, float v, float threshold, float recoverValue) {
  if (std::isnan(v)) return active;
  if (upper) return active ? v > recoverValue : v >= threshold;
  return active ? v < recoverValue : v <= threshold;
}

std::string alarm_text(float v, bool upper, float threshold) {
  char value[kFloatTextRoom];
  char limit[kFloatTextRoom];
  const char* const valueEnd = write_float_text(value, v);
  const char* const limitEnd = write_float_text(limit, threshold);
  const char* const valueBegin = value;
  const char* const limitBegin = limit;
  std::string text("当前值");
  text.append(valueBegin, valueEnd).append(upper ? "高于阈值:" : "低于阈值:").append(limitBegin, limitEnd);
  return text;
}

ThresholdReport evaluate_threshold(ThresholdEntry& entry, bool upper, float v) {
  bool& active = std::get<kActive>(entry);
  active = next_active(active, upper, v, std::get<kThreshold>(entry), std::get<kRecoverValue>(entry));
  return ThresholdReport{active, float_text(v), active ? alarm_text(v, upper, std::get<kThreshold>(entry)) : ""};
}

}  // namespace kvrm
