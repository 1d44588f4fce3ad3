#include "alarms/report_check.h"

#include <cmath>

namespace kvrm {

bool change_exceeded(float lastValue, float delta, float v) {
  return lastValue + delta < v || lastValue - delta > v;
}

bool percent_exceeded(float lastValue, float percent, float v) {
  const float above = (percent + 100.0f) * lastValue;
  const float below = (100.0f - percent) * lastValue;
  return above / 100.0f < v || below / 100.0f > v;
}

bool period_elapsed(std::uint32_t lastTime, float minutes, std::time_t now) {
  const float limit = std::fma(minutes, 60.0f, static_cast<float>(lastTime));
  return static_cast<float>(now) > limit;
}

}  // namespace kvrm
