// What the service manager is told, decided from plain values.
#include <gtest/gtest.h>

#include "notify_state.h"

namespace {

using notify::Clock;
using std::chrono::seconds;

TEST(NotifyStatus, NamesTheMetersOnlineTheCycleAndTheHistory) {
  EXPECT_EQ(notify::status_line({1234, 4, 3}, "history ok"), "3 of 4 meters online, cycle 1234, history ok");
  EXPECT_EQ(notify::status_line({1, 1, 0}, ""), "0 of 1 meter online, cycle 1");
  EXPECT_EQ(notify::status_line({7, 2, 2}, "history stopped:\ndisk full"),
            "2 of 2 meters online, cycle 7, history stopped: disk full");
}

TEST(NotifyStatus, LineLossNamesItsReason) {
  meter_host::LineChange lost;
  lost.lost = true;
  lost.why = "cannot open /dev/ttyUSB0: No such file or directory";
  EXPECT_EQ(notify::line_status(lost), "line lost: cannot open /dev/ttyUSB0: No such file or directory");
  EXPECT_EQ(notify::line_status(meter_host::LineChange{}), "line back");
}

struct AliveCase {
  const char* name;
  int sinceProgress;  // seconds from the last progress to now
  int quietLeft;      // seconds from now to the end of an announced pause (negative: over)
  bool alive;
};
void PrintTo(const AliveCase& c, std::ostream* os) { *os << c.name; }

class NotifyWatchdog : public ::testing::TestWithParam<AliveCase> {};

TEST_P(NotifyWatchdog, AliveWithinOneIntervalOfProgressOrOfAPauseEnd) {
  const Clock::time_point now(seconds(100000));
  const AliveCase& c = GetParam();
  EXPECT_EQ(notify::loop_alive(now, now - seconds(c.sinceProgress), now + seconds(c.quietLeft), seconds(60)), c.alive);
}

INSTANTIATE_TEST_SUITE_P(Notify, NotifyWatchdog,
                         ::testing::Values(AliveCase{"progress just now", 0, -1000, true},
                                           AliveCase{"progress 59 s ago", 59, -1000, true},
                                           AliveCase{"progress one interval ago", 60, -1000, false},
                                           AliveCase{"stuck for ten minutes", 600, -1000, false},
                                           AliveCase{"in a long pause", 600, 300, true},
                                           AliveCase{"pause ended 59 s ago", 600, -59, true},
                                           AliveCase{"pause ended one interval ago", 600, -60, false}),
                         [](const auto& info) {
                           std::string n = info.param.name;
                           for (char& ch : n)
                             if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return n;
                         });

TEST(NotifyWatchdog, PingsTwicePerInterval) {
  EXPECT_EQ(notify::ping_period(seconds(60)), seconds(30));
}

TEST(NotifyFirstRounds, DoneOnceWhenEveryMeterWasTried) {
  notify::FirstRounds f;
  EXPECT_FALSE(f.expect(3));
  EXPECT_FALSE(f.tried(0));
  EXPECT_FALSE(f.tried(0));
  EXPECT_FALSE(f.tried(2));
  EXPECT_TRUE(f.tried(1));
  EXPECT_TRUE(f.done());
  EXPECT_FALSE(f.tried(1)) << "said once";
  EXPECT_FALSE(f.expect(2)) << "a later set-up does not start over";
}

TEST(NotifyFirstRounds, NoMeterMeansDoneAtOnce) {
  notify::FirstRounds f;
  EXPECT_TRUE(f.expect(0));
}

TEST(NotifyFirstRounds, GivingUpEndsTheWait) {
  notify::FirstRounds f;
  f.expect(4);
  f.tried(3);
  EXPECT_TRUE(f.give_up_waiting());
  EXPECT_FALSE(f.give_up_waiting());
  EXPECT_FALSE(f.tried(0));
}

}  // namespace
