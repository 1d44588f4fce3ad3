// What the history costs the flash: one meter's rounds stored as the sink
// stores them (a commit every commitSeconds, pruning every minute), on
// simulated time, with every byte and sync SQLite sends to the files
// counted. An hour and a half of rounds at 2.4 s, and a year at 2 s.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "counting_vfs.h"
#include "day_history.h"
#include "history_sink.h"
#include "history_store.h"

namespace {

namespace fs = std::filesystem;

struct Scratch {
  fs::path dir;
  Scratch() {
    char pattern[] = "/var/tmp/bench-history-writes-XXXXXX";
    dir = ::mkdtemp(pattern);
  }
  ~Scratch() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
};

std::uint64_t file_bytes(const fs::path& db) {
  std::error_code ec;
  std::uint64_t total = 0;
  for (const char* suffix : {"", "-wal"}) {
    const auto size = fs::file_size(db.string() + suffix, ec);
    if (!ec) total += size;
  }
  return total;
}

struct Run {
  double roundSeconds;
  std::uint64_t rounds;
  // Called after each simulated day with the day's number and the file.
  void (*eachDay)(std::uint64_t day, const fs::path& db) = nullptr;
};

struct Outcome {
  history_bench::WriteCounts counts;
  std::uint64_t fileBytes = 0;
  std::uint64_t largestBytes = 0;  // over the run, at the end of each day
  std::chrono::duration<double, std::milli> slowestPrune{0};  // one pass: kPruneSteps deletions
  bool ok = true;
};

// The rounds of one meter from 2026-01-01 00:00 local time on.
Outcome store_rounds(const fs::path& db, const Run& run) {
  Outcome out;
  history_bench::reset_write_counts();
  auto store = std::make_unique<hist::HistoryStore>();
  std::string error;
  if (!store->open(db.string(), &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    out.ok = false;
    return out;
  }
  const hist::HistoryOptions defaults;
  store->set_retention(hist::retention_of(defaults));
  std::tm start{};
  start.tm_year = 126;
  start.tm_mday = 1;
  start.tm_isdst = -1;
  const std::int64_t t0 = std::mktime(&start);

  // The blocks of one simulated day, made once: a year of rounds repeats
  // them at the time of day they belong to, stamped with their own time.
  const day_history::DaySpec plan;
  static std::vector<std::vector<unsigned char>> day;
  if (day.empty()) {
    double energy[6] = {0, 0, 0, 0, 0, 0};
    for (unsigned n = 0; n < day_history::kRoundsPerDay; ++n) {
      day.emplace_back(kvrm::kBlockSize);
      day_history::make_block(day.back().data(), plan, n, energy);
    }
  }
  hist::Batch batch;
  double nextCommit = defaults.commitSeconds;
  double nextPrune = static_cast<double>(hist::kPruneEvery.count());
  bool pruneMore = false;
  std::uint64_t days = 0;
  for (std::uint64_t n = 0; n < run.rounds; ++n) {
    const double at = static_cast<double>(n) * run.roundSeconds;
    const auto time = t0 + static_cast<std::int64_t>(at);
    const auto index = static_cast<std::size_t>(std::fmod(at, 86400.0) / day_history::kRoundSeconds);
    batch.rounds.push_back(hist::StoredRound{plan.dataId, time, day[index]});
    if (at < nextCommit) continue;
    nextCommit += defaults.commitSeconds;
    out.ok = store->commit(batch, &error);
    batch = {};
    if (out.ok && (pruneMore || at >= nextPrune)) {
      nextPrune = at + static_cast<double>(hist::kPruneEvery.count());
      const auto began = std::chrono::steady_clock::now();
      out.ok = store->prune(time, hist::kPruneSteps, &pruneMore, &error);
      out.slowestPrune = std::max<std::chrono::duration<double, std::milli>>(
          out.slowestPrune, std::chrono::steady_clock::now() - began);
    }
    if (!out.ok) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return out;
    }
    if (static_cast<std::uint64_t>(at / 86400) > days) {
      days = static_cast<std::uint64_t>(at / 86400);
      out.largestBytes = std::max(out.largestBytes, file_bytes(db));
      if (run.eachDay) run.eachDay(days, db);
    }
  }
  out.ok = store->commit(batch, &error) && store->write_open_periods(&error);
  store.reset();  // the last checkpoint is written too
  out.counts = history_bench::write_counts();
  out.fileBytes = file_bytes(db);
  out.largestBytes = std::max(out.largestBytes, out.fileBytes);
  return out;
}

void BM_HoursOfOneMeterAt2_4s(benchmark::State& state) {
  const Run run{2.4, 3600};
  Outcome out;
  for (auto _ : state) {
    Scratch scratch;
    out = store_rounds(scratch.dir / "h.db", run);
  }
  if (!out.ok) state.SkipWithError("storing failed");
  const double hours = run.rounds * run.roundSeconds / 3600.0;
  state.counters["rounds"] = static_cast<double>(run.rounds);
  state.counters["bytes_per_round"] = static_cast<double>(out.counts.bytes) / run.rounds;
  state.counters["syncs_per_hour"] = static_cast<double>(out.counts.syncs) / hours;
  state.counters["file_KiB"] = static_cast<double>(out.fileBytes) / 1024.0;
}
BENCHMARK(BM_HoursOfOneMeterAt2_4s)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

void print_month(std::uint64_t day, const fs::path& db) {
  if (day % 30 == 0) std::fprintf(stderr, "day %3llu: %.1f MiB\n", static_cast<unsigned long long>(day),
                                  static_cast<double>(file_bytes(db)) / (1 << 20));
}

void BM_YearOfOneMeterAt2s(benchmark::State& state) {
  const std::uint64_t days = state.range(0);
  const Run run{2.0, days * 43200, print_month};
  Outcome out;
  for (auto _ : state) {
    Scratch scratch;
    out = store_rounds(scratch.dir / "h.db", run);
  }
  if (!out.ok) state.SkipWithError("storing failed");
  state.counters["days"] = static_cast<double>(days);
  state.counters["file_MiB"] = static_cast<double>(out.fileBytes) / (1 << 20);
  state.counters["largest_MiB"] = static_cast<double>(out.largestBytes) / (1 << 20);
  state.counters["bytes_per_round"] = static_cast<double>(out.counts.bytes) / run.rounds;
  state.counters["slowest_prune_ms"] = out.slowestPrune.count();
}
BENCHMARK(BM_YearOfOneMeterAt2s)->Arg(40)->Arg(365)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  history_bench::install_counting_vfs();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
