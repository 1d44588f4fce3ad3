#pragma once
// The wiring check: pure functions from one reading to verdicts, each
// with the values it used and, for a failure, what to do.
#include <optional>
#include <string>
#include <vector>

#include "wiring_reading.h"

namespace commissioning {

enum class Expect { import_power, export_power, both };

struct WiringSettings {
  double nominalVoltage = 230.0;     // V, phase to neutral
  double nominalFrequency = 50.0;    // Hz
  std::optional<double> ctPrimary;   // A; unset: the 0.5 A gate
  Expect expect = Expect::import_power;
};

enum class Verdict { pass, warn, fail };

struct Check {
  std::string name;  // "frequency", "phase B power flow", ...
  Verdict verdict = Verdict::pass;
  std::string text;  // the evidence, and for a failure what to do
};

std::vector<Check> check_wiring(const WiringReading& reading, const WiringSettings& settings);

// The checks of several rounds as one list: each check with its worst
// verdict over the rounds (the first round that gave it).
std::vector<Check> worst_of(const std::vector<std::vector<Check>>& rounds);

// "pass  frequency: ...".
std::string check_line(const Check& c);
const char* verdict_name(Verdict v);

}  // namespace commissioning
