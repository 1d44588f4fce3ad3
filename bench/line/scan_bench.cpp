// The scan's sweep of one speed and parity against meter-sim at line
// speed: its time against the physical least, addresses x (request wire
// time + reply time-out). The aim is at most 1.1 x that.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>
#include <vector>

#include "modbus_line.h"
#include "posix_io.h"
#include "report_main.h"
#include "scan.h"
#include "sweep.h"

namespace {

constexpr unsigned kTimeoutMs = 100;

// Sweeps addresses 1..addresses with one meter at `meter` (0: none),
// meter-sim and the line at `baud` 8E1.
void run_sweeps(benchmark::State& state, unsigned baud, unsigned addresses, unsigned meter) {
  std::vector<std::string> argv{SCAN_BENCH_SIM, "--baud", std::to_string(baud), "--parity", "E", "--line-speed",
                                "--slave", std::to_string(meter ? meter : 247)};
  posix_io::SpawnOptions o;
  o.pipeStdout = true;
  std::string error;
  posix_io::Process sim = posix_io::Process::spawn(argv, o, &error);
  posix_io::LineReader reader(sim.stdout_fd());
  const auto path = reader.read_line(posix_io::Clock::now() + std::chrono::seconds(10));
  if (!path) {
    state.SkipWithError("meter-sim did not start");
    return;
  }
  meter_host::LineSettings settings;
  settings.port = *path;
  settings.baud = baud;
  settings.parity = 'E';
  settings.timeoutMs = kTimeoutMs;
  meter_host::ModbusLine line;
  if (!line.open(settings, &error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  std::vector<unsigned> slaves;
  for (unsigned s = 1; s <= addresses; ++s) slaves.push_back(s);
  double seconds = 0;
  for (auto _ : state) {
    const commissioning::Sweep sweep = commissioning::sweep(line, slaves);
    if (sweep.present.size() != (meter ? 1u : 0u)) {
      state.SkipWithError("the meter did not answer, or another did");
      break;
    }
    const double took = std::chrono::duration<double>(sweep.took).count();
    seconds += took;
    state.SetIterationTime(took);
  }
  if (state.iterations() == 0) return;
  const double limit = std::chrono::duration<double>(commissioning::sweep_limit(
                                                         addresses, commissioning::Combination{baud, 'E'},
                                                         std::chrono::milliseconds(kTimeoutMs)))
                           .count();
  state.counters["limit_ms"] = limit * 1000;
  state.counters["x_limit"] = seconds / static_cast<double>(state.iterations()) / limit;
}

// 30 silent addresses at 9600 baud.
void BM_SweepSilent9600(benchmark::State& state) { run_sweeps(state, 9600, 30, 0); }
BENCHMARK(BM_SweepSilent9600)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

// 30 addresses at 2400 baud, where the request's wire time weighs most.
void BM_SweepSilent2400(benchmark::State& state) { run_sweeps(state, 2400, 30, 0); }
BENCHMARK(BM_SweepSilent2400)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

// 30 addresses at 19200 baud, one of them a meter that answers.
void BM_SweepWithAMeter19200(benchmark::State& state) { run_sweeps(state, 19200, 30, 17); }
BENCHMARK(BM_SweepWithAMeter19200)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return line_bench_main(argc, argv); }
