// The sink that tells the service manager how the loop is doing, called as
// the cycle loop calls it, with a real datagram socket as NOTIFY_SOCKET.
#include <stdlib.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <gtest/gtest.h>
#include <mutex>

#include "notify_listener.h"
#include "notify_sink.h"
#include "support/temp_dir.h"

namespace {

using meter_host::MeterInfo;
using notify::Clock;
using std::chrono::hours;
using std::chrono::milliseconds;

std::vector<MeterInfo> meters(std::size_t n) {
  std::vector<MeterInfo> m(n);
  for (std::size_t i = 0; i < n; ++i) {
    m[i].index = i;
    m[i].slave = static_cast<unsigned>(i + 1);
    m[i].dataId = static_cast<std::uint32_t>(i + 1);
  }
  return m;
}

meter_host::CompletedRound completed(std::size_t index) {
  meter_host::CompletedRound r;
  r.meter.index = index;
  return r;
}

meter_host::AbandonedRound abandoned(std::size_t index) {
  meter_host::AbandonedRound r;
  r.meter.index = index;
  r.why = "read 256+10: no reply within 1000 ms";
  return r;
}

// The clock the sink reads: moved by the test alone.
std::atomic<long long> testNow{0};
Clock::time_point test_clock() { return Clock::time_point(Clock::duration(testNow.load())); }
void set_test_clock(Clock::duration d) { testNow = d.count(); }

class NotifySinkTest : public ::testing::Test {
protected:
  std::unique_ptr<notify::NotifySocket> socket() {
    std::string error;
    auto s = notify::NotifySocket::open(listener.address(), &error);
    EXPECT_TRUE(s) << error;
    return s;
  }
  kvtest::TempDir dir;
  kvtest::NotifyListener listener{dir.path("notify")};
};

TEST_F(NotifySinkTest, ReadyOnceEveryMeterHasHadItsFirstRoundTried) {
  notify::NotifySink sink(socket(), {});
  sink.started(meters(3));
  EXPECT_EQ(listener.next(), "STATUS=starting: 3 meters");
  sink.round_completed(completed(0));
  sink.round_abandoned(abandoned(2));
  EXPECT_EQ(listener.queued(), std::nullopt) << "meter 2 is still untried";
  sink.round_completed(completed(1));
  EXPECT_EQ(listener.next(), "READY=1");
  sink.round_completed(completed(1));
  sink.round_completed(completed(0));
  EXPECT_EQ(listener.queued(), std::nullopt) << "READY only once";
}

TEST_F(NotifySinkTest, StatusLineAfterEveryCycle) {
  notify::NotifySinkOptions o;
  o.historyState = [] { return std::string("history ok"); };
  notify::NotifySink sink(socket(), o);
  sink.cycle_ended({1234, 4, 3});
  EXPECT_EQ(listener.next(), "STATUS=3 of 4 meters online, cycle 1234, history ok");
  sink.set_history_state([] { return std::string("history stopped: disk full"); });
  sink.cycle_ended({1235, 4, 4});
  EXPECT_EQ(listener.next(), "STATUS=4 of 4 meters online, cycle 1235, history stopped: disk full");
}

TEST_F(NotifySinkTest, ALostLineEndsTheWaitForReadiness) {
  notify::NotifySink sink(socket(), {});
  sink.started(meters(2));
  EXPECT_EQ(listener.next(), "STATUS=starting: 2 meters");
  meter_host::LineChange lost;
  lost.lost = true;
  lost.why = "read: Input/output error";
  sink.line_changed(lost);
  EXPECT_EQ(listener.next(), "STATUS=line lost: read: Input/output error");
  EXPECT_EQ(listener.next(), "READY=1");
  sink.line_changed(meter_host::LineChange{});
  EXPECT_EQ(listener.next(), "STATUS=line back");
}

TEST_F(NotifySinkTest, ReloadingThenReadyAndStoppingOnce) {
  notify::NotifySink sink(socket(), {});
  sink.reloading();
  const auto reloading = listener.next();
  ASSERT_TRUE(reloading);
  EXPECT_EQ(reloading->rfind("RELOADING=1\nMONOTONIC_USEC=", 0), 0u) << *reloading;
  sink.reloaded();
  EXPECT_EQ(listener.next(), "READY=1");
  sink.reloading();
  listener.next();
  sink.reloaded("reload refused: site.json is not JSON");
  EXPECT_EQ(listener.next(), "READY=1\nSTATUS=reload refused: site.json is not JSON");
  sink.stopping();
  sink.stopped(meter_host::RunEnd{});
  EXPECT_EQ(listener.next(), "STOPPING=1");
  EXPECT_EQ(listener.queued(), std::nullopt);
}

// The turns of the pinger as it reports them, for the test to wait on.
class Turns {
public:
  void add(bool pinged) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      turns_.push_back(pinged);
    }
    changed_.notify_all();
  }
  // Waits for a turn that did not ping, forgetting the turns before it.
  bool next_silent() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      if (!changed_.wait_for(lock, std::chrono::seconds(20), [this] { return !turns_.empty(); })) return false;
      const bool pinged = turns_.front();
      turns_.pop_front();
      if (!pinged) return true;
    }
  }

