// The driver's snapshot: built from rounds run through the recording host,
// at most once per round time stamp, never cleared.
#include <gtest/gtest.h>

#include <atomic>
#include <sstream>
#include <thread>

#include "acquisition/round_helpers.h"
#include "publication/signal_catalogue.h"

namespace {

using boost::posix_time::seconds;

// The worked registers of the meter, everything else zero.
host::MeterImage worked_meter() {
  host::MeterImage m;
  m.set(266, 0xFFFF), m.set(267, 0xFFFF);  // 正向有功总电能 -0.01
  m.set(366, 35), m.set(367, 7240);        // A相电压 230.1
  m.set(456, 1883), m.set(457, 52501);     // 正向有功总电能（0.001） 123456789
  m.set(402, 0xFF6A);                      // 总功率因数 -0.15
  m.set(406, 0xFFFF);                      // A相相角 6553.5
  m.set(409, 5000);                        // 电网频率 50
  m.set(39424, 0x0000), m.set(39425, 0x3FC0);  // 组合有功总电能（乘变比） 1.5
  return m;
}

std::string stamp_text(const boost::posix_time::ptime& t) {
  std::ostringstream s;
  s << t.date().year() << '-' << t.date().month().as_number() << '-' << t.date().day() << ' '
    << t.time_of_day().hours() << ':' << t.time_of_day().minutes() << ':' << t.time_of_day().seconds();
  return s.str();
}

class DriverSnapshot : public kvtest::DriverTest {
protected:
  host::MeterImage meter = worked_meter();

  void round() { kvtest::run_round(rec, dev, meter); }
  double value(const char* member) { return dev.jsonSnapshot_[member].asDouble(); }
};

TEST_F(DriverSnapshot, NullUntilARoundHasCompleted) {
  EXPECT_TRUE(dev.jsonSnapshot_.isNull());
  dev.GenJsonData();
  EXPECT_TRUE(dev.jsonSnapshot_.isNull());
  EXPECT_TRUE(dev.snapshotTime_.is_not_a_date_time());
}

TEST_F(DriverSnapshot, RoundPublishesTheWholeCatalogueWithExactValues) {
  round();
  const Json::Value& s = dev.jsonSnapshot_;
  ASSERT_TRUE(s.isObject());
  EXPECT_EQ(s.size(), 231u);
  EXPECT_EQ(value("正向有功总电能"), -0.009999999776482582);
  EXPECT_EQ(value("A相电压"), 230.10000610351562);
  EXPECT_EQ(value("正向有功总电能（0.001）"), 123456.7890625);
  EXPECT_EQ(value("总功率因数"), -0.15000000596046448);
  EXPECT_EQ(value("A相相角"), 6553.5);
  EXPECT_EQ(value("电网频率"), 50.0);
  EXPECT_EQ(value("组合有功总电能（乘变比）"), 1.5);
  int zeros = 0;
  for (const auto& row : kvrm::kSignalCatalogue)
    if (row.decoding != kvrm::Decoding::Time && s[row.name].asDouble() == 0.0) ++zeros;
  EXPECT_EQ(zeros, 230 - 7);
  EXPECT_EQ(s["更新时间"].asString(), stamp_text(dev.lastUpdateTime_.load()));
  EXPECT_EQ(dev.snapshotTime_, dev.lastUpdateTime_.load());
}

TEST_F(DriverSnapshot, CallWithoutANewRoundChangesNothing) {
  round();
  const Json::Value before = dev.jsonSnapshot_;
  kvrm::write_uint16(dev.block(), kvrm::register_offset(409), 6000);
  dev.GenJsonData();
  EXPECT_EQ(dev.jsonSnapshot_, before);
}

TEST_F(DriverSnapshot, NewRoundTimeRebuildsFromTheBlockAsItStands) {
  round();
  kvrm::write_uint16(dev.block(), kvrm::register_offset(409), 6000);
  dev.lastUpdateTime_.store(dev.lastUpdateTime_.load() + seconds(1));
  dev.GenJsonData();
  EXPECT_EQ(value("电网频率"), 60.0);
  EXPECT_EQ(dev.snapshotTime_, dev.lastUpdateTime_.load());
}

TEST_F(DriverSnapshot, ListingModeRebuildsOnlyWhenAsked) {
  dev.b_mode_ = 3;
  round();
  EXPECT_TRUE(dev.jsonSnapshot_.isNull());
  dev.GenJsonData();
  EXPECT_EQ(value("A相电压"), 230.10000610351562);
  const Json::Value asked = dev.jsonSnapshot_;
  kvrm::write_uint16(dev.block(), kvrm::register_offset(409), 6000);
  dev.GenJsonData();
  EXPECT_EQ(dev.jsonSnapshot_, asked);
}

TEST_F(DriverSnapshot, TwoRoundsInTheSameSecondPublishOnce) {
  std::uint16_t inBlock = 0;
  double published = 0.0;
  ASSERT_TRUE(kvtest::within_one_second([&](const boost::posix_time::ptime&) {
    KVRM4410T_Q d;
    auto m = worked_meter();
    kvtest::run_round(rec, d, m);
    m.set(409, 6000);
    kvtest::run_round(rec, d, m);
    inBlock = kvtest::slot(d, 409);
    published = d.jsonSnapshot_["电网频率"].asDouble();
  }));
  EXPECT_EQ(inBlock, 6000);    // the block has the second round
  EXPECT_EQ(published, 50.0);  // the snapshot the first
}

TEST_F(DriverSnapshot, MembersAddedByThePointFilePassStay) {
  dev.aiSignalMap_["点表里的名字"] = {"abcdefghij", "X"};
  round();
  dev.lastUpdateTime_.store(dev.lastUpdateTime_.load() + seconds(1));
  dev.GenJsonData();
  EXPECT_EQ(dev.jsonSnapshot_.size(), 232u);
  EXPECT_TRUE(dev.jsonSnapshot_.isMember("点表里的名字"));
}

// Host threads ask for the snapshot and for points while rounds complete;
// the sanitizer runs judge the locking.
TEST_F(DriverSnapshot, HostThreadsReadWhileRoundsComplete) {
  dev.aiSignalMap_["A相电压"] = {"abcdefghij", "UA"};
  std::atomic<bool> done{false};
  std::thread host([&] {
    while (!done) {
      dev.GenJsonData();
      try {
        dev.Get_Value(0, "A相电压");
      } catch (const std::out_of_range&) {
      }
    }
  });
  for (int i = 0; i < 20; ++i) {
    meter.set(409, static_cast<std::uint16_t>(5000 + i));
    round();
  }
  done = true;
  host.join();
  EXPECT_EQ(rec.count("save_history"), 20u);
  dev.lastUpdateTime_.store(dev.lastUpdateTime_.load() + seconds(1));
  dev.GenJsonData();
  EXPECT_EQ(value("电网频率"), 50.189998626708984);
}

}  // namespace
