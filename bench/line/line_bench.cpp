// Polling rounds over a pseudo-terminal against meter-sim, which takes as
// long as a 9600 baud line: the round time against the wire time of its 22
// exchanges (1190 bytes and 44 silences of 3.5 characters, 1.400 s at 8N1).
// What the host adds is the difference; the aim is at most 5 %.
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

namespace {

constexpr unsigned kBaud = 9600;

struct Line {
  posix_io::Process sim;
  meter_host::Log log{STDERR_FILENO};
  std::unique_ptr<meter_host::Session> session;
  unsigned round = 0;
  std::string error;

  Line(unsigned baud, bool lineSpeed) {
    std::vector<std::string> argv{LINE_BENCH_SIM, "--baud", std::to_string(baud)};
    if (lineSpeed) argv.push_back("--line-speed");
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
    setup.line.baud = baud;
    session = std::make_unique<meter_host::Session>(log);
    if (!session->start(setup, &error)) session.reset();
  }
};

void run_rounds(benchmark::State& state, unsigned baud, bool lineSpeed) {
  Line line(baud, lineSpeed);
  if (!line.session) {
    state.SkipWithError(line.error.c_str());
    return;
  }
  std::string why;
  line.session->run_round(++line.round, std::chrono::seconds(30), &why);  // the plug-in's first touches
  double seconds = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    const auto end = line.session->run_round(++line.round, std::chrono::seconds(30), &why);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (end != meter_host::RoundEnd::completed) {
      state.SkipWithError(("round abandoned: " + why).c_str());
      break;
    }
    seconds += took.count();
    state.SetIterationTime(took.count());
  }
  if (state.iterations() == 0) return;
  const double wire = std::chrono::duration<double>(rtu_line::round_wire_time(baud, false)).count();
  const double round = seconds / static_cast<double>(state.iterations());
  state.counters["wire_ms"] = wire * 1000;
  if (lineSpeed) state.counters["over_wire_pct"] = (round - wire) / wire * 100;
}

// The round as on a real line at 9600 baud.
void BM_RoundAtLineSpeed(benchmark::State& state) { run_rounds(state, kBaud, true); }
BENCHMARK(BM_RoundAtLineSpeed)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

// The same round on a pseudo-terminal that moves bytes at once: what is
// left is the host's own time, with the inter-frame silences it keeps.
void BM_RoundWithoutLineSpeed(benchmark::State& state) { run_rounds(state, kBaud, false); }
BENCHMARK(BM_RoundWithoutLineSpeed)->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return line_bench_main(argc, argv); }
