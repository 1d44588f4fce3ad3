#pragma once
// The threshold entry and the limits table: the four limits of a signal,
// each with its configuration keys, its alarm id suffix, its direction and
// the threshold table it fills and its pass walks.
#include <array>
#include <cstddef>
#include <map>
#include <string>
#include <tuple>

namespace kvrm {

// Threshold entry: alarm id, threshold, recover value, active, alarm level.
using ThresholdEntry = std::tuple<std::string, float, float, bool, int>;
using ThresholdMap = std::map<std::string, ThresholdEntry>;
enum ThresholdField { kAlarmId = 0, kThreshold = 1, kRecoverValue = 2, kActive = 3, kAlarmLevel = 4 };

// Tables: anything holding the four threshold tables under the driver's
// member names (the driver itself, or a set being loaded).
template <class Tables>
struct LimitRow {
  const char* valueKey;
  const char* recoverKey;
  const char* levelKey;
  const char* idSuffix;
  bool upper;                   // alarm when the value is high
  ThresholdMap Tables::*table;  // filled by loading, walked by the pass
};

constexpr std::size_t kLimitCount = 4;

// In the order the tables are loaded and the passes run: Up, Up2, Low, Low2.
template <class Tables>
constexpr std::array<LimitRow<Tables>, kLimitCount> kLimits = {{
    {"UpValue", "UpReconverValue", "UpAlarmLevel", "001", true, &Tables::upThresholdMap_},
    {"Up2Value", "Up2ReconverValue", "Up2AlarmLevel", "002", true, &Tables::up2ThresholdMap_},
    {"LowValue", "LowReconverValue", "LowAlarmLevel", "003", false, &Tables::lowThresholdMap_},
    {"Low2Value", "Low2ReconverValue", "Low2AlarmLevel", "004", false, &Tables::low2ThresholdMap_},
}};

// A set of the four tables apart from the driver, as loading builds it.
struct ThresholdTables {
  ThresholdMap upThresholdMap_;
  ThresholdMap up2ThresholdMap_;
  ThresholdMap lowThresholdMap_;
  ThresholdMap low2ThresholdMap_;
};

// Exchanges the four tables of two holders, limit by limit.
template <class A, class B>
void swap_threshold_tables(A& a, B& b) {
  for (std::size_t i = 0; i < kLimitCount; ++i) (a.*kLimits<A>[i].table).swap(b.*kLimits<B>[i].table);
}

}  // namespace kvrm
