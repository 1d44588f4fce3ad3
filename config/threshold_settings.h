#pragma once
// The limits of the JSON threshold mode: one table of the four limits and
// the loader that fills a set of threshold tables from "thresholdSetting".
#include <array>
#include <map>
#include <string>
#include <tuple>

#include <json/value.h>

namespace kvrm {

// Threshold entry: alarm id, threshold, recover value, active, alarm level.
using ThresholdEntry = std::tuple<std::string, float, float, bool, int>;
using ThresholdMap = std::map<std::string, ThresholdEntry>;
enum ThresholdField { kAlarmId = 0, kThreshold = 1, kRecoverValue = 2, kActive = 3, kAlarmLevel = 4 };

struct LimitRow {
  const char* valueKey;
  const char* recoverKey;
  const char* levelKey;
  const char* idSuffix;
  bool upper;  // alarm when the value is high
};

// In the order the tables are loaded and the passes run: Up, Up2, Low, Low2.
constexpr std::array<LimitRow, 4> kLimits = {{
    {"UpValue", "UpReconverValue", "UpAlarmLevel", "001", true},
    {"Up2Value", "Up2ReconverValue", "Up2AlarmLevel", "002", true},
    {"LowValue", "LowReconverValue", "LowAlarmLevel", "003", false},
    {"Low2Value", "Low2ReconverValue", "Low2AlarmLevel", "004", false},
}};

using ThresholdTables = std::array<ThresholdMap, kLimits.size()>;

// Adds every usable limit of every member of an object "thresholdSetting"
// to the table of its limit, under the member's "SignalName"; a later
// member replaces an earlier one's entry limit by limit. Members that are
// not objects, or lack an "ID" or "SignalName" text, are skipped; so is a
// limit with a key missing, null or empty. A key holding an array or
// object raises the JSON library's error, leaving the entries made so far.
void load_thresholds(const Json::Value& setting, ThresholdTables& tables);

}  // namespace kvrm
