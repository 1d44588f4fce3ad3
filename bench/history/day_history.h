#pragma once
// A simulated day of a meter's history: a working day's load (a morning
// and an evening peak), voltages that sag under it, a grid frequency that
// wanders, energy counters that integrate the power and step through the
// tariffs of the day. Stored as meter-host stores its rounds.
#include <cstdint>
#include <string>

namespace day_history {

constexpr double kRoundSeconds = 1.5;
constexpr unsigned kRoundsPerDay = 57600;

struct DaySpec {
  std::uint32_t dataId = 1;
  int year = 2026, month = 3, day = 5;
  unsigned rounds = kRoundsPerDay;
};

// Writes the rounds into the history database at `path` (created as
// meter-host creates it). False with *error on failure.
bool write_day(const std::string& path, const DaySpec& plan, std::string* error);

// The block of round `n` of the day; `energy` carries the counters from
// round to round (kWh of the forward active energy so far).
void make_block(unsigned char* block, const DaySpec& plan, unsigned n, double* energy);

}  // namespace day_history
