#pragma once
// Tells the service manager how the daemon is doing, as a sink of the
// cycle loop: READY=1 once every meter has had its first round tried (or
// the line is lost, so that none can be), a STATUS= line after every cycle,
// WATCHDOG=1 from a thread of its own twice per watchdog interval but only
// while the loop shows progress, RELOADING=1 and READY=1 around a reload
// and STOPPING=1 at the end. Made only when NOTIFY_SOCKET is set.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "notify_socket.h"
#include "notify_state.h"
#include "round_sink.h"

namespace notify {

struct NotifySinkOptions {
  // The watchdog interval (WATCHDOG_USEC); none: no pings.
  std::optional<Clock::duration> watchdog;
  // The history's part of the status line ("history ok"); empty or unset:
  // the line has none.
  std::function<std::string()> historyState;
  Clock::time_point (*now)() = &Clock::now;
  // Called on the pinger's thread after each of its turns (true: it pinged).
  std::function<void(bool pinged)> afterWatchdogTurn;
};

class NotifySink : public meter_host::RoundSink {
public:
  NotifySink(std::unique_ptr<NotifySocket> socket, NotifySinkOptions options);
  ~NotifySink() override;
  NotifySink(const NotifySink&) = delete;
  NotifySink& operator=(const NotifySink&) = delete;

  const char* sink_name() const override { return "service notification"; }
  void started(const std::vector<meter_host::MeterInfo>& meters) override;
  void round_completed(const meter_host::CompletedRound& r) override;
  void round_abandoned(const meter_host::AbandonedRound& r) override;
  void alarm_changed(const meter_host::AlarmChange&) override { progress(); }
  void availability_changed(const meter_host::Availability&) override { progress(); }
  void line_changed(const meter_host::LineChange& c) override;
  void cycle_ended(const meter_host::CycleEnd& c) override;
  void stopped(const meter_host::RunEnd&) override;
  void pausing(Clock::time_point until) override { quiet_until(until); }

  // Progress of the loop that is no event: a try to reopen a lost line.
  void progress();
  // The loop pauses until `end` on purpose (the interval between cycles):
  // the watchdog counts it as alive meanwhile.
  void quiet_until(Clock::time_point end);
  // Around a reload of the site: RELOADING=1, then READY=1 with the status
  // line given (a refused reload says so), or none.
  void reloading();
  void reloaded(const std::string& status = {});
  // STOPPING=1, once; stopped() sends it too and ends the pings.
  void stopping();
  void set_history_state(std::function<std::string()> state);

private:
  void tried(std::size_t index);
  void send(const std::string& message);
  void ping_loop(Clock::duration period);
  void end_pings();
  static long long ticks(Clock::time_point t) { return t.time_since_epoch().count(); }

  std::unique_ptr<NotifySocket> socket_;
  NotifySinkOptions options_;

  std::mutex mutex_;  // the readiness and the history state
  FirstRounds first_;
  bool stopping_ = false;

  // Read by the pinger, written by the events: the clock's ticks.
  std::atomic<long long> lastProgress_;
  std::atomic<long long> quietUntil_;

  std::mutex pingMutex_;
  std::condition_variable pingWake_;
  bool pingStop_ = false;
  std::thread pinger_;
};

// The sink for this process's environment, or null when NOTIFY_SOCKET is
// unset (nothing is sent then) or unusable (*error says why).
std::shared_ptr<NotifySink> make_notify_sink(NotifySinkOptions options, std::string* error);

}  // namespace notify
