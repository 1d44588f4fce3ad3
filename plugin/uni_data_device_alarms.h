#pragma once
// Threshold passes and the analog report check of UniDataDevice. Round
// completion runs both with the driver mutex held; neither takes it.
#include <ctime>

#include "alarms/report_check.h"
#include "alarms/threshold_eval.h"

template <class Data, class Base, unsigned DataId>
void UniDataDevice<Data, Base, DataId>::CheckSignalThresholdMap(kvrm::ThresholdMap& table, bool upper) {
  for (auto& [signal, entry] : table) {
    // The non-inserting lookup: a signal the snapshot lacks is skipped and
    // stays out of the snapshot.
    const Json::Value* member = jsonSnapshot_.find(signal.data(), signal.data() + signal.size());
    if (member == nullptr || !member->isNumeric()) continue;
    const kvrm::ThresholdReport report = kvrm::evaluate_threshold(entry, upper, member->asFloat());
    this->CheckThresholdBool(std::get<kvrm::kAlarmLevel>(entry), signal, std::get<kvrm::kAlarmId>(entry),
                             report.valueText, report.alarmText, report.active, 1);
  }
}

template <class Data, class Base, unsigned DataId>
int UniDataDevice<Data, Base, DataId>::CheckAOReport(const std::string& fallbackId, const std::string& signalId,
                                                     float value) {
  auto& rules = this->aoReportRuleMap_;
  if (rules.empty()) return 0;
  auto rule = rules.find(signalId);
  if (rule == rules.end()) {
    // A signal without its own rule starts from a copy of the fallback's,
    // last report included; from then on the two are independent.
    const auto fallback = rules.find(fallbackId);
    if (fallback == rules.end()) return 0;
    rule = rules.emplace(signalId, fallback->second).first;
  }
  const std::time_t now = std::time(nullptr);
  if (!kvrm::report_due(rule->second, value, now)) return 0;
  rule->second.lastReportValue = value;
  rule->second.lastReportTime = static_cast<std::uint32_t>(now);
  Base::CheckAOReport(signalId, value);
  return 1;
}
