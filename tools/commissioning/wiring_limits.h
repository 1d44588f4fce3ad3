#pragma once
// Every limit the wiring check judges by, in one place, each with where it
// comes from. Shares are fractions of the nominal or measured value.
namespace commissioning::limits {

// EN 50160: the mean frequency of a grid stays within ±1 % of nominal for
// 99.5 % of a year ...
constexpr double kFrequencyNormal = 0.01;
// ... and within +4 % / -6 % at all times.
constexpr double kFrequencyHighest = 0.04;
constexpr double kFrequencyLowest = 0.06;

// EN 50160: supply voltage within ±10 % of nominal.
constexpr double kVoltageTolerance = 0.10;
// Meter vendors' application notes: a phase voltage below about 61 % of
// nominal counts as a lost voltage input.
constexpr double kVoltageLost = 0.61;
// EN 50160: voltage unbalance up to 2 %.
constexpr double kVoltageUnbalance = 0.02;
// Line voltage against sqrt(3) x the mean of its two phase voltages: our
// margin over the 2 % unbalance above, within which the two stay closer
// than this.
constexpr double kLineVoltageTolerance = 0.03;

// Meter vendors' application notes: angle and direction diagnostics mean
// something only above about 10 % of the CT's rated current ...
constexpr double kLoadGateShare = 0.10;
// ... which for the usual 5 A secondary without a known primary is 0.5 A.
constexpr double kLoadGateAmps = 0.5;
// Current unbalance: our choice. Currents follow the loads and are seldom
// balanced; only a spread this large hints at a CT on another circuit.
constexpr double kCurrentUnbalance = 0.30;

// Voltage-current angle, degrees from where the expected power flow puts
// it (0 importing, 180 exporting). A power factor above 0.5 either way
// (within 60 degrees) is a normal load: our choice.
constexpr double kNormalAngle = 60.0;
// Meter vendors' application notes: a reversed CT shows about 180 degrees
// off, CTs of two phases exchanged about ±120 degrees; we take each
// pattern within 30 degrees, half-way to the next.
constexpr double kReversedAngle = 180.0;
constexpr double kSwappedAngle = 120.0;
constexpr double kPatternWidth = 30.0;

// A total against the sum of its phases, and a phase's apparent power
// against voltage x current: 1 % of the apparent power (IEC 62053-21's
// class 1 accuracy) ...
constexpr double kSumTolerance = 0.01;
// ... plus a few steps of the registers' 0.0001 kW resolution.
constexpr double kSumFloorKw = 0.0005;

}  // namespace commissioning::limits
