#pragma once
// What the benchmarks share: a host that costs nothing, a muted standard
// output, the replies of a round, and the mode tables of the benchmarked
// rounds (20 signals, each with an upper and a lower limit in mode 5).
#include <cstdint>
#include <iostream>
#include <streambuf>
#include <string>
#include <vector>

#include <boost/date_time/posix_time/posix_time.hpp>

#include "acquisition/read_sequence.h"
#include "host/backend.h"
#include "host/recording/recording_backend.h"
#include "plugin/kvrm4410t_q.h"
#include "publication/signal_catalogue.h"

namespace kvbench {

// A host that answers like a live one (threshold services add rules) and
// costs nothing itself: no recording, no line.
class QuietHost : public host::Backend {
public:
  bool check_threshold(SMDVDevice&, const std::string&, const std::string&, float, int) override { return true; }
  bool check_threshold_bool(SMDVDevice&, int, const std::string&, const std::string&, const std::string&,
                            const std::string&, bool, unsigned short) override {
    return true;
  }
  int send_data(SMDSPDevice&, const unsigned char*, unsigned) override { return 0; }
};

// Round completion and commands print a line each; the benchmark's own
// report goes to the same stream afterwards.
class Discard : public std::streambuf {
protected:
  int overflow(int c) override { return c; }
};

class MuteStdout {
public:
  MuteStdout() : old_(std::cout.rdbuf(&discard_)) {}
  ~MuteStdout() { std::cout.rdbuf(old_); }

private:
  Discard discard_;
  std::streambuf* old_;
};

// The 22 replies of a round, values varying by register.
inline std::vector<std::vector<std::uint8_t>> round_replies() {
  std::vector<std::vector<std::uint8_t>> replies;
  for (const auto& step : kvrm::kReadSequence) {
    std::vector<std::uint16_t> regs(step.count);
    for (unsigned i = 0; i < step.count; ++i) regs[i] = static_cast<std::uint16_t>((step.start + i) * 40503u);
    replies.push_back(host::read_reply(1, regs));
  }
  return replies;
}

constexpr std::size_t kConfiguredSignals = 20;

// A point file (mode 1) or threshold tables (mode 5) over 20 of the
// instantaneous quantities.
inline void configure(KVRM4410T_Q& dev, int mode) {
  dev.b_mode_ = mode;
  for (std::size_t n = 0; n < kConfiguredSignals; ++n) {
    const std::string name = kvrm::kSignalCatalogue[kvrm::kNumericSignals - kConfiguredSignals + n].name;
    const std::string id = "00101" + std::to_string(10000 + n);
    if (mode == 1) dev.aiSignalMap_[name] = {id, name};
    if (mode == 5) {
      dev.upThresholdMap_[name] = kvrm::ThresholdEntry{id + "01", 1000.0f, 990.0f, false, 1};
      dev.lowThresholdMap_[name] = kvrm::ThresholdEntry{id + "03", -1000.0f, -990.0f, false, 1};
    }
  }
}

// A whole round: the status refresh and the 22 replies through the host's
// reply checks. The snapshot's time is forgotten first, so that every round
// counts as new even within one second.
inline void run_round(KVRM4410T_Q& dev, std::vector<std::vector<std::uint8_t>>& replies) {
  dev.snapshotTime_ = boost::posix_time::ptime();
  dev.RefreshStatus();
  for (auto& reply : replies) dev.process(reply.data(), static_cast<unsigned>(reply.size()));
}

// Command 801 into a buffer large enough; the text's length.
inline int snapshot_text(KVRM4410T_Q& dev, std::vector<char>& buf) {
  int ret = 0;
  dev.DeviceIoControl(801, nullptr, 0, buf.data(), static_cast<int>(buf.size()), ret);
  return ret;
}

}  // namespace kvbench
