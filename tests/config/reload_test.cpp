// Configuration loaded again while rounds run their passes on another
// thread. Meaningful under ThreadSanitizer as well as natively.
#include <thread>

#include <gtest/gtest.h>

#include "config_support.h"
#include "host/recording/recording_backend.h"
#include "plugin/kvrm4410t_q.h"

namespace {

Json::Value threshold_config(int signals) {
  Json::Value config;
  config["appSetting"]["b_mode"] = 5;
  for (int i = 0; i < signals; ++i) {
    Json::Value& m = config["thresholdSetting"]["m" + std::to_string(i)];
    m["ID"] = i;
    m["SignalName"] = "s" + std::to_string(i);
    for (const auto& limit : kvrm::kLimits<kvrm::ThresholdTables>) {
      m[limit.valueKey] = 10;
      m[limit.recoverKey] = 5;
      m[limit.levelKey] = 1;
    }
  }
  return config;
}

TEST(Reload, PassesNeverSeeAHalfLoadedTable) {
  host::RecordingBackend rec;
  host::ScopedBackend scoped(rec);
  KVRM4410T_Q dev;
  kvtest::CoutCapture quiet;
  const Json::Value two = threshold_config(2), three = threshold_config(3);
  dev.InitSetting(two);
  for (int i = 0; i < 3; ++i) dev.jsonSnapshot_["s" + std::to_string(i)] = 20.0;

  constexpr int kRounds = 300;
  int torn = 0;
  std::thread rounds([&] {
    for (int r = 0; r < kRounds; ++r) {
      std::lock_guard<std::mutex> lock(dev.mutex_);
      const std::size_t n = dev.upThresholdMap_.size();
      if ((n != 2 && n != 3) || dev.up2ThresholdMap_.size() != n || dev.lowThresholdMap_.size() != n ||
          dev.low2ThresholdMap_.size() != n)
        ++torn;
      dev.CheckSignalThresholdMap(dev.upThresholdMap_, true);
      dev.CheckSignalThresholdMap(dev.up2ThresholdMap_, true);
      dev.CheckSignalThresholdMap(dev.lowThresholdMap_, false);
      dev.CheckSignalThresholdMap(dev.low2ThresholdMap_, false);
    }
  });
  for (int r = 0; r < kRounds; ++r) dev.InitSetting(r % 2 ? two : three);
  rounds.join();
  EXPECT_EQ(torn, 0);
  EXPECT_EQ(dev.upThresholdMap_.size(), 2u);
}

}  // namespace
