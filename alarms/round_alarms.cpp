#include "alarms/round_alarms.h"

namespace kvrm {

std::string derived_signal_id(const std::string& signalId) {
  std::string id = signalId;
  if (id.size() > 3) id[3] = '6';
  if (id.size() > 8) id[8] = '1';
  return id;
}

std::optional<float> alarm_value(const Json::Value& member) {
  if (!member.isNumeric()) return std::nullopt;
  return member.asFloat();
}

}  // namespace kvrm
