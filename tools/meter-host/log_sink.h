#pragma once
// The log lines of rounds, alarms, meters going offline and the line.
#include <string>
#include <vector>

#include "host_log.h"
#include "round_sink.h"

namespace meter_host {

class LogSink : public RoundSink {
public:
  // `several`: a line with several meters, whose lines name the meter.
  LogSink(Log& log, bool several) : log_(log), several_(several) {}
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
};

}  // namespace meter_host
