#pragma once
// Whether an analog value is due for a report under the host's rule: all
// in single precision, strict comparisons throughout.
#include <cstdint>
#include <ctime>

namespace kvrm {

// last + delta < v, or last - delta > v.
bool change_exceeded(float lastValue, float delta, float v);

// (percent + 100) * last / 100 < v, or (100 - percent) * last / 100 > v,
// each product formed before the division.
bool percent_exceeded(float lastValue, float percent, float v);

// now > lastTime + minutes * 60, the limit rounded once (fused
// multiply-add) from the last report time as an unsigned number. At
// present-day clock values a float resolves 128 seconds.
bool period_elapsed(std::uint32_t lastTime, float minutes, std::time_t now);

// Rule: the host's analog report setting (changeEnabled, changeDelta,
// percentEnabled, percentDelta, periodEnabled, periodMinutes,
// lastReportTime, lastReportValue).
template <class Rule>
bool report_due(const Rule& r, float v, std::time_t now) {
  return (r.changeEnabled && change_exceeded(r.lastReportValue, r.changeDelta, v)) ||
         (r.percentEnabled && percent_exceeded(r.lastReportValue, r.percentDelta, v)) ||
         (r.periodEnabled && period_elapsed(r.lastReportTime, r.periodMinutes, now));
}

}  // namespace kvrm
