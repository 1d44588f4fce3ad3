// Member values: the decodings and the single-precision scaling, exactly,
// and the text of the update time.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <json/value.h>

#include "acquisition/data_block.h"
#include "publication/signal_value.h"
#include "publication/snapshot.h"

namespace {

using Block = std::array<unsigned char, kvrm::kBlockSize>;

struct Worked {
  const char* member;
  std::vector<std::pair<unsigned, std::uint16_t>> registers;
  double expected;
};

// Values are compared for equality: each is exactly a single-precision
// number widened to double.
const Worked kWorked[] = {
    {"正向有功总电能", {{266, 0xFFFF}, {267, 0xFFFF}}, -0.009999999776482582},
    {"组合有功总电能", {{256, 0xFFFF}, {257, 0xFFFE}}, -0.019999999552965164},
    {"A相电压", {{366, 35}, {367, 7240}}, 230.10000610351562},
    {"正向有功总电能（0.001）", {{456, 1883}, {457, 52501}}, 123456.7890625},
    {"A相线电压", {{410, 0x7FFF}, {411, 0xFFFF}}, 214748.359375},
    {"总功率因数", {{402, 0xFF6A}}, -0.15000000596046448},
    {"A相功率因数", {{403, 0xFC18}}, -1.0},
    {"A相相角", {{406, 0xFFFF}}, 6553.5},
    {"B相相角", {{407, 0xFC18}}, 6453.60009765625},
    {"电网频率", {{409, 5000}}, 50.0},
    {"组合有功总电能（乘变比）", {{39424, 0x0000}, {39425, 0x3FC0}}, 1.5},
    {"组合有功尖电能（乘变比）", {{39426, 0x0000}, {39427, 0x3F80}}, 1.0},
    {"反向视在深谷电能（乘变比）", {{39644, 0x0000}, {39645, 0xC020}}, -2.5},
    {"反向视在深谷电能（0.001）", {{574, 0}, {575, 1}}, 0.0010000000474974513},
    {"4象限无功深谷电能", {{438, 0}, {439, 12345}}, 123.44999694824219},
};

Json::Value snapshot_of(const Block& block) {
  Json::Value snapshot;
  kvrm::write_snapshot(snapshot, block.data());
  return snapshot;
}

TEST(SignalValue, WorkedValuesAreExact) {
  for (const auto& w : kWorked) {
    Block block{};
    for (const auto& [reg, value] : w.registers) kvrm::write_uint16(block.data(), kvrm::register_offset(reg), value);
    const Json::Value snapshot = snapshot_of(block);
    ASSERT_TRUE(snapshot[w.member].isDouble()) << w.member;
    EXPECT_EQ(snapshot[w.member].asDouble(), w.expected) << w.member;
  }
}

TEST(SignalValue, ScalingIsSinglePrecisionThroughout) {
  // 1/3 in double would differ: the quotient is rounded to float first.
  EXPECT_EQ(kvrm::scaled_reading(1, 3.0f), static_cast<double>(1.0f / 3.0f));
  EXPECT_NE(kvrm::scaled_reading(1, 3.0f), 1.0 / 3.0);
  // The reading itself is rounded to float before the division.
  EXPECT_EQ(kvrm::scaled_reading(16777217, 1.0f), 16777216.0);
}

TEST(SignalValue, FloatsArePublishedAsTheyStandNaNIncluded) {
  Block block{};
  const std::uint32_t quietNaN = 0x7FC00000u;
  std::memcpy(block.data() + kvrm::register_offset(39424), &quietNaN, 4);
  const std::uint32_t infinity = 0x7F800000u;
  std::memcpy(block.data() + kvrm::register_offset(39426), &infinity, 4);
  const Json::Value snapshot = snapshot_of(block);
  EXPECT_TRUE(std::isnan(snapshot["组合有功总电能（乘变比）"].asDouble()));
  EXPECT_TRUE(std::isinf(snapshot["组合有功尖电能（乘变比）"].asDouble()));
}

struct Stamp {
  std::uint16_t year;
  std::uint8_t month, day, hour, minute, second;
  const char* text;
};

TEST(UpdateTime, FieldsArePlainDecimalsWithoutPadding) {
  const Stamp cases[] = {
      {2024, 3, 5, 7, 4, 9, "2024-3-5 7:4:9"},
      {2024, 12, 31, 23, 59, 59, "2024-12-31 23:59:59"},
      {2038, 1, 19, 3, 14, 8, "2038-1-19 3:14:8"},
      {0, 0, 0, 0, 0, 0, "0-0-0 0:0:0"},
      {65535, 255, 200, 128, 0, 10, "65535-255-200 128:0:10"},  // bytes above 127 stay numbers
  };
  for (const auto& c : cases) {
    Block block{};
    kvrm::write_uint16(block.data(), kvrm::kTimeOffset, c.year);
    const std::uint8_t rest[] = {c.month, c.day, c.hour, c.minute, c.second};
    std::memcpy(block.data() + kvrm::kTimeOffset + 2, rest, sizeof rest);
    EXPECT_EQ(kvrm::update_time_text(block.data()), c.text);
    EXPECT_EQ(snapshot_of(block)["更新时间"].asString(), c.text);
  }
}

TEST(Snapshot, FirstBuildHoldsExactlyTheCatalogue) {
  Block block{};
  const Json::Value snapshot = snapshot_of(block);
  ASSERT_TRUE(snapshot.isObject());
  EXPECT_EQ(snapshot.size(), 231u);
  int numbers = 0;
  for (const auto& row : kvrm::kSignalCatalogue) {
    ASSERT_TRUE(snapshot.isMember(row.name)) << row.name;
    if (snapshot[row.name].isDouble()) {
      ++numbers;
      EXPECT_EQ(snapshot[row.name].asDouble(), 0.0) << row.name;
    }
  }
  EXPECT_EQ(numbers, 230);
  EXPECT_TRUE(snapshot["更新时间"].isString());
}

TEST(Snapshot, RebuildOverwritesInPlaceAndKeepsOtherMembers) {
  Block block{};
  Json::Value snapshot;
  snapshot["点表里的名字"] = Json::Value();
  snapshot["A相电压"] = Json::Value("old");
  kvrm::write_uint16(block.data(), kvrm::register_offset(409), 5000);
  kvrm::write_snapshot(snapshot, block.data());
  EXPECT_EQ(snapshot.size(), 232u);
  EXPECT_TRUE(snapshot["点表里的名字"].isNull());
  EXPECT_EQ(snapshot["A相电压"].asDouble(), 0.0);
  EXPECT_EQ(snapshot["电网频率"].asDouble(), 50.0);
}

TEST(Snapshot, CurrentWhenBuiltForTheSameTime) {
  using boost::posix_time::ptime;
  using boost::posix_time::time_from_string;
  const ptime t = time_from_string("2024-03-05 07:04:09");
  EXPECT_TRUE(kvrm::snapshot_is_current(ptime(), ptime()));  // nothing before the first round
  EXPECT_TRUE(kvrm::snapshot_is_current(t, t));
  EXPECT_FALSE(kvrm::snapshot_is_current(t, ptime()));
  EXPECT_FALSE(kvrm::snapshot_is_current(t + boost::posix_time::seconds(1), t));
}

}  // namespace
