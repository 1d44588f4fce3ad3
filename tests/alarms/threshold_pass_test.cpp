// The threshold pass of the driver over one table, against a hand-made
// snapshot, reported through the recording back end.
#include <gtest/gtest.h>

#include "support/driver_fixture.h"

namespace {

using kvrm::ThresholdEntry;
namespace recorded = kvtest::recorded;

class ThresholdPass : public kvtest::DriverTest {
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
};

TEST_F(ThresholdPass, EveryEvaluatedEntryIsReportedInOrAlarmOrNot) {
  const double values[] = {249, 250, 247, 245, 246};
  for (double v : values) {
    dev.jsonSnapshot_["A相电压"] = v;
    pass(dev.upThresholdMap_, true);
  }
  const auto calls = rec.records_of<recorded::CheckThresholdBool>();
  ASSERT_EQ(calls.size(), 5u);
  const struct {
    const char* valueText;
    const char* alarmText;
    bool active;
  } expected[] = {{"249", "", false},
                  {"250", "当前值250高于阈值:250", true},
                  {"247", "当前值247高于阈值:250", true},
                  {"245", "", false},
                  {"246", "", false}};
  for (std::size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(calls[i].name, "A相电压") << i;
    EXPECT_EQ(calls[i].id, "0418001") << i;
    EXPECT_EQ(calls[i].valueText, expected[i].valueText) << i;
    EXPECT_EQ(calls[i].alarmText, expected[i].alarmText) << i;
    EXPECT_EQ(calls[i].level, 2) << i;
    EXPECT_EQ(calls[i].active, expected[i].active) << i;
    EXPECT_EQ(calls[i].flag, 1) << i;
  }
}

TEST_F(ThresholdPass, LowerTableUsesTheLowerText) {
  kvrm::ThresholdMap low{{"A相电压", ThresholdEntry{"0418003", 180.0f, 185.0f, false, 1}}};
  dev.jsonSnapshot_["A相电压"] = 179.5;
  pass(low, false);
  const auto calls = rec.records_of<recorded::CheckThresholdBool>();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].alarmText, "当前值179.5低于阈值:180");
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
  const auto calls = rec.records_of<recorded::CheckThresholdBool>();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].name, "A相电压");
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
  const auto calls = rec.records_of<recorded::CheckThresholdBool>();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].name, "A");
  EXPECT_EQ(calls[0].id, "a");
  EXPECT_EQ(calls[0].valueText, "7");
  EXPECT_EQ(calls[0].alarmText, "当前值7高于阈值:1");
  EXPECT_EQ(calls[1].name, "B");
  EXPECT_EQ(calls[1].id, "b");
  EXPECT_EQ(calls[1].valueText, "0.100000001");
  EXPECT_EQ(calls[1].alarmText, "当前值0.100000001高于阈值:0.100000001");
}

TEST_F(ThresholdPass, NullSnapshotReportsNothing) {
  dev.jsonSnapshot_ = Json::Value();
  pass(dev.upThresholdMap_, true);
  EXPECT_EQ(rec.count("check_threshold_bool"), 0u);
  EXPECT_TRUE(dev.jsonSnapshot_.isNull());
}

}  // namespace
