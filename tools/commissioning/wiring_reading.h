#pragma once
// The quantities the wiring check needs, out of one round's data block,
// read through the signal catalogue (the block's one map).
#include <array>

namespace commissioning {

struct PhaseReading {
  double voltage = 0;      // V, phase to neutral
  double current = 0;      // A
  double active = 0;       // kW
  double reactive = 0;     // kvar
  double apparent = 0;     // kVA
  double powerFactor = 0;
  double angle = 0;        // degrees the current lags the voltage, 0..360
  double lineVoltage = 0;  // V, this phase to the next (AB, BC, CA)
};

struct WiringReading {
  std::array<PhaseReading, 3> phase;
  double active = 0, reactive = 0, apparent = 0, powerFactor = 0;
  double frequency = 0;  // Hz
};

WiringReading wiring_reading(const unsigned char* block);

}  // namespace commissioning
