// The threshold pass of the driver over one table, against a hand-made
// snapshot, reported through the recording back end.
#include <gtest/gtest.h>

#include "host/recording/recording_backend.h"
#include "plugin/kvrm4410t_q.h"

namespace {

using kvrm::ThresholdEntry;

class ThresholdPass : public ::testing::Test {
protected:
  ThresholdPass() {
    dev.jsonSnapshot_["A相电压"] = 230.10000610351562;
    dev.jsonSnapshot_["更新时间"] = "2024-3-5 7:4:9";
    dev.upThresholdMap_["A相电压"] = ThresholdEntry{"0418001", 250.0f, 245.0f, false, 2};
  }

  void pass(kvrm::ThresholdMap& table, bool upper) {
    std::lock_guard<std::mutex> lock(dev.mutex_);
    dev.CheckSignalThresholdMap(table, upper);
  }

  host::RecordingBackend rec;
  host::ScopedBackend scoped{rec};
  KVRM4410T_Q dev;
};

TEST_F(ThresholdPass, EveryEvaluatedEntryIsReportedInOrAlarmOrNot) {
  const double values[] = {249, 250, 247, 245, 246};
  for (double v : values) {
    dev.jsonSnapshot_["A相电压"] = v;
    pass(dev.upThresholdMap_, true);
  }
  const auto calls = rec.calls("check_threshold_bool");
  ASSERT_EQ(calls.size(), 5u);
  const struct {
    const char* valueText;
    const char* alarmText;
    int active;
  } expected[] = {{"249", "", 0},
                  {"250", "当前值250高于阈值:250", 1},
                  {"247", "当前值247高于阈值:250", 1},
                  {"245", "", 0},
                  {"246", "", 0}};
  for (std::size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(calls[i].texts, (std::vector<std::string>{"A相电压", "0418001", expected[i].valueText,
                                                        expected[i].alarmText}));
    EXPECT_EQ(calls[i].ints, (std::vector<long long>{2, expected[i].active, 1}));
  }
}

TEST_F(ThresholdPass, LowerTableUsesTheLowerText) {
  kvrm::ThresholdMap low{{"A相电压", ThresholdEntry{"0418003", 180.0f, 185.0f, false, 1}}};
  dev.jsonSnapshot_["A相电压"] = 179.5;
  pass(low, false);
  const auto calls = rec.calls("check_threshold_bool");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].texts[3], "当前值179.5低于阈值:180");
  EXPECT_TRUE(std::get<kvrm::kActive>(low.at("A相电压")));
}

TEST_F(ThresholdPass, MissingAndTextSignalsAreSkippedAndKeepTheirState) {
  dev.upThresholdMap_["无此信号"] = ThresholdEntry{"x001", 1.0f, 1.0f, true, 1};
  dev.upThresholdMap_["更新时间"] = ThresholdEntry{"y001", 1.0f, 1.0f, true, 1};
  dev.jsonSnapshot_["空"] = Json::Value();
  dev.upThresholdMap_["空"] = ThresholdEntry{"z001", 1.0f, 1.0f, true, 1};
  dev.jsonSnapshot_["布尔"] = true;
  dev.upThresholdMap_["布尔"] = ThresholdEntry{"w001", 1.0f, 1.0f, true, 1};
  pass(dev.upThresholdMap_, true);
  const auto calls = rec.calls("check_threshold_bool");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].texts[0], "A相电压");
  for (const char* skipped : {"无此信号", "更新时间", "空", "布尔"})
    EXPECT_TRUE(std::get<kvrm::kActive>(dev.upThresholdMap_.at(skipped))) << skipped;
  // The lookup does not add the missing signal to the snapshot.
  EXPECT_FALSE(dev.jsonSnapshot_.isMember("无此信号"));
}

TEST_F(ThresholdPass, ValueIsReadAsAFloatAndEntriesGoInKeyOrder) {
  dev.jsonSnapshot_["B"] = 0.1;
  dev.jsonSnapshot_["A"] = 7;  // an integer member counts as a number
  kvrm::ThresholdMap table{{"B", ThresholdEntry{"b", 0.1f, 0.0f, false, 1}},
                           {"A", ThresholdEntry{"a", 1.0f, 0.0f, false, 1}}};
  pass(table, true);
  const auto calls = rec.calls("check_threshold_bool");
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].texts, (std::vector<std::string>{"A", "a", "7", "当前值7高于阈值:1"}));
  EXPECT_EQ(calls[1].texts, (std::vector<std::string>{"B", "b", "0.100000001", "当前值0.100000001高于阈值:0.100000001"}));
}

TEST_F(ThresholdPass, NullSnapshotReportsNothing) {
  dev.jsonSnapshot_ = Json::Value();
  pass(dev.upThresholdMap_, true);
  EXPECT_EQ(rec.count("check_threshold_bool"), 0u);
  EXPECT_TRUE(dev.jsonSnapshot_.isNull());
}

}  // namespace
