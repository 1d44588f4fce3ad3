// The analog report check of the driver against the host's rule table.
#include <ctime>

#include <gtest/gtest.h>

#include "support/driver_fixture.h"

namespace {

using Rule = SMDVDevice::BAOSetting;

Rule change_rule(float last, float delta) {
  Rule r;
  r.changeEnabled = true;
  r.changeDelta = delta;
  r.lastReportValue = last;
  return r;
}

class AoReport : public kvtest::DriverTest {
protected:
  int check(const std::string& fallbackId, const std::string& signalId, float v) {
    std::lock_guard<std::mutex> lock(dev.mutex_);
    return dev.CheckAOReport(fallbackId, signalId, v);
  }
};

TEST_F(AoReport, EmptyTableReportsNothingAndInsertsNothing) {
  EXPECT_EQ(check("abc6efgh1j", "abcdefghij", 1000.0f), 0);
  EXPECT_TRUE(dev.aoReportRuleMap_.empty());
  EXPECT_EQ(rec.count("check_ao_report"), 0u);
}

TEST_F(AoReport, NoRuleUnderEitherId) {
  dev.aoReportRuleMap_["other"] = change_rule(0, 1);
  EXPECT_EQ(check("abc6efgh1j", "abcdefghij", 1000.0f), 0);
  EXPECT_EQ(dev.aoReportRuleMap_.size(), 1u);
}

TEST_F(AoReport, ReportRecordsTheValueAndTimeAndCallsTheHost) {
  dev.aoReportRuleMap_["abcdefghij"] = change_rule(100, 5);
  const std::time_t before = std::time(nullptr);
  EXPECT_EQ(check("abc6efgh1j", "abcdefghij", 105.5f), 1);
  const Rule& r = dev.aoReportRuleMap_.at("abcdefghij");
  EXPECT_EQ(r.lastReportValue, 105.5f);
  EXPECT_GE(r.lastReportTime, static_cast<std::uint32_t>(before));
  EXPECT_LE(r.lastReportTime, static_cast<std::uint32_t>(std::time(nullptr)));
  const auto calls = rec.records_of<kvtest::recorded::CheckAoReport>();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].signalId, "abcdefghij");
  EXPECT_EQ(calls[0].value, 105.5);
}

TEST_F(AoReport, NextValueIsComparedWithTheValueJustReported) {
  dev.aoReportRuleMap_["s"] = change_rule(100, 5);
  EXPECT_EQ(check("f", "s", 110.0f), 1);
  EXPECT_EQ(check("f", "s", 104.0f), 1);  // more than 5 below 110
  EXPECT_EQ(check("f", "s", 108.0f), 0);  // within 5 of 104
  EXPECT_EQ(dev.aoReportRuleMap_.at("s").lastReportValue, 104.0f);
  EXPECT_EQ(rec.count("check_ao_report"), 2u);
}

TEST_F(AoReport, FallbackRuleIsCopiedOnceAndNeverUpdated) {
  Rule fallback = change_rule(100, 5);
  fallback.lastReportTime = 12345;
  dev.aoReportRuleMap_["abc6efgh1j"] = fallback;
  EXPECT_EQ(check("abc6efgh1j", "abcdefghij", 101.0f), 0);
  ASSERT_EQ(dev.aoReportRuleMap_.count("abcdefghij"), 1u);
  EXPECT_EQ(dev.aoReportRuleMap_.at("abcdefghij").lastReportTime, 12345u);
  EXPECT_EQ(check("abc6efgh1j", "abcdefghij", 120.0f), 1);
  dev.aoReportRuleMap_.at("abc6efgh1j").changeDelta = 1000;  // the copy is independent
  EXPECT_EQ(check("abc6efgh1j", "abcdefghij", 130.0f), 1);
  const Rule& kept = dev.aoReportRuleMap_.at("abc6efgh1j");
  EXPECT_EQ(kept.lastReportValue, 100.0f);
  EXPECT_EQ(kept.lastReportTime, 12345u);
  EXPECT_EQ(dev.aoReportRuleMap_.at("abcdefghij").lastReportValue, 130.0f);
}

// At present-day clock values the period test resolves 128 seconds, so the
// exact edges are pinned with a fixed clock in Report.PeriodAtPresentDayClock;
// here the host clock is far on either side.
TEST_F(AoReport, PeriodAgainstTheClock) {
  Rule r;
  r.periodEnabled = true;
  r.periodMinutes = 15;
  r.lastReportTime = static_cast<std::uint32_t>(std::time(nullptr));
  dev.aoReportRuleMap_["s"] = r;
  EXPECT_EQ(check("f", "s", 1.0f), 0);
  dev.aoReportRuleMap_["s"].lastReportTime -= 3600;
  EXPECT_EQ(check("f", "s", 1.0f), 1);
  EXPECT_EQ(check("f", "s", 1.0f), 0);
}

}  // namespace
