// What a chart of a day keeps of its 57,600 points: every peak and dip.
#include <gtest/gtest.h>

#include <cmath>

#include "history_plot.h"

namespace {

using meter_history::min_max_points;
using meter_history::PlotPoint;

std::vector<PlotPoint> wave(std::size_t n) {
  std::vector<PlotPoint> points;
  for (std::size_t i = 0; i < n; ++i) points.push_back({static_cast<std::int64_t>(i), std::sin(i * 0.01)});
  return points;
}

TEST(PlotPoints, FewPointsStayAsTheyAre) {
  const auto points = wave(100);
  const auto kept = min_max_points(points, 50);
  ASSERT_EQ(kept.size(), points.size());
  for (std::size_t i = 0; i < kept.size(); ++i) EXPECT_EQ(kept[i].y, points[i].y);
}

TEST(PlotPoints, ASingleSpikeAndDipSurviveInTimeOrder) {
  auto points = wave(57600);
  points[30001].y = 1000.0;
  points[30000].y = -1000.0;
  const auto kept = min_max_points(points, 1280);
  EXPECT_LE(kept.size(), 2u * 1280);
  std::size_t dip = kept.size(), spike = kept.size();
  for (std::size_t i = 0; i < kept.size(); ++i) {
    if (kept[i].y == -1000.0) dip = i;
    if (kept[i].y == 1000.0) spike = i;
    if (i > 0) {
      EXPECT_LE(kept[i - 1].x, kept[i].x) << i;
    }
  }
  ASSERT_LT(dip, kept.size());
  EXPECT_EQ(spike, dip + 1);
  EXPECT_EQ(kept[spike].x, 30001);
}

TEST(PlotPoints, ARunWithoutValuesLeavesAGap) {
  auto points = wave(4000);
  for (std::size_t i = 0; i < 2000; ++i) points[i].y = std::nan("");
  const auto kept = min_max_points(points, 10);
  ASSERT_GE(kept.size(), 6u);
  EXPECT_TRUE(std::isnan(kept[0].y));
  EXPECT_TRUE(std::isfinite(kept.back().y));
}

}  // namespace
