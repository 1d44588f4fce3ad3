#include "cycle_loop.h"

#include "command_line.h"
#include "command_runner.h"
#include "host_options.h"
#include "line_timing.h"

namespace meter_host {

namespace {

std::string abandon_reason(RoundEnd end, const std::string& why, std::chrono::milliseconds timeout) {
  return end == RoundEnd::timed_out ? "not complete within " + std::to_string(timeout.count()) + " ms" : why;
}

// One turn of one meter: its round, taken again while the line is lost.
// Returns false when a stop ended it.
class Turn {
public:
  // `idle` runs while the line is lost: a reload need not wait for it.
  Turn(const CycleSettings& s, RoundSource& source, SinkChain& sinks, std::function<void()> idle)
      : s_(s), source_(source), sinks_(sinks), idle_(std::move(idle)) {}

  RoundEnd run(std::size_t m, unsigned round, MeterInfo info, Clock::time_point* started, std::string* why) {
    *started = Clock::now();
    RoundEnd end = source_.run_round(round, s_.roundTimeout, why, m);
    while (end == RoundEnd::line_lost) {
      sinks_.line_changed(LineChange{true, *why, info, round});
      if (!wait_line()) return RoundEnd::stopped;
      sinks_.line_changed(LineChange{false, {}, info, round});
      *started = Clock::now();
      end = source_.run_round(round, s_.roundTimeout, why, m);
    }
    return end;
  }

private:
  // Waits in slices, saying at each that the loop is waiting, not stuck.
  bool wait_line() {
    for (;;) {
      const auto slice = Clock::now() + kLineSlice;
      sinks_.pausing(slice + kLineSlice);
      if (const auto back = source_.wait_line(slice)) return *back;
      idle_();
    }
  }
  static constexpr auto kLineSlice = std::chrono::seconds(1);

  const CycleSettings& s_;
  RoundSource& source_;
  SinkChain& sinks_;
  std::function<void()> idle_;
};

CompletedRound completed_round(RoundSource& source, std::size_t m, const MeterInfo& info,
                               unsigned round, std::chrono::milliseconds took) {
  CompletedRound r;
  r.meter = info;
  r.round = round;
  r.took = took;
  if (!source.take_block(m, &r.block, &r.time)) r.time = std::time(nullptr);
  r.readSnapshot = [&source, m](std::string* error) { return source.snapshot(error, m); };
  r.alarmsInForce = source.alarms_in_force(m);
  return r;
}

}  // namespace

std::chrono::milliseconds round_timeout(std::optional<unsigned> givenMs, const LineSettings& line) {
  if (givenMs) return std::chrono::milliseconds(*givenMs);
  const auto wire = rtu_line::round_wire_time(line.baud, line.parity != 'N');
  return std::chrono::milliseconds(22LL * line.timeoutMs) +
         2 * std::chrono::duration_cast<std::chrono::milliseconds>(wire);
}

RunEnd run_cycles(const CycleSettings& s, RoundSource& source, Stopper& stopper, SinkChain& sinks) {
  RunEnd t;
  const std::size_t n = source.meters();
  std::vector<MeterInfo> infos;
  for (std::size_t m = 0; m < n; ++m) infos.push_back(source.meter_info(m));
  sinks.started(infos);
  Turns turns(n, s.offlineRetry);
  std::vector<unsigned> rounds(n, 0);
  // A reload between two rounds: new meters take their turns from the next
  // cycle on, removed ones none.
  auto reload = [&] {
    if (!stopper.take_reload() || !s.reload || !s.reload()) return;
    const std::size_t now = source.meters();
    for (std::size_t m = infos.size(); m < now; ++m) infos.push_back(source.meter_info(m));
    turns.resize(now);
    rounds.resize(now, 0);
    std::vector<MeterInfo> active;
    for (std::size_t m = 0; m < now; ++m) {
      if (source.active(m))
        active.push_back(infos[m]);
      else
        turns.retire(m);
    }
    sinks.meters_changed(active);
  };
  Turn turn(s, source, sinks, reload);

  for (unsigned cycle = 1; s.rounds == 0 || cycle <= s.rounds; ++cycle) {
    reload();
    const auto cycleStart = Clock::now();
    // Every meter offline: the cycle begins when the first retry is due.
    const auto due = turns.next_due(cycleStart);
    if (due > cycleStart) sinks.pausing(due);
    if (stopper.requested() || stopper.wait_until(due)) {
      t.interrupted = true;
      break;
    }
    for (std::size_t m = 0; m < infos.size(); ++m) {
      if (!source.active(m) || !turns.due(m, Clock::now())) continue;
      const unsigned round = rounds[m] + 1;
      std::string why;
      Clock::time_point started;
      const MeterInfo info = infos[m];
      const RoundEnd end = turn.run(m, round, info, &started, &why);
      if (end == RoundEnd::stopped) {
        // Not a failure of the meter: neither counted nor stored.
        sinks.round_abandoned(AbandonedRound{infos[m], round, {}, why, true});
        t.interrupted = true;
        break;
      }
      rounds[m] = round;
      ++t.turns;
      const auto now = Clock::now();
      const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(now - started);
      const bool completed = end == RoundEnd::completed;
      if (completed) {
        ++t.completed;
        sinks.round_completed(completed_round(source, m, infos[m], round, took));
      } else {
        sinks.round_abandoned(AbandonedRound{infos[m], round, took, abandon_reason(end, why, s.roundTimeout), false});
      }
      const TurnChange change = turns.record(m, completed, now);
      if (change != TurnChange::none)
        sinks.availability_changed(Availability{infos[m], change == TurnChange::back_online, std::time(nullptr)});
    }
    if (t.interrupted) break;
    t.cycles = cycle;
    std::size_t online = 0, active = 0;
    for (std::size_t m = 0; m < infos.size(); ++m) {
      if (!source.active(m)) continue;
      ++active;
      online += turns.offline(m) ? 0 : 1;
    }
    sinks.cycle_ended(CycleEnd{cycle, active, online});
    if (s.rounds != 0 && cycle == s.rounds) break;
    const auto next = cycleStart + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s.interval));
    sinks.pausing(next);
    if (stopper.wait_until(next)) {
      t.interrupted = true;
      break;
    }
  }
  sinks.stopped(t);
  return t;
}

void add_cycle_options(CLI::App& app, HostOptions& o, const std::string& group) {
  cli::add_whole(app, "--rounds", [&o](long long v) { o.rounds = static_cast<unsigned>(v); }, 0, 1000000000,
                 "cycles to run, each giving every online meter one round;\n0: until interrupted (default 0)")
      ->group(group);
  app.add_option("--interval", o.interval, "pause between two cycles (default 1)")
      ->check(cli::seconds(86400))
      ->type_name("SECONDS")
      ->group(group);
  app.add_flag("--publish-every-round", o.publishEveryRound,
               "start each round of a meter in a later second than its last\n"
               "completed one: the driver stamps rounds to the second and\n"
               "publishes one per second, so every round is then published\n"
               "and checked (at most one round per second)")
      ->group(group);
  app.add_option("--offline-retry", o.offlineRetry,
                 "a meter offline after 3 failed rounds in a row is tried\nagain this often (default 30)")
      ->check(cli::seconds(86400))
      ->type_name("SECONDS")
      ->group(group);
  cli::add_whole(app, "--round-timeout-ms", [&o](long long v) { o.roundTimeoutMs = static_cast<unsigned>(v); }, 1,
                 86400000, "a round not complete by then is abandoned\n(default: 22 reply time-outs plus twice the wire time)")
      ->group(group);
}

}  // namespace meter_host
