#pragma once
// What leaves a session: one call per event, in the order they happened.
// The cycle loop and the host back end call a SinkChain; every output (the
// log lines, the snapshot and table output, the statistics, the history,
// and what the site daemon adds) implements RoundSink and never learns of
// the others. A sink that does I/O copies what it needs and does the work
// on its own thread or in a batch: the caller is the round's thread.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace meter_host {

// One meter of the session, as the sinks name it.
struct MeterInfo {
  std::size_t index = 0;  // in the order of the set-up
  std::uint32_t dataId = 1;
  unsigned slave = 1;
  std::string name;  // "meter D (slave S)"
};

// An alarm raised or cleared, as the host's threshold service saw it.
struct AlarmEvent {
  std::uint32_t dataId = 0;
  std::string alarmId;
  std::string signal;
  int level = 0;
  bool raised = false;  // false: cleared
  std::string valueText;
  std::string alarmText;
};

struct CompletedRound {
  MeterInfo meter;
  unsigned round = 0;
  std::time_t time = 0;  // the block's time stamp, local clock
  std::vector<unsigned char> block;  // the block as the driver sent it
  std::chrono::milliseconds took{0};
  std::vector<AlarmEvent> alarmsInForce;

  // The text of command 801 after this round, read from the driver when a
  // sink first asks for it; only from round_completed, on the round's
  // thread. Nothing, with the reason in `error`, when it could not be read.
  const std::string* snapshot(std::string* error) const;
  std::function<std::optional<std::string>(std::string*)> readSnapshot;

private:
  mutable bool read_ = false;
  mutable std::optional<std::string> snapshot_;
  mutable std::string snapshotError_;
};

struct AbandonedRound {
  MeterInfo meter;
  unsigned round = 0;
  std::chrono::milliseconds took{0};
  std::string why;
  // Stopped before it ended: not a failure of the meter, not counted.
  bool stopped = false;
};

struct AlarmChange {
  MeterInfo meter;
  std::time_t time = 0;
  AlarmEvent event;
};

struct Availability {
  MeterInfo meter;
  bool online = false;
  std::time_t since = 0;
};

struct LineChange {
  bool lost = false;  // false: back
  std::string why;
  // The round the loss broke, taken again once the line is back.
  MeterInfo meter;
  unsigned round = 0;
};

struct CycleEnd {
  unsigned cycle = 0;
  std::size_t meters = 0;
  std::size_t online = 0;
};

struct RunEnd {
  unsigned cycles = 0;
  unsigned turns = 0;  // rounds started and ended, every meter together
  unsigned completed = 0;
  bool interrupted = false;
};

class RoundSink {
public:
  virtual ~RoundSink() = default;
  // For the log line of a sink that fails.
  virtual const char* sink_name() const = 0;

  virtual void started(const std::vector<MeterInfo>&) {}
  // A reload changed the meters: every meter now on the line (a removed one
  // is no longer in it; indices stay).
  virtual void meters_changed(const std::vector<MeterInfo>&) {}
  virtual void round_completed(const CompletedRound&) {}
  virtual void round_abandoned(const AbandonedRound&) {}
  virtual void alarm_changed(const AlarmChange&) {}
  virtual void availability_changed(const Availability&) {}
  virtual void line_changed(const LineChange&) {}
  virtual void cycle_ended(const CycleEnd&) {}
  // The loop waits on purpose until then (the pause between cycles, a
  // lost line): quiet, not stuck.
  virtual void pausing(std::chrono::steady_clock::time_point) {}
  // The last event: a sink with a thread of its own finishes its work.
  virtual void stopped(const RunEnd&) {}
};

}  // namespace meter_host
