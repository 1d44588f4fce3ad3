// One threshold entry: hysteresis, alarm text and value text.
#include "alarms/threshold_eval.h"

#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

namespace {

struct Sequence {
  bool upper;
  float threshold, recoverValue;
  std::vector<float> values;
  std::vector<bool> active;
};

TEST(Threshold, HoldsUntilRecoverValue) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const Sequence cases[] = {
      {true, 250, 245, {249, 250, 247, 245, 246}, {false, true, true, false, false}},
      {false, 180, 185, {181, 180, 183, 185}, {false, true, true, false}},
      // NaN leaves the state as it was, in alarm or out of it.
      {true, 250, 245, {nan, 251, nan, 240, nan}, {false, true, true, false, false}},
      {false, 180, 185, {nan, 179, nan}, {false, true, true}},
      // The limits are not compared with each other.
      {true, 10, 20, {10, 15, 20, 21}, {true, false, true, true}},
  };
  for (const Sequence& c : cases) {
    bool active = false;
    for (std::size_t i = 0; i < c.values.size(); ++i) {
      active = kvrm::next_active(active, c.upper, c.values[i], c.threshold, c.recoverValue);
      EXPECT_EQ(active, c.active[i]) << "upper " << c.upper << " value #" << i << " " << c.values[i];
    }
  }
}

TEST(Threshold, FloatTexts) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  struct Case {
    float v;
    const char* text;
  } const cases[] = {
      {220.5f, "220.5"},     {0.1f, "0.100000001"},   {250.0f, "250"},        {-0.0f, "-0"},
      {230.1f, "230.100006"}, {1e-10f, "1.00000001e-10"}, {123456789.0f, "123456792"}, {nan, "nan"},
      {-nan, "-nan"},        {inf, "infinity"},       {-inf, "-infinity"},
  };
  for (const Case& c : cases) EXPECT_EQ(kvrm::float_text(c.v), c.text);
}

TEST(Threshold, AlarmTextNamesTheThreshold) {
  EXPECT_EQ(kvrm::alarm_text(251.5f, true, 250.0f), "当前值251.5高于阈值:250");
  EXPECT_EQ(kvrm::alarm_text(179.0f, false, 0.1f), "当前值179低于阈值:0.100000001");
}

TEST(Threshold, EvaluationUpdatesTheEntryAndSaysWhatToReport) {
  kvrm::ThresholdEntry entry{"0418001", 250.0f, 245.0f, false, 2};
  kvrm::ThresholdReport r = kvrm::evaluate_threshold(entry, true, 249.0f);
  EXPECT_FALSE(r.active);
  EXPECT_EQ(r.valueText, "249");
  EXPECT_EQ(r.alarmText, "");
  r = kvrm::evaluate_threshold(entry, true, 247.0f);
  EXPECT_FALSE(r.active);
  r = kvrm::evaluate_threshold(entry, true, 250.0f);
  EXPECT_TRUE(std::get<kvrm::kActive>(entry));
  EXPECT_EQ(r.alarmText, "当前值250高于阈值:250");
  // Held by the recover value, the text still names the threshold.
  r = kvrm::evaluate_threshold(entry, true, 247.0f);
  EXPECT_TRUE(r.active);
  EXPECT_EQ(r.valueText, "247");
  EXPECT_EQ(r.alarmText, "当前值247高于阈值:250");
  EXPECT_EQ(entry, (kvrm::ThresholdEntry{"0418001", 250.0f, 245.0f, true, 2}));
}

}  // namespace
