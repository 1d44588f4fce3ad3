#pragma once
// The default register image: a plausible three-phase load. Energy
// counters grow with time; instantaneous values move a little on every
// read, along a fixed wave so that runs repeat. The values of one step are
// physically consistent, as a real meter's are: apparent power is voltage
// times current per phase, active and reactive power follow from the
// voltage-current angle, the totals are the sums of the phases and the
// line voltages those of three phasors 120 degrees apart; a wiring fault
// changes what the meter measures, not these laws.
#include <array>
#include <cstddef>
#include <cstdint>

#include "register_image.h"
#include "wiring.h"

namespace meter_sim {

class MeterModel {
public:
  explicit MeterModel(Wiring wiring = {}) : wiring_(wiring) {}

  // Writes the values of registers start .. start+count-1 as they stand
  // `elapsed` seconds after the meter started, and counts the read.
  void update(RegisterImage& image, unsigned start, unsigned count, double elapsed);

  // The instantaneous quantities that move on reads: each counts its own
  // reads, so the quantities of one round all show the same step.
  static constexpr std::size_t kQuantities = 32;

  // The register values of registers 366..421 at step n (counted from 0):
  // an int32 quantity at its first register, 16-bit ones as they stand.
  static constexpr unsigned kFirstInstant = 366, kLastInstant = 421;
  using Instant = std::array<std::int64_t, kLastInstant - kFirstInstant + 1>;
  Instant instant(unsigned n) const;

  // Energy in kWh of group g (0..10), tariff t (0 total .. 5 deep valley).
  double energy(unsigned group, unsigned tariff, double elapsed) const;
  // The transformer ratio that the ratio-scaled energies carry.
  static constexpr float kRatio = 40.0f;

  const Wiring& wiring() const { return wiring_; }

private:
  Wiring wiring_;
  std::array<unsigned, kQuantities> reads_{};
};

}  // namespace meter_sim
