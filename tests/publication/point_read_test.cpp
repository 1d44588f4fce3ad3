// Point reads: no value is ever served; the answer tells why, by data age.
#include <gtest/gtest.h>

#include <stdexcept>

#include "acquisition/round_helpers.h"
#include "publication/point_read.h"

namespace {

using boost::posix_time::microseconds;
using boost::posix_time::ptime;
using boost::posix_time::seconds;
using kvrm::PointAnswer;

TEST(PointAnswer, AgeDecidesBetweenFreshAndStale) {
  const struct {
    boost::posix_time::time_duration age;
    PointAnswer answer;
  } cases[] = {
      {seconds(0), PointAnswer::NotServed},
      {seconds(60), PointAnswer::NotServed},
      {microseconds(60'999'999), PointAnswer::NotServed},
      {microseconds(61'000'000), PointAnswer::TimedOut},
      {seconds(61), PointAnswer::TimedOut},
      {seconds(-3600), PointAnswer::NotServed},  // clock set back
      {boost::posix_time::hours(24 * 365 * 30), PointAnswer::TimedOut},
  };
  for (const auto& c : cases) EXPECT_EQ(kvrm::answer_for_age(c.age), c.answer) << c.age;
}

TEST(PointAnswer, NoStampYetIsStale) {
  const ptime now = boost::posix_time::time_from_string("2024-03-05 07:04:09");
  EXPECT_EQ(kvrm::point_read_answer(true, ptime(), [&] { return now; }), PointAnswer::TimedOut);
}

TEST(PointAnswer, NotReadyWithoutReadingTheClock) {
  bool clockRead = false;
  const auto clock = [&] {
    clockRead = true;
    return ptime();
  };
  EXPECT_EQ(kvrm::point_read_answer(false, ptime(), clock), PointAnswer::NotReady);
  EXPECT_FALSE(clockRead);
}

TEST(PointAnswer, AgesAcross2038AreCountedWhole) {
  const ptime last = boost::posix_time::time_from_string("2038-01-19 03:14:00");
  const ptime now = boost::posix_time::time_from_string("2038-01-19 03:15:01");
  EXPECT_EQ(kvrm::point_read_answer(true, last, [&] { return now; }), PointAnswer::TimedOut);
  EXPECT_EQ(kvrm::point_read_answer(true, last, [&] { return now - seconds(1); }), PointAnswer::NotServed);
}

std::string answer(const KVRM4410T_Q& dev, unsigned index = 0, const std::string& name = "") {
  try {
    dev.Get_Value(index, name);
  } catch (const std::out_of_range& e) {
    return e.what();
  }
  return "returned a value";
}

class PointRead : public kvtest::DriverTest {
protected:
  host::MeterImage meter;
};

TEST_F(PointRead, BeforeTheFirstRoundDataIsNotReady) {
  EXPECT_EQ(answer(dev), "数据未就绪");
  EXPECT_EQ(answer(dev, 7, "A相电压"), "数据未就绪");
}

TEST_F(PointRead, AfterARoundNoPointIsServed) {
  kvtest::run_round(rec, dev, meter);
  EXPECT_EQ(answer(dev), "不支持变量");
  EXPECT_EQ(answer(dev, 12345, "电网频率"), "不支持变量");
}

TEST_F(PointRead, SixtySecondsIsFreshSixtyOneIsStale) {
  kvtest::run_round(rec, dev, meter);
  for (const auto& [age, expected] : {std::pair<int, const char*>{60, "不支持变量"}, {61, "数据已超时"}, {3600, "数据已超时"}}) {
    std::string got;
    ASSERT_TRUE(kvtest::within_one_second([&](const ptime& now) {
      dev.lastUpdateTime_.store(now - seconds(age));
      got = answer(dev, 1, "A相电压");
    }).has_value());
    EXPECT_EQ(got, expected) << age;
  }
}

TEST_F(PointRead, CacheLoadMakesTheDataFresh) {
  const std::string image(kvrm::kBlockSize, '\0');
  ASSERT_TRUE(dev.LoadFromCache(image));
  EXPECT_EQ(answer(dev), "不支持变量");
}

TEST_F(PointRead, NeverTouchesTheDriver) {
  kvtest::run_round(rec, dev, meter);
  const auto before = kvtest::block_bytes(dev);
  const auto last = dev.lastUpdateTime_.load();
  rec.clear();
  answer(dev);
  EXPECT_EQ(kvtest::block_bytes(dev), before);
  EXPECT_EQ(dev.lastUpdateTime_.load(), last);
  EXPECT_TRUE(rec.records().empty());
}

}  // namespace
