// meter-history over a simulated day (57,600 rounds): csv and plot, as the
// program runs them (a child process, output to /dev/null or a chart file)
// and the csv rows alone, without the process and the output.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "day_history.h"
#include "history_export.h"
#include "history_reader.h"
#include "history_rows.h"
#include "posix_io.h"

namespace {

// The day is written once, into a directory removed at exit.
struct Day {
  std::filesystem::path dir;
  std::string db;
  Day() {
    char pattern[] = "/tmp/bench-history-XXXXXX";
    dir = ::mkdtemp(pattern);
    db = (dir / "day.db").string();
    std::string error;
    if (!day_history::write_day(db, day_history::DaySpec{}, &error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      std::exit(1);
    }
  }
  ~Day() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
};

const Day& day() {
  static const Day d;
  return d;
}

void run_program(benchmark::State& state, const std::vector<std::string>& args) {
  std::vector<std::string> argv{METER_HISTORY_PROGRAM};
  argv.insert(argv.end(), args.begin(), args.end());
  for (auto _ : state) {
    posix_io::SpawnOptions options;
    options.stderrFile = "/dev/null";
    std::string error;
    // The program writes all its output; /dev/null takes it.
    std::vector<std::string> shell{"/bin/sh", "-c", "exec \"$0\" \"$@\" >/dev/null"};
    shell.insert(shell.end(), argv.begin(), argv.end());
    posix_io::Process p = posix_io::Process::spawn(shell, options, &error);
    const auto status = p.wait(std::chrono::minutes(5));
    if (!status || *status != 0) {
      state.SkipWithError("meter-history failed");
      return;
    }
  }
  state.counters["rows"] = day_history::kRoundsPerDay;
}

void BM_CsvDayProgram(benchmark::State& state) { run_program(state, {"csv", day().db}); }
BENCHMARK(BM_CsvDayProgram)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_PlotDayProgram(benchmark::State& state) {
  const std::string chart = (day().dir / "day.png").string();
  run_program(state, {"plot", day().db, "--signals", "A相电压,B相电压,C相电压,有功总功率", "--out", chart});
}
BENCHMARK(BM_PlotDayProgram)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// The rows of all 230 members, decoded and written as CSV text in memory.
void BM_CsvDayRows(benchmark::State& state) {
  for (auto _ : state) {
    meter_history::HistoryReader reader;
    std::string error;
    if (!reader.open(day().db, &error)) {
      state.SkipWithError(error.c_str());
      return;
    }
    meter_history::Selection selection;
    selection.signals = meter_history::all_numeric_signals();
    std::string text;
    meter_history::ReadCounts counts;
    meter_history::read_rows(
        reader, selection,
        [&](const meter_history::HistoryRow& row) {
          meter_history::append_csv_row(text, row);
          if (text.size() > (1u << 20)) text.clear();
        },
        &counts, &error);
    benchmark::DoNotOptimize(text);
  }
}
BENCHMARK(BM_CsvDayRows)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
