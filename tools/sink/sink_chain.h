#pragma once
// Hands every event to each sink in turn. Events come from the cycle loop
// and, for alarms, from the serial thread during a round's completion,
// which holds the driver's lock then: no lock of the chain's is held while
// a sink runs (a sink that reads the snapshot takes the driver's lock), so
// each sink guards its own state. The alarms of a round reach the sinks
// before the round does: the round is decided after them. A sink that
// throws is named in the log once and the others go on.
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "round_sink.h"

namespace meter_host {

class SinkChain {
public:
  using LogLine = std::function<void(const std::string&)>;
  explicit SinkChain(LogLine log = {}) : log_(std::move(log)) {}

  // Before the first event.
  void add(std::shared_ptr<RoundSink> sink);

  void started(const std::vector<MeterInfo>& meters);
  void meters_changed(const std::vector<MeterInfo>& meters);
  void round_completed(const CompletedRound& r);
  void round_abandoned(const AbandonedRound& r);
  void alarm_changed(const AlarmChange& c);
  void availability_changed(const Availability& a);
  void line_changed(const LineChange& c);
  void cycle_ended(const CycleEnd& c);
  void pausing(std::chrono::steady_clock::time_point until);
  void stopped(const RunEnd& e);

private:
  template <typename Call>
  void each(Call&& call);

  struct Entry {
    std::shared_ptr<RoundSink> sink;
    std::atomic<bool> failed{false};  // logged once
  };
  LogLine log_;
  std::vector<std::unique_ptr<Entry>> sinks_;
};

}  // namespace meter_host
