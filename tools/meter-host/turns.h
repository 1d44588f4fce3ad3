#pragma once
// Whose turn it is on a shared line: every online meter takes one round
// per cycle; a meter whose rounds failed 3 times in a row is offline and
// takes a turn only when its retry is due, until a round completes again.
#include <chrono>
#include <cstddef>
#include <vector>

namespace meter_host {

constexpr unsigned kFailedRoundsOffline = 3;

enum class TurnChange { none, offline, back_online };

class Turns {
public:
  using Clock = std::chrono::steady_clock;

  Turns(std::size_t meters, Clock::duration retry) : meters_(meters), retry_(retry) {}

  bool due(std::size_t meter, Clock::time_point now) const {
    const Meter& m = meters_.at(meter);
    return !m.offline || now >= m.lastTry + retry_;
  }
  bool offline(std::size_t meter) const { return meters_.at(meter).offline; }
  // Meters added by a reload: online, due at once.
  void resize(std::size_t meters) {
    if (meters > meters_.size()) meters_.resize(meters);
  }
  // A meter removed by a reload is never due again.
  void retire(std::size_t meter) {
    Meter& m = meters_.at(meter);
    m.offline = true;
    m.lastTry = Clock::time_point::max() - retry_;
  }

  // The end of a round taken at `now`.
  TurnChange record(std::size_t meter, bool completed, Clock::time_point now) {
    Meter& m = meters_.at(meter);
    m.lastTry = now;
    if (completed) {
      m.failures = 0;
      if (!m.offline) return TurnChange::none;
      m.offline = false;
      return TurnChange::back_online;
    }
    if (m.offline || ++m.failures < kFailedRoundsOffline) return TurnChange::none;
    m.offline = true;
    return TurnChange::offline;
  }

  // The first moment from `now` on at which some meter is due.
  Clock::time_point next_due(Clock::time_point now) const {
    Clock::time_point first = Clock::time_point::max();
    for (const Meter& m : meters_) {
      const Clock::time_point at = m.offline ? m.lastTry + retry_ : now;
      if (at < first) first = at;
    }
    return first < now ? now : first;
  }

private:
  struct Meter {
    unsigned failures = 0;  // failed rounds in a row
    bool offline = false;
    Clock::time_point lastTry{};
  };
  std::vector<Meter> meters_;
  Clock::duration retry_;
};

}  // namespace meter_host
