#pragma once
// Runs commands against the session and prints their answers, and the
// thread that takes command lines from standard input while rounds run.
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "commands.h"
#include "host_log.h"
#include "session.h"

namespace meter_host {

// A stop asked for by a signal or by "quit", and the waits it cuts short.
class Stopper {
public:
  explicit Stopper(std::function<void()> onStop) : onStop_(std::move(onStop)) {}
  void request();
  bool requested() const { return stop_; }
  // True when the stop came before `until`; a reload asked for ends the
  // wait too (false).
  bool wait_until(std::chrono::steady_clock::time_point until);
  // SIGHUP: the site is read again between two rounds.
  void request_reload();
  // Whether a reload was asked for since the last call.
  bool take_reload();

private:
  std::function<void()> onStop_;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::atomic<bool> stop_{false};
  bool reload_ = false;
};

// A snapshot line on standard output: the 801 text, after the data id and
// a space when the line has several meters.
std::string snapshot_line(bool several, std::uint32_t dataId, const std::string& text);

// The answer line of an ioctl: code, result, and the output as text when
// it reads as text, else in hexadecimal.
std::string ioctl_line(int code, const IoctlOutcome& outcome);

class CommandRunner {
public:
  CommandRunner(Session& session, LineSink& out, Log& log, Stopper& stopper)
      : session_(session), out_(out), log_(log), stopper_(stopper) {}
  void run(const Command& command);

private:
  Session& session_;
  LineSink& out_;
  Log& log_;
  Stopper& stopper_;
};

// Reads lines from a descriptor on its own thread and runs each command.
class CommandThread {
public:
  CommandThread(int fd, CommandRunner& runner, Log& log) : fd_(fd), runner_(runner), log_(log) {}
  ~CommandThread() { stop(); }
  void start();
  void stop();

private:
  void run();

  int fd_;
  CommandRunner& runner_;
  Log& log_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace meter_host
