#include "notify_sink.h"

#include <time.h>

namespace notify {

NotifySink::NotifySink(std::unique_ptr<NotifySocket> socket, NotifySinkOptions options)
    : socket_(std::move(socket)), options_(std::move(options)) {
  const Clock::time_point start = options_.now();
  lastProgress_ = ticks(start);
  quietUntil_ = ticks(start);
  if (socket_ && options_.watchdog && options_.watchdog->count() > 0) {
    const Clock::duration period = ping_period(*options_.watchdog);
    pinger_ = std::thread([this, period] { ping_loop(period); });
  }
}

NotifySink::~NotifySink() { end_pings(); }

void NotifySink::started(const std::vector<meter_host::MeterInfo>& meters) {
  progress();
  bool ready = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ready = first_.expect(meters.size());
  }
  send("STATUS=starting: " + std::to_string(meters.size()) + (meters.size() == 1 ? " meter" : " meters"));
  if (ready) send("READY=1");
}

void NotifySink::round_completed(const meter_host::CompletedRound& r) { tried(r.meter.index); }

void NotifySink::round_abandoned(const meter_host::AbandonedRound& r) { tried(r.meter.index); }

void NotifySink::line_changed(const meter_host::LineChange& c) {
  progress();
  bool ready = false;
  if (c.lost) {
    std::lock_guard<std::mutex> lock(mutex_);
    ready = first_.give_up_waiting();
  }
  send("STATUS=" + line_status(c));
  if (ready) send("READY=1");
}

void NotifySink::cycle_ended(const meter_host::CycleEnd& c) {
  progress();
  std::string history;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (options_.historyState) history = options_.historyState();
  }
  send("STATUS=" + status_line(c, history));
}

void NotifySink::stopped(const meter_host::RunEnd&) {
  stopping();
  end_pings();
}

void NotifySink::progress() { lastProgress_ = ticks(options_.now()); }

void NotifySink::quiet_until(Clock::time_point end) { quietUntil_ = ticks(end); }

void NotifySink::reloading() {
  progress();
  // MONOTONIC_USEC lets a service manager that knows it tell this reload
  // from an earlier one; others ignore it.
  timespec t{};
  ::clock_gettime(CLOCK_MONOTONIC, &t);
  const long long usec = static_cast<long long>(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
  send("RELOADING=1\nMONOTONIC_USEC=" + std::to_string(usec));
}

void NotifySink::reloaded(const std::string& status) {
  progress();
  send(status.empty() ? std::string("READY=1") : "READY=1\nSTATUS=" + status);
}

void NotifySink::stopping() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return;
    stopping_ = true;
  }
  send("STOPPING=1");
}

void NotifySink::set_history_state(std::function<std::string()> state) {
  std::lock_guard<std::mutex> lock(mutex_);
  options_.historyState = std::move(state);
}

void NotifySink::tried(std::size_t index) {
  progress();
  bool ready = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ready = first_.tried(index);
  }
  if (ready) send("READY=1");
}

void NotifySink::send(const std::string& message) {
  if (socket_) socket_->send(message);
}

void NotifySink::ping_loop(Clock::duration period) {
  std::unique_lock<std::mutex> lock(pingMutex_);
  for (;;) {
    if (pingWake_.wait_for(lock, period, [this] { return pingStop_; })) return;
    const bool alive = loop_alive(options_.now(), Clock::time_point(Clock::duration(lastProgress_.load())),
                                  Clock::time_point(Clock::duration(quietUntil_.load())), *options_.watchdog);
    if (alive) send("WATCHDOG=1");
    if (options_.afterWatchdogTurn) options_.afterWatchdogTurn(alive);
  }
}

void NotifySink::end_pings() {
  {
    std::lock_guard<std::mutex> lock(pingMutex_);
    pingStop_ = true;
  }
  pingWake_.notify_all();
  if (pinger_.joinable() && pinger_.get_id() != std::this_thread::get_id()) pinger_.join();
}

std::shared_ptr<NotifySink> make_notify_sink(NotifySinkOptions options, std::string* error) {
  const NotifyEnvironment env = notify_environment();
  if (env.socket.empty()) return nullptr;
  auto socket = NotifySocket::open(env.socket, error);
  if (!socket) return nullptr;
  options.watchdog.reset();
  if (env.watchdog) options.watchdog = std::chrono::duration_cast<Clock::duration>(*env.watchdog);
  return std::make_shared<NotifySink>(std::move(socket), std::move(options));
}

}  // namespace notify
