#pragma once
// What the service manager is told, decided from plain values: the status
// line, whether the first rounds are all tried, whether the loop is alive.
#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

#include "round_sink.h"

namespace notify {

using Clock = std::chrono::steady_clock;

// "3 of 4 meters online, cycle 1234, history ok"; the history part is left
// out when `history` is empty. One line whatever `history` holds.
std::string status_line(const meter_host::CycleEnd& cycle, const std::string& history);
// "line lost: REASON" or "line back".
std::string line_status(const meter_host::LineChange& change);

// The loop is alive while its last sign of progress, or the end of a pause
// it announced, is less than one watchdog interval ago.
bool loop_alive(Clock::time_point now, Clock::time_point lastProgress, Clock::time_point quietUntil,
                Clock::duration interval);
// Twice per interval, as the service manager asks.
Clock::duration ping_period(Clock::duration interval);

// Which meters have had their first round tried, by index.
class FirstRounds {
public:
  // True when there is no meter to wait for.
  bool expect(std::size_t meters);
  // True once, for the try that leaves no meter untried.
  bool tried(std::size_t index);
  // Every meter counts as tried from now on (the line is lost: none can be).
  bool give_up_waiting();
  bool done() const { return done_; }

private:
  bool settle();
  std::vector<bool> tried_;
  bool done_ = false;
};

}  // namespace notify
