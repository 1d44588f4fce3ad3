#include "config/settings_text.h"

#include <climits>
#include <cmath>
#include <cstdlib>

namespace kvrm {

int parse_int(const std::string& text) {
  const long v = std::strtol(text.c_str(), nullptr, 10);
  return v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : static_cast<int>(v);
}

float parse_float(const std::string& text) {
  const double v = std::strtod(text.c_str(), nullptr);
  // Halfway between the largest float and the next power of two: from here
  // on, round-to-nearest gives infinity.
  constexpr double kFloatOverflow = 0x1.ffffffp+127;
  if (std::fabs(v) >= kFloatOverflow) return v > 0 ? HUGE_VALF : -HUGE_VALF;
  return static_cast<float>(v);
}

bool is_present(const Json::Value& object, const char* key) { return !object[key].isNull(); }

std::optional<int> configured_mode(const Json::Value& config) {
  const Json::Value& app = config["appSetting"];
  if (!app.isObject() || !is_present(app, "b_mode")) return std::nullopt;
  return parse_int(app["b_mode"].asString());
}

}  // namespace kvrm
