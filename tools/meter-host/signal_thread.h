#pragma once
// SIGINT and SIGTERM (stop), SIGHUP (read the site again) and SIGUSR1
// (statistics), taken by a thread of their own; the others keep them
// blocked.
#include <signal.h>

#include <atomic>
#include <functional>
#include <thread>

namespace meter_host {

class Stopper;

class SignalThread {
public:
  SignalThread(Stopper& stopper, std::function<void()> onStats)
      : stopper_(stopper), onStats_(std::move(onStats)) {}
  ~SignalThread() { stop(); }
  // In every thread started after it, before any signal can come.
  static void block();
  void start();
  void stop();

private:
  static sigset_t signals();
  Stopper& stopper_;
  std::function<void()> onStats_;
  std::atomic<bool> done_{false};
  std::thread thread_;
};

}  // namespace meter_host
