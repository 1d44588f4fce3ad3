// Costs of acquisition and publication: a whole round (22 replies and round
// completion) in the point-file and threshold modes, a polled reply on its
// own, a snapshot rebuild, and a rebuild call that finds nothing new. Heap
// allocations are counted by replacing the global operator new (and
// malloc, which jsoncpp uses for its strings).
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <new>
#include <streambuf>
#include <string>
#include <vector>

#include <boost/date_time/posix_time/posix_time.hpp>

#include "bench/bench_support.h"
#include "publication/snapshot_text.h"

namespace {
std::atomic<std::uint64_t> g_allocations{0};
}  // namespace

// jsoncpp keeps its strings in malloc'ed memory, so plain malloc is counted
// too (glibc lets a program interpose it; the sanitizers bring their own).
#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define KV_COUNT_MALLOC 1
extern "C" void* __libc_malloc(std::size_t size);
extern "C" void* malloc(std::size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_malloc(size);
}
#endif

namespace {
void* raw_allocate(std::size_t size) {
#ifdef KV_COUNT_MALLOC
  return __libc_malloc(size);
#else
  return std::malloc(size);
#endif
}
}  // namespace

// GCC takes malloc'ed memory released by a replaced operator delete for a
// mismatch; here both sides are ours and agree.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = raw_allocate(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace {

using kvbench::configure;
using kvbench::MuteStdout;
using kvbench::QuietHost;
using kvbench::round_replies;
using kvbench::run_round;

std::uint64_t allocations() { return g_allocations.load(std::memory_order_relaxed); }

// The host framing one read request, measured apart: it is the host's, not
// the driver's, and the polled reply includes one.
double framing_allocations_per_request(KVRM4410T_Q& dev) {
  constexpr int n = 1000;
  const auto before = allocations();
  for (int i = 0; i < n; ++i) dev.modbus_read_registers(256, 10);
  return static_cast<double>(allocations() - before) / n;
}

void BM_Round(benchmark::State& state) {
  QuietHost quiet;
  host::ScopedBackend scoped(quiet);
  MuteStdout mute;
  KVRM4410T_Q dev;
  configure(dev, static_cast<int>(state.range(0)));
  auto replies = round_replies();
  run_round(dev, replies);  // first build of the snapshot and the rule list
  const double framing = framing_allocations_per_request(dev);

  std::uint64_t inRounds = 0;
  for (auto _ : state) {
    const auto before = allocations();
    run_round(dev, replies);
    inRounds += allocations() - before;
  }
  const double perRound = static_cast<double>(inRounds) / static_cast<double>(state.iterations());
  state.counters["allocs_per_round"] = perRound;
  state.counters["driver_allocs_per_round"] = perRound - framing * kvrm::kReadSequence.size();
}
BENCHMARK(BM_Round)->Arg(1)->Arg(3)->Arg(5)->ArgName("mode")->Unit(benchmark::kMicrosecond);

// One reply of the polling steps 11..31: the store and the next request.
void BM_PolledReply(benchmark::State& state) {
  QuietHost quiet;
  host::ScopedBackend scoped(quiet);
  KVRM4410T_Q dev;
  for (unsigned i = 0; i < SPModbus::kResponseRegisters; ++i) dev.response_[i] = static_cast<std::uint16_t>(i * 977u);
  const double framing = framing_allocations_per_request(dev);

  std::uint64_t inReplies = 0;
  int pollState = kvrm::kFirstState;
  for (auto _ : state) {
    dev.requestState_ = pollState;
    const auto before = allocations();
    benchmark::DoNotOptimize(dev.process_payload(SPModbus::TAB_REGISTERS, 0));
    inReplies += allocations() - before;
    pollState = pollState == kvrm::kLastState - 1 ? kvrm::kFirstState : pollState + 1;
  }
  const double perReply = static_cast<double>(inReplies) / static_cast<double>(state.iterations());
  state.counters["allocs_per_polled_reply"] = perReply;
  state.counters["host_framing_allocs"] = framing;
  state.counters["driver_allocs_per_polled_reply"] = perReply - framing;
}
BENCHMARK(BM_PolledReply);

