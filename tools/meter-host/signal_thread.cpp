#include "signal_thread.h"

#include <csignal>
#include <ctime>

#include "command_runner.h"

namespace meter_host {

void SignalThread::stop() {
  done_ = true;
  if (thread_.joinable()) thread_.join();
}

void SignalThread::block() {
  sigset_t set = signals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
}

void SignalThread::start() {
  thread_ = std::thread([this] {
    const sigset_t set = signals();
    const timespec tick{0, 100 * 1000 * 1000};
    while (!done_) {
      const int sig = sigtimedwait(&set, nullptr, &tick);
      if (sig == SIGINT || sig == SIGTERM) stopper_.request();
      if (sig == SIGHUP) stopper_.request_reload();
      if (sig == SIGUSR1 && onStats_) onStats_();
    }
  });
}

sigset_t SignalThread::signals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGUSR1);
  sigaddset(&set, SIGHUP);
  return set;
}

}  // namespace meter_host
