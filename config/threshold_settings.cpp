#include "config/threshold_settings.h"

#include "config/settings_text.h"

namespace kvrm {

namespace {

void load_limit(const Json::Value& member, const LimitRow<ThresholdTables>& limit, const std::string& id,
                const std::string& signal, ThresholdMap& table) {
  if (!is_present(member, limit.valueKey) || !is_present(member, limit.recoverKey) ||
      !is_present(member, limit.levelKey))
    return;
  const std::string value = member[limit.valueKey].asString();
  const std::string recover = member[limit.recoverKey].asString();
  const std::string level = member[limit.levelKey].asString();
  if (value.empty() || recover.empty() || level.empty()) return;
  table[signal] = ThresholdEntry{id + limit.idSuffix, parse_float(value), parse_float(recover), false,
                                 parse_int(level)};
}

}  // namespace

void load_thresholds(const Json::Value& setting, ThresholdTables& tables) {
  for (const Json::Value& member : setting) {
    if (!member.isObject()) continue;
    // A null member's text is empty, so "present and not empty" is one test.
    const std::string id = member["ID"].asString();
    if (id.empty()) continue;
    const std::string signal = member["SignalName"].asString();
    if (signal.empty()) continue;
    for (const auto& limit : kLimits<ThresholdTables>) load_limit(member, limit, id, signal, tables.*limit.table);
  }
}

}  // namespace kvrm
