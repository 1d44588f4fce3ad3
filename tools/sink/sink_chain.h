#pragma once
// Hands every event to each sink in turn. Events come from the cycle loop
// and, for alarms, from the serial thread during a round's completion: one
// lock keeps them in order. A sink that throws is named in the log once and
// the others go on.
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "round_sink.h"

namespace meter_host {

class SinkChain {
public:
  using LogLine = std::function<void(const std::string&)>;
  explicit SinkChain(LogLine log = {}) : log_(std::move(log)) {}

  void add(std::shared_ptr<RoundSink> sink);

  void started(const std::vector<MeterInfo>& meters);
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
    bool failed = false;  // logged once
  };
  LogLine log_;
  std::mutex mutex_;
  std::vector<Entry> sinks_;
};

}  // namespace meter_host
