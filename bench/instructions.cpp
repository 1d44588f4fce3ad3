// Instruction counts of the driver's hot paths, for bench/callgrind.sh: each
// scenario is counted by callgrind only while its measured call runs, and
// dumped under the name "<scenario> <repetitions>". Outside callgrind the
// program only runs the scenarios once (a smoke test).
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#else
#define CALLGRIND_ZERO_STATS
#define CALLGRIND_TOGGLE_COLLECT
#define CALLGRIND_DUMP_STATS_AT(name) static_cast<void>(name)
#endif

#include "bench/bench_support.h"
#include "publication/snapshot_text.h"

namespace {

using kvbench::configure;
using kvbench::round_replies;
using kvbench::run_round;

// Counts `measured` over `reps` runs, each after an uncounted `prepare`.
template <class Prepare, class Measured>
void count(const char* name, int reps, Prepare prepare, Measured measured) {
  prepare();
  measured();  // warm: first-use costs (lazy binding, first allocations) stay out
  CALLGRIND_ZERO_STATS;
  for (int i = 0; i < reps; ++i) {
    prepare();
    CALLGRIND_TOGGLE_COLLECT;
    measured();
    CALLGRIND_TOGGLE_COLLECT;
  }
  const std::string dump = std::string(name) + " " + std::to_string(reps);
  CALLGRIND_DUMP_STATS_AT(dump.c_str());
}

// The reference of the polling step: copying the registers of a round.
void copy_round(unsigned char* to, const unsigned char* from) {
  std::memcpy(to, from, 904);
  asm volatile("" : : "r"(to) : "memory");
}

}  // namespace

int main() {
  kvbench::QuietHost quiet;
  host::ScopedBackend scoped(quiet);
  kvbench::MuteStdout mute;
  auto replies = round_replies();
  std::vector<char> buf(64 * 1024);
  const auto nothing = [] {};

  {
    static unsigned char from[904], to[904];
    count("memcpy_904", 100, nothing, [&] { copy_round(to, from); });
  }
  {
    KVRM4410T_Q dev;
    for (unsigned i = 0; i < SPModbus::kResponseRegisters; ++i) dev.response_[i] = static_cast<std::uint16_t>(i * 977u);
    int state = kvrm::kFirstState;
    count(
        "polled_reply", 210, [&] {
          dev.requestState_ = state;
          state = state == kvrm::kLastState - 1 ? kvrm::kFirstState : state + 1;
        },
        [&] { dev.process_payload(SPModbus::TAB_REGISTERS, 0); });
  }
  for (int mode : {1, 3, 5}) {
    KVRM4410T_Q dev;
    configure(dev, mode);
    run_round(dev, replies);
    const std::string name = "round_mode" + std::to_string(mode);
    count(name.c_str(), 10, nothing, [&] { run_round(dev, replies); });
  }
  {
    KVRM4410T_Q dev;
    configure(dev, 5);
    run_round(dev, replies);
    count(
        "rebuild_and_fresh_writer", 5, [&] { dev.snapshotTime_ = boost::posix_time::ptime(); },
        [&] {
          dev.GenJsonData();
          const std::string text = kvrm::fast_writer_text(dev.jsonSnapshot_);
          asm volatile("" : : "r"(text.data()) : "memory");
        });
    count("text_after_round_mode5", 5, [&] { run_round(dev, replies); }, [&] { kvbench::snapshot_text(dev, buf); });
    count("text_again", 20, nothing, [&] { kvbench::snapshot_text(dev, buf); });
  }
  {
    KVRM4410T_Q dev;
    configure(dev, 3);
    run_round(dev, replies);
    count("text_after_round_mode3", 5, [&] { run_round(dev, replies); }, [&] { kvbench::snapshot_text(dev, buf); });
  }
  return 0;
}
