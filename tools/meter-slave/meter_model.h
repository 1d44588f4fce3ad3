#pragma once
// The default register image: a plausible three-phase load. Energy
// counters grow with time; instantaneous values move a little on every
// read, along a fixed wave so that runs repeat.
#include <array>
#include <cstddef>

#include "register_image.h"

namespace meter_sim {

class MeterModel {
public:
  // Writes the values of registers start .. start+count-1 as they stand
  // `elapsed` seconds after the meter started, and counts the read.
  void update(RegisterImage& image, unsigned start, unsigned count, double elapsed);

  // The instantaneous quantities that move on reads.
  static constexpr std::size_t kQuantities = 32;

  // The value of the quantity whose first register is `reg` at its n-th
  // read (counted from 0), in published units.
  static double quantity_value(unsigned reg, unsigned n);
  // Energy in kWh of group g (0..10), tariff t (0 total .. 5 deep valley).
  static double energy(unsigned group, unsigned tariff, double elapsed);
  // The transformer ratio that the ratio-scaled energies carry.
  static constexpr float kRatio = 40.0f;

private:
  std::array<unsigned, kQuantities> reads_{};
};

}  // namespace meter_sim