private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<bool> turns_;
};

TEST_F(NotifySinkTest, WatchdogPingsOnlyWhileTheLoopMakesProgress) {
  set_test_clock(hours(1));
  Turns turns;
  notify::NotifySinkOptions o;
  o.watchdog = milliseconds(20);
  o.now = &test_clock;
  o.afterWatchdogTurn = [&turns](bool pinged) { turns.add(pinged); };
  notify::NotifySink sink(socket(), o);
  EXPECT_EQ(listener.next(), "WATCHDOG=1");

  // The loop is stuck: a whole interval without an event.
  set_test_clock(hours(2));
  ASSERT_TRUE(turns.next_silent());
  while (listener.queued()) {
  }
  ASSERT_TRUE(turns.next_silent());
  EXPECT_EQ(listener.queued(), std::nullopt) << "a ping while the loop is stuck";

  // A round ends: the pings come back.
  sink.round_completed(completed(0));
  EXPECT_TRUE(listener.next_ping());

  // A pause the loop announced is no hang, until it is over by an interval.
  sink.quiet_until(test_clock() + hours(5));
  set_test_clock(hours(6));
  while (listener.queued()) {
  }
  EXPECT_EQ(listener.next(), "WATCHDOG=1");
  set_test_clock(hours(8));
  ASSERT_TRUE(turns.next_silent());
  while (listener.queued()) {
  }
  ASSERT_TRUE(turns.next_silent());
  EXPECT_EQ(listener.queued(), std::nullopt);

  sink.stopped(meter_host::RunEnd{});
  EXPECT_EQ(listener.next(), "STOPPING=1");
  EXPECT_EQ(listener.queued(), std::nullopt) << "no ping after the end";
}

TEST_F(NotifySinkTest, NoWatchdogIntervalNoPings) {
  notify::NotifySink sink(socket(), {});
  sink.stopped(meter_host::RunEnd{});
  EXPECT_EQ(listener.next(), "STOPPING=1");
  EXPECT_EQ(listener.queued(), std::nullopt);
}

TEST_F(NotifySinkTest, MadeFromTheEnvironmentOnlyWhenNotifySocketIsSet) {
  std::string error;
  ::unsetenv("NOTIFY_SOCKET");
  EXPECT_EQ(notify::make_notify_sink({}, &error), nullptr);
  EXPECT_EQ(error, "");

  ::setenv("NOTIFY_SOCKET", listener.address().c_str(), 1);
  ::setenv("WATCHDOG_USEC", "20000", 1);
  ::setenv("WATCHDOG_PID", std::to_string(::getpid()).c_str(), 1);
  // The test's clock stands still: the loop never looks stuck however
  // late the pinger's turn comes.
  set_test_clock(hours(1));
  notify::NotifySinkOptions o;
  o.now = &test_clock;
  auto sink = notify::make_notify_sink(o, &error);
  ::unsetenv("NOTIFY_SOCKET");
  ::unsetenv("WATCHDOG_USEC");
  ::unsetenv("WATCHDOG_PID");
  ASSERT_NE(sink, nullptr) << error;
  EXPECT_EQ(listener.next(), "WATCHDOG=1");
  sink->stopped(meter_host::RunEnd{});
  EXPECT_EQ(listener.next_but_pings(), "STOPPING=1");
}

}  // namespace
