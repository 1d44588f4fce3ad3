// Configuration in, alarms out: limits and point files loaded through
// InitSetting, meter values through whole polled rounds.
#include <gtest/gtest.h>

#include "alarms/round_alarms.h"
#include "config/config_support.h"
#include "host/recording/recording_backend.h"
#include "plugin/kvrm4410t_q.h"

namespace {

class RoundAlarms : public ::testing::Test {
protected:
  RoundAlarms() { dev.dataId_ = 12; }

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
  kvtest::CoutCapture quiet;
  host::RecordingBackend rec;
  host::ScopedBackend scoped{rec};
  host::MeterImage meter;
  KVRM4410T_Q dev;
};

TEST_F(RoundAlarms, JsonLimitsRaiseHoldAndClear) {
  dev.InitSetting(kvtest::json(R"({"appSetting": {"b_mode": "5"}, "thresholdSetting": {
    "ua": {"ID": "0418", "SignalName": "A相电压", "UpValue": "230", "UpReconverValue": 225, "UpAlarmLevel": 2}}})"));
  round_with_voltage(2301000);  // 230.1
  round_with_voltage(2260000);  // 226
  round_with_voltage(2250000);  // 225
  const auto calls = rec.calls("check_threshold_bool");
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].texts, (std::vector<std::string>{"A相电压", "0418001", "230.100006", "当前值230.100006高于阈值:230"}));
  EXPECT_EQ(calls[1].texts, (std::vector<std::string>{"A相电压", "0418001", "226", "当前值226高于阈值:230"}));
  EXPECT_EQ(calls[2].texts, (std::vector<std::string>{"A相电压", "0418001", "225", ""}));
  EXPECT_EQ(calls[0].ints, (std::vector<long long>{2, 1, 1}));
  EXPECT_EQ(calls[2].ints, (std::vector<long long>{2, 0, 1}));
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
  const auto thresholds = rec.calls("check_threshold");
  ASSERT_EQ(thresholds.size(), 2u);
  EXPECT_EQ(thresholds[0].texts, (std::vector<std::string>{"0106001011", "Ua"}));
  const auto reports = rec.calls("check_ao_report");
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].texts, std::vector<std::string>{"0101001001"});
  EXPECT_EQ(reports[0].reals, std::vector<double>{230.10000610351562});
}

TEST(DerivedId, ReplacesOnlyThePositionsThatExist) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"abcdefghij", "abc6efgh1j"}, {"abcdefghi", "abc6efgh1"}, {"abcdefgh", "abc6efgh"},
      {"abcd", "abc6"},             {"abc", "abc"},             {"", ""},
  };
  for (const auto& [id, derived] : cases) EXPECT_EQ(kvrm::derived_signal_id(id), derived) << id;
}

}  // namespace
