// The JSON threshold mode: limits from "thresholdSetting" into the four
// threshold tables.
#include "config/threshold_settings.h"

#include <cmath>

#include <gtest/gtest.h>

#include "config_support.h"
#include "host/recording/recording_backend.h"
#include "plugin/kvrm4410t_q.h"

namespace {

using kvrm::ThresholdEntry;
using kvrm::ThresholdMap;
using Lines = std::vector<std::string>;

kvrm::ThresholdTables load(const std::string& setting) {
  kvrm::ThresholdTables tables;
  kvrm::load_thresholds(kvtest::json(setting), tables);
  return tables;
}

TEST(ThresholdSettings, NumbersAndStringsGiveTheSameEntries) {
  const auto tables = load(R"({
    "m1": {"ID": "0418", "SignalName": "A相电压",
           "UpValue": 250, "UpReconverValue": 245.5, "UpAlarmLevel": 2,
           "Up2Value": "260", "Up2ReconverValue": " 255.5", "Up2AlarmLevel": "3",
           "LowValue": "180V", "LowReconverValue": 185, "LowAlarmLevel": "1.9",
           "Low2Value": "x", "Low2ReconverValue": "0.1", "Low2AlarmLevel": -4}})");
  EXPECT_EQ(tables.upThresholdMap_, (ThresholdMap{{"A相电压", ThresholdEntry{"0418001", 250.0f, 245.5f, false, 2}}}));
  EXPECT_EQ(tables.up2ThresholdMap_, (ThresholdMap{{"A相电压", ThresholdEntry{"0418002", 260.0f, 255.5f, false, 3}}}));
  EXPECT_EQ(tables.lowThresholdMap_, (ThresholdMap{{"A相电压", ThresholdEntry{"0418003", 180.0f, 185.0f, false, 1}}}));
  EXPECT_EQ(tables.low2ThresholdMap_, (ThresholdMap{{"A相电压", ThresholdEntry{"0418004", 0.0f, 0.1f, false, -4}}}));
}

TEST(ThresholdSettings, OnlyCompleteLimitsMakeEntries) {
  const auto tables = load(R"({
    "m1": {"ID": "7", "SignalName": "s", "UpValue": 1, "UpReconverValue": 1, "UpAlarmLevel": 1,
           "Up2Value": 1, "Up2ReconverValue": 1, "Up2AlarmLevel": "",
           "LowValue": 1, "LowReconverValue": null, "LowAlarmLevel": 1,
           "Low2Value": 1, "Low2AlarmLevel": 1}})");
  EXPECT_EQ(tables.upThresholdMap_.size(), 1u);
  EXPECT_TRUE(tables.up2ThresholdMap_.empty());
  EXPECT_TRUE(tables.lowThresholdMap_.empty());
  EXPECT_TRUE(tables.low2ThresholdMap_.empty());
}

TEST(ThresholdSettings, NumericIdGivesItsDecimalText) {
  const auto tables = load(R"({"m": {"ID": 12, "SignalName": "s", "LowValue": 1, "LowReconverValue": 2,
                                     "LowAlarmLevel": 3}})");
  EXPECT_EQ(std::get<kvrm::kAlarmId>(tables.lowThresholdMap_.at("s")), "12003");
}

TEST(ThresholdSettings, MembersWithoutIdOrNameOrNotObjectsAreSkipped) {
  const std::string limit = R"("UpValue": 1, "UpReconverValue": 1, "UpAlarmLevel": 1)";
  const auto tables = load("{\"a\": {\"SignalName\": \"s1\", " + limit + "}, \"b\": {\"ID\": \"\", \"SignalName\": \"s2\", " +
                           limit + "}, \"c\": {\"ID\": \"1\", " + limit + "}, \"d\": {\"ID\": \"1\", \"SignalName\": \"\", " +
                           limit + "}, \"e\": [1], \"f\": \"text\", \"g\": {\"ID\": \"1\", \"SignalName\": \"ok\", " + limit +
                           "}}");
  EXPECT_EQ(tables.upThresholdMap_.size(), 1u);
  EXPECT_EQ(tables.upThresholdMap_.count("ok"), 1u);
}

// Members are visited in ascending member name; the later one wins limit by
// limit, so "b" replaces the Up limit of "a" but leaves its Low limit.
TEST(ThresholdSettings, SameSignalNameLaterMemberWinsLimitByLimit) {
  const auto tables = load(R"({
    "b": {"ID": "B", "SignalName": "s", "UpValue": 2, "UpReconverValue": 2, "UpAlarmLevel": 2},
    "a": {"ID": "A", "SignalName": "s", "UpValue": 1, "UpReconverValue": 1, "UpAlarmLevel": 1,
          "LowValue": 1, "LowReconverValue": 1, "LowAlarmLevel": 1}})");
  EXPECT_EQ(std::get<kvrm::kAlarmId>(tables.upThresholdMap_.at("s")), "B001");
  EXPECT_EQ(std::get<kvrm::kAlarmId>(tables.lowThresholdMap_.at("s")), "A003");
}

