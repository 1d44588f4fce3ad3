#include "alarms/threshold_eval.h"

#include <cmath>

#include <boost/lexical_cast.hpp>

namespace kvrm {

bool next_active(bool active, bool upper, float v, float threshold, float recoverValue) {
  if (std::isnan(v)) return active;
  if (upper) return active ? v > recoverValue : v >= threshold;
  return active ? v < recoverValue : v <= threshold;
}

std::string float_text(float v) {
  // lexical_cast spells an infinity "inf"; the alarm texts spell it out.
  if (std::isinf(v)) return v < 0 ? "-infinity" : "infinity";
  return boost::lexical_cast<std::string>(v);
}

std::string alarm_text(float v, bool upper, float threshold) {
  return "当前值" + float_text(v) + (upper ? "高于阈值:" : "低于阈值:") + float_text(threshold);
}

ThresholdReport evaluate_threshold(ThresholdEntry& entry, bool upper, float v) {
  bool& active = std::get<kActive>(entry);
  active = next_active(active, upper, v, std::get<kThreshold>(entry), std::get<kRecoverValue>(entry));
  return ThresholdReport{active, float_text(v), active ? alarm_text(v, upper, std::get<kThreshold>(entry)) : ""};
}

}  // namespace kvrm
