#include "notify_state.h"

#include <algorithm>

namespace notify {

namespace {

std::string one_line(std::string text) {
  std::replace(text.begin(), text.end(), '\n', ' ');
  std::replace(text.begin(), text.end(), '\r', ' ');
  return text;
}

}  // namespace

std::string status_line(const meter_host::CycleEnd& cycle, const std::string& history) {
  std::string s = std::to_string(cycle.online) + " of " + std::to_string(cycle.meters) +
                  (cycle.meters == 1 ? " meter" : " meters") + " online, cycle " + std::to_string(cycle.cycle);
  if (!history.empty()) s += ", " + history;
  return one_line(s);
}

std::string line_status(const meter_host::LineChange& change) {
  return one_line(change.lost ? "line lost: " + change.why : std::string("line back"));
}

bool loop_alive(Clock::time_point now, Clock::time_point lastProgress, Clock::time_point quietUntil,
                Clock::duration interval) {
  return now - std::max(lastProgress, quietUntil) < interval;
}

Clock::duration ping_period(Clock::duration interval) { return interval / 2; }

bool FirstRounds::expect(std::size_t meters) {
  if (done_) return false;
  tried_.assign(meters, false);
  return meters == 0 && settle();
}

bool FirstRounds::tried(std::size_t index) {
  if (done_) return false;
  if (index >= tried_.size()) tried_.resize(index + 1, false);
  tried_[index] = true;
  return settle();
}

bool FirstRounds::give_up_waiting() {
  if (done_) return false;
  std::fill(tried_.begin(), tried_.end(), true);
  return settle();
}

bool FirstRounds::settle() {
  done_ = std::all_of(tried_.begin(), tried_.end(), [](bool t) { return t; });
  return done_;
}

}  // namespace notify