TEST(ThresholdSettings, ArrayWhereATextIsNeededStopsWithTheEntriesSoFar) {
  kvrm::ThresholdTables tables;
  const Json::Value setting = kvtest::json(R"({
    "a": {"ID": "A", "SignalName": "s1", "UpValue": 1, "UpReconverValue": 1, "UpAlarmLevel": 1},
    "b": {"ID": "B", "SignalName": "s2", "UpValue": 1, "UpReconverValue": 1, "UpAlarmLevel": 1,
          "LowValue": [1], "LowReconverValue": 1, "LowAlarmLevel": 1},
    "c": {"ID": "C", "SignalName": "s3", "UpValue": 1, "UpReconverValue": 1, "UpAlarmLevel": 1}})");
  EXPECT_THROW(kvrm::load_thresholds(setting, tables), Json::LogicError);
  EXPECT_EQ(tables.upThresholdMap_.size(), 2u);  // a and the Up limit of b
  EXPECT_EQ(tables.upThresholdMap_.count("s3"), 0u);
  // A limit with a null key is not read any further, so its array is harmless.
  EXPECT_NO_THROW(load(R"({"a": {"ID": "A", "SignalName": "s", "UpValue": [1], "UpAlarmLevel": 1}})"));
}

class ThresholdMode : public ::testing::Test {
protected:
  ThresholdMode() { dev.dataId_ = 12; }

  host::RecordingBackend rec;
  host::ScopedBackend scoped{rec};
  KVRM4410T_Q dev;
};

TEST_F(ThresholdMode, SecondLoadReplacesTheFirstAndPrintsOnlyTheModeLine) {
  kvtest::CoutCapture out;
  dev.InitSetting(kvtest::json(R"({"appSetting":{"b_mode":5}, "thresholdSetting": {
    "m": {"ID": "1", "SignalName": "s1", "UpValue": 1, "UpReconverValue": 1, "UpAlarmLevel": 1,
          "Low2Value": 1, "Low2ReconverValue": 1, "Low2AlarmLevel": 1}}})"));
  std::get<kvrm::kActive>(dev.upThresholdMap_.at("s1")) = true;
  dev.InitSetting(kvtest::json(R"({"appSetting":{"b_mode":"5"}, "thresholdSetting": {
    "m": {"ID": "2", "SignalName": "s2", "UpValue": 1, "UpReconverValue": 1, "UpAlarmLevel": 1}}})"));
  EXPECT_EQ(dev.upThresholdMap_, (ThresholdMap{{"s2", ThresholdEntry{"2001", 1.0f, 1.0f, false, 1}}}));
  EXPECT_TRUE(dev.low2ThresholdMap_.empty());
  EXPECT_EQ(out.lines(), (Lines{"InitSetting 12 b_mode_:5", "InitSetting 12 b_mode_:5"}));
  EXPECT_EQ(rec.count("init_setting"), 2u);
}

TEST_F(ThresholdMode, MissingOrNonObjectSettingEmptiesTheTables) {
  dev.upThresholdMap_["old"] = ThresholdEntry{"x", 1, 1, true, 1};
  dev.low2ThresholdMap_["old"] = ThresholdEntry{"x", 1, 1, true, 1};
  kvtest::CoutCapture quiet;
  dev.InitSetting(kvtest::json(R"({"appSetting":{"b_mode":5}, "thresholdSetting": [1]})"));
  EXPECT_TRUE(dev.upThresholdMap_.empty());
  EXPECT_TRUE(dev.low2ThresholdMap_.empty());
  EXPECT_EQ(rec.count("init_setting"), 1u);
}

TEST_F(ThresholdMode, JsonErrorLeavesTheEntriesSoFarAndSkipsTheBaseStep) {
  dev.upThresholdMap_["old"] = ThresholdEntry{"x", 1, 1, true, 1};
  kvtest::CoutCapture quiet;
  EXPECT_THROW(dev.InitSetting(kvtest::json(R"({"appSetting":{"b_mode":5}, "thresholdSetting": {
    "a": {"ID": "A", "SignalName": "s1", "UpValue": 1, "UpReconverValue": 1, "UpAlarmLevel": 1},
    "b": {"ID": "B", "SignalName": {"deep": [[[]]]}}}})")),
               Json::LogicError);
  EXPECT_EQ(dev.upThresholdMap_.size(), 1u);
  EXPECT_EQ(dev.upThresholdMap_.count("s1"), 1u);
  EXPECT_EQ(rec.count("init_setting"), 0u);
}

TEST_F(ThresholdMode, HugeAndDeeplyNestedValues) {
  Json::Value deep;  // 10000 levels of arrays where a limit's text is needed
  Json::Value* at = &deep;
  for (int i = 0; i < 10000; ++i) at = &(*at)[0];
  const std::string longId(1 << 20, '9');
  Json::Value config = kvtest::json(R"({"appSetting":{"b_mode":5}})");
  Json::Value& member = config["thresholdSetting"]["m"];
  member["ID"] = longId;
  member["SignalName"] = "s";
  member["UpValue"] = 1e300;            // beyond float: infinity
  member["UpReconverValue"] = "-1e999";  // beyond double: strtod's -HUGE_VAL
  member["UpAlarmLevel"] = "99999999999";
  kvtest::CoutCapture quiet;
  dev.InitSetting(config);
  const ThresholdEntry& up = dev.upThresholdMap_.at("s");
  EXPECT_EQ(std::get<kvrm::kAlarmId>(up), longId + "001");
  EXPECT_EQ(std::get<kvrm::kThreshold>(up), HUGE_VALF);
  EXPECT_EQ(std::get<kvrm::kRecoverValue>(up), -HUGE_VALF);
  EXPECT_EQ(std::get<kvrm::kAlarmLevel>(up), INT_MAX);

  member["LowValue"] = deep;
  member["LowReconverValue"] = 1;
  member["LowAlarmLevel"] = 1;
  EXPECT_THROW(dev.InitSetting(config), Json::LogicError);
  EXPECT_EQ(dev.upThresholdMap_.count("s"), 1u);
}

}  // namespace
