// Four meters on one 9600-baud line: meter-sim serving slaves 1..4 at line
// speed, the bench host taking their rounds in turn. Each meter's round
// period (one cycle) against the wire time of four rounds, 4 x 1.400 s; the
// aim is at most 1.05 x. Then with slave 4 silent: while it is online each
// cycle costs one reply time-out more; once offline, almost nothing.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <ext/stdio_filebuf.h>

#include <chrono>
#include <iostream>
#include <memory>
#include <string>

#include "host_log.h"
#include "line_timing.h"
#include "posix_io.h"
#include "report_main.h"
#include "session.h"
#include "turns.h"

namespace {

constexpr unsigned kBaud = 9600;
constexpr unsigned kMeters = 4;
constexpr unsigned kTimeoutMs = 1000;

struct Bus {
  posix_io::Process sim;
  meter_host::Log log{STDERR_FILENO};
  std::unique_ptr<meter_host::Session> session;
  // The same turns as meter-host: a meter offline after 3 failed rounds,
  // retried every 30 s.
  meter_host::Turns turns{kMeters, std::chrono::seconds(30)};
  std::vector<unsigned> rounds = std::vector<unsigned>(kMeters, 0);
  std::string error;

  explicit Bus(bool silentLast) {
    std::vector<std::string> argv{LINE_BENCH_SIM, "--slave", "1,2,3,4", "--baud", std::to_string(kBaud),
                                  "--line-speed"};
    if (silentLast) argv.insert(argv.end(), {"--fault", "no-reply@4"});
    posix_io::SpawnOptions o;
    o.pipeStdout = true;
    sim = posix_io::Process::spawn(argv, o, &error);
    posix_io::LineReader reader(sim.stdout_fd());
    const auto path = reader.read_line(posix_io::Clock::now() + std::chrono::seconds(10));
    if (!path) {
      error = "meter-sim did not start";
      return;
    }
    meter_host::SessionSetup setup;
    setup.pluginPath = LINE_BENCH_PLUGIN;
    setup.line.port = *path;
    setup.line.baud = kBaud;
    setup.line.timeoutMs = kTimeoutMs;
    for (unsigned s = 1; s <= kMeters; ++s) setup.meters.push_back(meter_host::MeterSetup{s, s, Json::Value(Json::objectValue)});
    session = std::make_unique<meter_host::Session>(log);
    if (!session->start(setup, &error)) session.reset();
  }

  // One cycle; the number of rounds that failed.
  unsigned cycle() {
    unsigned failed = 0;
    for (std::size_t m = 0; m < kMeters; ++m) {
      if (!turns.due(m, meter_host::Clock::now())) continue;
      std::string why;
      const auto end = session->run_round(++rounds[m], std::chrono::seconds(60), &why, m);
      const bool completed = end == meter_host::RoundEnd::completed;
      failed += completed ? 0 : 1;
      turns.record(m, completed, meter_host::Clock::now());
    }
    return failed;
  }
};

// `warmup` cycles first (the plug-in's first touches; a silent meter's
// way to offline), then timed cycles.
void run_cycles(benchmark::State& state, bool silentLast, unsigned warmup, double goalMeters) {
  Bus bus(silentLast);
  if (!bus.session) {
    state.SkipWithError(bus.error.c_str());
    return;
  }
  for (unsigned i = 0; i < warmup; ++i) bus.cycle();
  double seconds = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    const unsigned failed = bus.cycle();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (failed > (silentLast ? 1u : 0u)) {
      state.SkipWithError("a round of an answering meter failed");
      break;
    }
    seconds += took.count();
    state.SetIterationTime(took.count());
  }
  if (state.iterations() == 0) return;
  const double round = std::chrono::duration<double>(rtu_line::round_wire_time(kBaud, false)).count();
  // What the cycle may cost: the wire time of the answering meters' rounds,
  // plus one reply time-out and one request while the silent meter is
  // still polled.
  double goal = goalMeters * round;
  if (silentLast && warmup < meter_host::kFailedRoundsOffline)
    goal += kTimeoutMs / 1000.0 + std::chrono::duration<double>(rtu_line::wire_time(8, kBaud, false)).count();
  const double period = seconds / static_cast<double>(state.iterations());
  state.counters["period_s"] = period;
  state.counters["wire_s"] = goal;
  state.counters["ratio"] = period / goal;
}

void BM_FourMetersAtLineSpeed(benchmark::State& state) { run_cycles(state, false, 1, kMeters); }
BENCHMARK(BM_FourMetersAtLineSpeed)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

// Slave 4 silent and still online: its first request times out each cycle.
void BM_OneSilentMeterOnline(benchmark::State& state) { run_cycles(state, true, 0, kMeters - 1); }
BENCHMARK(BM_OneSilentMeterOnline)->Iterations(2)->UseManualTime()->Unit(benchmark::kMillisecond);

// Slave 4 offline after three failed rounds, its retry not yet due.
void BM_OneSilentMeterOffline(benchmark::State& state) {
  run_cycles(state, true, meter_host::kFailedRoundsOffline, kMeters - 1);
}
BENCHMARK(BM_OneSilentMeterOffline)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return line_bench_main(argc, argv); }
