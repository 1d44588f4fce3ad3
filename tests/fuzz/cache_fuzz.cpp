// A cached block of arbitrary bytes, then the snapshot text of command 801.
// The first byte chooses the mode whose round work runs on each loaded
// block (point-file mode over every signal with report rules, threshold
// mode over every signal with limits taken from the input); then come four
// limit values and the bytes. The bytes are loaded as given (mostly the
// wrong size, refused), then cut or padded to a block. (The snapshot is
// rebuilt at most once per second, so one driver sees one block's alarms.)
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>

#include "acquisition/data_block.h"
#include "config/limits.h"
#include "config/modes.h"
#include "control/command_codes.h"
#include "fuzz_input.h"
#include "publication/signal_catalogue.h"
#include "support/driver.h"

namespace {

constexpr int kModes[] = {kvrm::kPointFileMode, kvrm::kThresholdMode, kvrm::kListingMode, 0};
constexpr const char* kAnalogId = "0406101001";

float any_float(kvfuzz::Input& in) {
  const std::uint32_t bits = in.u32();
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

void point_file_tables(KVRM4410T_Q& dev) {
  for (const kvrm::SignalRow& row : kvrm::kSignalCatalogue) dev.aiSignalMap_[row.name] = {kAnalogId, row.name};
  SMDVDevice::BAOSetting rule;
  rule.changeEnabled = rule.percentEnabled = rule.periodEnabled = true;
  rule.changeDelta = 0.5f;
  rule.percentDelta = 1.0f;
  rule.periodMinutes = 1.0f;
  dev.aoReportRuleMap_[kAnalogId] = rule;
}

void threshold_tables(KVRM4410T_Q& dev, kvfuzz::Input& in) {
  const float up = any_float(in), upRecover = any_float(in), low = any_float(in), lowRecover = any_float(in);
  for (const kvrm::SignalRow& row : kvrm::kSignalCatalogue) {
    dev.upThresholdMap_[row.name] = {"1001", up, upRecover, false, 1};
    dev.up2ThresholdMap_[row.name] = {"1002", up, upRecover, false, 2};
    dev.lowThresholdMap_[row.name] = {"1003", low, lowRecover, false, 3};
    dev.low2ThresholdMap_[row.name] = {"1004", low, lowRecover, false, 4};
  }
}

void snapshot_text(KVRM4410T_Q& dev) {
  static char out[1 << 16];
  int outLenRet = 0;
  const int result = dev.DeviceIoControl(kvrm::kSnapshotText, nullptr, 0, out, sizeof out, outLenRet);
  if (result != 0 || outLenRet <= 0 || out[outLenRet - 1] != '\n') std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kvfuzz::drop_stdout();
  kvfuzz::Input in(data, size);
  kvtest::Driver<> driver;
  KVRM4410T_Q& dev = driver.dev;
  dev.b_mode_ = kModes[in.byte() % 4];
  if (dev.b_mode_ == kvrm::kPointFileMode) point_file_tables(dev);
  threshold_tables(dev, in);  // read in every mode, so the bytes after them mean the same

  const std::string bytes = in.rest();
  const bool taken = dev.LoadFromCache(bytes);
  if (taken != (bytes.size() == kvrm::kBlockSize)) std::abort();
  snapshot_text(dev);

  std::string block = bytes.substr(0, kvrm::kBlockSize);
  block.resize(kvrm::kBlockSize, '\0');
  if (!dev.LoadFromCache(reinterpret_cast<const unsigned char*>(block.data()), static_cast<int>(block.size())))
    std::abort();
  snapshot_text(dev);
  return 0;
}
