#pragma once
// The log lines of rounds, alarms, meters going offline and the line.
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "host_log.h"
#include "round_sink.h"

namespace meter_host {

class LogSink : public RoundSink {
public:
  // `several`: a line with several meters, whose lines name the meter.
  // `quiet(meter, on)` silences the line's own lines about a meter while it
  // is offline: its condition was said once.
  LogSink(Log& log, bool several, std::function<void(std::size_t, bool)> quiet = {})
      : log_(log), several_(several), quiet_(std::move(quiet)) {}
  const char* sink_name() const override { return "log"; }
  void round_completed(const CompletedRound& r) override;
  void round_abandoned(const AbandonedRound& r) override;
  void alarm_changed(const AlarmChange& c) override;
  void availability_changed(const Availability& a) override;
  void line_changed(const LineChange& c) override;

private:
  // "meter D (slave S): " on a line with several meters, nothing with one.
  std::string label(const MeterInfo& m) const { return several_ ? m.name + ": " : std::string(); }

  Log& log_;
  bool several_;
  std::function<void(std::size_t, bool)> quiet_;
  std::set<std::size_t> offline_;
};

}  // namespace meter_host
