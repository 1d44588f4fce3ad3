#pragma once
// The cycles of a session: every meter that is due takes one round, in the
// order of the set-up; a round broken by a lost line is taken again once it
// is back. What the rounds leave goes to the sinks, in the order it
// happened; the loop itself writes nothing.
#include <chrono>
#include <cstddef>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli_fwd.h"
#include "line_settings.h"
#include "round_sink.h"
#include "serial_worker.h"
#include "sink_chain.h"
#include "turns.h"

namespace meter_host {

struct HostOptions;
// --rounds, --interval, --publish-every-round, --offline-retry,
// --round-timeout-ms.
void add_cycle_options(CLI::App& app, HostOptions& o, const std::string& group);

class Stopper;

// What the loop needs of the meters on a line: the session, or a test's
// script.
class RoundSource {
public:
  virtual ~RoundSource() = default;
  virtual std::size_t meters() const = 0;
  // A meter a reload removed takes no more turns.
  virtual bool active(std::size_t) const { return true; }
  virtual MeterInfo meter_info(std::size_t meter) const = 0;
  virtual RoundEnd run_round(unsigned round, std::chrono::milliseconds timeout, std::string* why,
                             std::size_t meter) = 0;
  // Waits until a lost line is back: true; false when stopped first;
  // nothing when `until` came first.
  virtual std::optional<bool> wait_line(Clock::time_point until) = 0;
  // The block the round that just completed sent, and its time stamp.
  virtual bool take_block(std::size_t meter, std::vector<unsigned char>* block, std::time_t* time) = 0;
  // The text of command 801.
  virtual std::optional<std::string> snapshot(std::string* error, std::size_t meter) = 0;
  virtual std::vector<AlarmEvent> alarms_in_force(std::size_t meter) = 0;
};

struct CycleSettings {
  // Reads the site again when a reload was asked for (between two rounds);
  // true when the meters changed.
  std::function<bool()> reload;
  unsigned rounds = 0;  // cycles, 0: until stopped
  double interval = 1.0;  // seconds from one cycle's start to the next
  std::chrono::milliseconds roundTimeout{1000};
  Clock::duration offlineRetry = std::chrono::seconds(30);
};

// --round-timeout-ms, else 22 reply time-outs plus twice the round's wire
// time.
std::chrono::milliseconds round_timeout(std::optional<unsigned> givenMs, const LineSettings& line);

RunEnd run_cycles(const CycleSettings& settings, RoundSource& source, Stopper& stopper, SinkChain& sinks);

}  // namespace meter_host
