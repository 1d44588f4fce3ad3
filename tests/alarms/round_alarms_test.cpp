// Configuration in, alarms out: limits and point files loaded through
// InitSetting, meter values through whole polled rounds.
#include <gtest/gtest.h>

#include "alarms/round_alarms.h"
#include "support/capture_stdout.h"
#include "support/driver_fixture.h"
#include "support/json.h"
#include "support/temp_dir.h"

namespace {

class RoundAlarms : public kvtest::DriverTest {
protected:
  // A-phase voltage in 1/10000 V, registers 366 (high half) and 367.
  void round_with_voltage(std::uint32_t raw) {
    meter.set(366, static_cast<std::uint16_t>(raw >> 16));
    meter.set(367, static_cast<std::uint16_t>(raw & 0xFFFF));
    // Rounds in one second share their time stamp; forget the last rebuild
    // so that each round publishes its own values.
    dev.snapshotTime_ = boost::posix_time::ptime();
    dev.RefreshStatus();
    host::pump(rec, dev, meter);
  }

  kvtest::TempWorkDir wd;
  kvtest::CaptureStdout quiet;
  host::MeterImage meter;
};

TEST_F(RoundAlarms, JsonLimitsRaiseHoldAndClear) {
  dev.InitSetting(kvtest::json(R"({"appSetting": {"b_mode": "5"}, "thresholdSetting": {
    "ua": {"ID": "0418", "SignalName": "A相电压", "UpValue": "230", "UpReconverValue": 225, "UpAlarmLevel": 2}}})"));
  round_with_voltage(2301000);  // 230.1
  round_with_voltage(2260000);  // 226
  round_with_voltage(2250000);  // 225
  const auto calls = rec.records_of<kvtest::recorded::CheckThresholdBool>();
  ASSERT_EQ(calls.size(), 3u);
  for (const auto& call : calls) {
    EXPECT_EQ(call.name, "A相电压");
    EXPECT_EQ(call.id, "0418001");
  }
  EXPECT_EQ(calls[0].valueText, "230.100006");
  EXPECT_EQ(calls[0].alarmText, "当前值230.100006高于阈值:230");
  EXPECT_EQ(calls[1].valueText, "226");
  EXPECT_EQ(calls[1].alarmText, "当前值226高于阈值:230");
  EXPECT_EQ(calls[2].valueText, "225");
  EXPECT_EQ(calls[2].alarmText, "");
  EXPECT_EQ(calls[0].level, 2);
  EXPECT_TRUE(calls[0].active);
  EXPECT_EQ(calls[0].flag, 1);
  EXPECT_EQ(calls[2].level, 2);
  EXPECT_FALSE(calls[2].active);
  EXPECT_EQ(calls[2].flag, 1);
}

TEST_F(RoundAlarms, PointFileSignalsReachTheHostServices) {
  wd.write("ini/kvrm4410t_q.ini", "[AI]\nA相电压 = 0101001001,Ua\n[ALARM]\ndoor = 0301001001\n");
  SMDVDevice::BAOSetting rule;
  rule.changeEnabled = true;
  rule.changeDelta = 1;
  dev.aoReportRuleMap_["0101001001"] = rule;
  dev.InitSetting(Json::Value(Json::objectValue));
  round_with_voltage(2301000);
  round_with_voltage(2305000);  // within 1 V of the value reported
  const auto thresholds = rec.records_of<kvtest::recorded::CheckThreshold>();
  ASSERT_EQ(thresholds.size(), 2u);
  EXPECT_EQ(thresholds[0].signalId, "0106001011");
  EXPECT_EQ(thresholds[0].name, "Ua");
  const auto reports = rec.records_of<kvtest::recorded::CheckAoReport>();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].signalId, "0101001001");
  EXPECT_EQ(reports[0].value, 230.10000610351562);
}

TEST(DerivedId, ReplacesOnlyThePositionsThatExist) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"abcdefghij", "abc6efgh1j"}, {"abcdefghi", "abc6efgh1"}, {"abcdefgh", "abc6efgh"},
      {"abcd", "abc6"},             {"abc", "abc"},             {"", ""},
  };
  for (const auto& [id, derived] : cases) EXPECT_EQ(kvrm::derived_signal_id(id), derived) << id;
}

}  // namespace
