// Whether an analog value is due for a report.
#include "alarms/report_check.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

namespace {

TEST(Report, ChangeBandIsExclusive) {
  struct Case {
    float v;
    bool due;
  } const cases[] = {{105.0f, false}, {95.0f, false}, {100.0f, false}, {105.5f, true}, {94.5f, true},
                     {std::numeric_limits<float>::quiet_NaN(), false}};
  for (const Case& c : cases) EXPECT_EQ(kvrm::change_exceeded(100.0f, 5.0f, c.v), c.due) << c.v;
}

TEST(Report, PercentBandIsExclusive) {
  struct Case {
    float last, v;
    bool due;
  } const cases[] = {
      {200, 220, false}, {200, 180, false}, {200, 220.5f, true}, {200, 179.5f, true},
      {200, std::numeric_limits<float>::quiet_NaN(), false},
      // A negative last value puts the upper limit below the lower one.
      {-200, -200, true}, {-200, -219, true}, {-200, 0, true},
      {0, 0, false}, {0, 1e-30f, true}, {0, -1e-30f, true},
  };
  for (const Case& c : cases) EXPECT_EQ(kvrm::percent_exceeded(c.last, 10.0f, c.v), c.due) << c.last << " " << c.v;
}

TEST(Report, PercentFormsTheProductBeforeDividing) {
  // (100.1 * 3/7) / 100 rounds to 0.42900002; dividing the factor first
  // would give 0.42899996 and report 0.42899999.
  const float last = 3.0f / 7.0f;
  EXPECT_FALSE(kvrm::percent_exceeded(last, 0.1f, 0.42899999f));
  EXPECT_FALSE(kvrm::percent_exceeded(last, 0.1f, 0.42900002f));
  EXPECT_TRUE(kvrm::percent_exceeded(last, 0.1f, 0.42900005f));
}

TEST(Report, PeriodAtPresentDayClock) {
  const std::time_t now = 1700000000;
  EXPECT_FALSE(kvrm::period_elapsed(static_cast<std::uint32_t>(now - 800), 15.0f, now));
  EXPECT_TRUE(kvrm::period_elapsed(static_cast<std::uint32_t>(now - 1100), 15.0f, now));
}

TEST(Report, PeriodLimitIsRoundedOnce) {
  // 1/60 minute times 60 is 1.0000000521540642. Rounded first, it is 1,
  // and 2^24 + 1 ties down to 2^24; fused, the limit is 2^24 + 2.
  constexpr std::uint32_t last = 16777216;
  EXPECT_FALSE(kvrm::period_elapsed(last, 1.0f / 60.0f, 16777218));
  EXPECT_TRUE(kvrm::period_elapsed(last, 1.0f / 60.0f, 16777220));
}

TEST(Report, LastReportTimeIsUnsigned) {
  // Taken as signed this would be -256, long past.
  EXPECT_FALSE(kvrm::period_elapsed(0xFFFFFF00u, 15.0f, 1700000000));
}

// The fields of the host's rule that the check reads and writes.
struct ReportRule {
  bool changeEnabled = false;
  float changeDelta = 0;
  bool percentEnabled = false;
  float percentDelta = 0;
  bool periodEnabled = false;
  float periodMinutes = 0;
  std::uint32_t lastReportTime = 0;
  float lastReportValue = 0;
};

TEST(Report, OnlyEnabledTestsCount) {
  ReportRule r;
  r.lastReportValue = 100;
  r.changeDelta = 1;
  r.percentDelta = 1;
  r.periodMinutes = 1;
  EXPECT_FALSE(kvrm::report_due(r, 1000.0f, 1700000000));
  r.periodEnabled = true;
  EXPECT_TRUE(kvrm::report_due(r, 100.0f, 1700000000));
  r.periodEnabled = false;
  r.percentEnabled = true;
  EXPECT_TRUE(kvrm::report_due(r, 102.0f, 0));
  r.percentEnabled = false;
  r.changeEnabled = true;
  EXPECT_TRUE(kvrm::report_due(r, 98.5f, 0));
  EXPECT_FALSE(kvrm::report_due(r, 99.5f, 0));
}

}  // namespace