void BM_Rebuild(benchmark::State& state) {
  KVRM4410T_Q dev;
  for (std::size_t off = kvrm::kImageAOffset; off < kvrm::kTimeOffset; off += 2)
    kvrm::write_uint16(dev.block(), off, static_cast<std::uint16_t>(off * 131u));
  dev.lastUpdateTime_.store(boost::posix_time::time_from_string("2024-03-05 07:04:09"));
  dev.GenJsonData();  // the members exist from here on

  std::uint64_t inRebuilds = 0;
  for (auto _ : state) {
    dev.lastUpdateTime_.store(dev.lastUpdateTime_.load() + boost::posix_time::seconds(1));
    const auto before = allocations();
    dev.GenJsonData();
    inRebuilds += allocations() - before;
  }
  state.counters["allocs_per_rebuild"] =
      benchmark::Counter(static_cast<double>(inRebuilds), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_Rebuild)->Unit(benchmark::kMicrosecond);

void BM_RebuildNothingNew(benchmark::State& state) {
  KVRM4410T_Q dev;
  dev.lastUpdateTime_.store(boost::posix_time::time_from_string("2024-03-05 07:04:09"));
  dev.GenJsonData();

  std::uint64_t inCalls = 0;
  for (auto _ : state) {
    const auto before = allocations();
    dev.GenJsonData();
    inCalls += allocations() - before;
  }
  state.counters["allocs_per_call"] = benchmark::Counter(static_cast<double>(inCalls), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_RebuildNothingNew);

// Command 801 right after a round (mode 5: the round rebuilt the snapshot),
// against its reference: a rebuild and a fresh compact writer.
void BM_SnapshotTextAfterRound(benchmark::State& state) {
  QuietHost quiet;
  host::ScopedBackend scoped(quiet);
  MuteStdout mute;
  KVRM4410T_Q dev;
  configure(dev, 5);
  auto replies = round_replies();
  std::vector<char> buf(64 * 1024);
  std::uint64_t inCommands = 0;
  for (auto _ : state) {
    state.PauseTiming();
    run_round(dev, replies);
    state.ResumeTiming();
    const auto before = allocations();
    benchmark::DoNotOptimize(kvbench::snapshot_text(dev, buf));
    inCommands += allocations() - before;
  }
  state.counters["allocs_per_command"] =
      benchmark::Counter(static_cast<double>(inCommands), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_SnapshotTextAfterRound)->Unit(benchmark::kMicrosecond);

void BM_SnapshotTextAgain(benchmark::State& state) {
  QuietHost quiet;
  host::ScopedBackend scoped(quiet);
  MuteStdout mute;
  KVRM4410T_Q dev;
  auto replies = round_replies();
  run_round(dev, replies);
  std::vector<char> buf(64 * 1024);
  kvbench::snapshot_text(dev, buf);
  std::uint64_t inCommands = 0;
  for (auto _ : state) {
    const auto before = allocations();
    benchmark::DoNotOptimize(kvbench::snapshot_text(dev, buf));
    inCommands += allocations() - before;
  }
  state.counters["allocs_per_command"] =
      benchmark::Counter(static_cast<double>(inCommands), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_SnapshotTextAgain)->Unit(benchmark::kMicrosecond);

void BM_RebuildAndFreshWriter(benchmark::State& state) {
  KVRM4410T_Q dev;
  auto replies = round_replies();
  {
    QuietHost quiet;
    host::ScopedBackend scoped(quiet);
    MuteStdout mute;
    run_round(dev, replies);
  }
  for (auto _ : state) {
    dev.snapshotTime_ = boost::posix_time::ptime();
    dev.GenJsonData();
    benchmark::DoNotOptimize(kvrm::fast_writer_text(dev.jsonSnapshot_));
  }
}
BENCHMARK(BM_RebuildAndFreshWriter)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
