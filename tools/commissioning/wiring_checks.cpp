#include "wiring_checks.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "wiring_limits.h"

namespace commissioning {

namespace {

namespace L = limits;

constexpr const char* kPhase[] = {"A", "B", "C"};
constexpr const char* kLine[] = {"AB", "BC", "CA"};

// A number with `digits` decimals.
std::string num(double v, int digits) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", digits, v);
  return text;
}
std::string pct(double share) { return num(share * 100, 1) + " %"; }
std::string deg(double d) { return num(d, 1) + "°"; }

// Degrees in (-180, 180].
double wrap(double d) {
  d = std::fmod(d, 360.0);
  if (d > 180) d -= 360;
  if (d <= -180) d += 360;
  return d;
}

Check make(std::string name, Verdict v, std::string text) { return Check{std::move(name), v, std::move(text)}; }

bool voltage_lost(const PhaseReading& p, const WiringSettings& s) {
  return p.voltage < L::kVoltageLost * s.nominalVoltage;
}

double load_gate(const WiringSettings& s) { return s.ctPrimary ? L::kLoadGateShare * *s.ctPrimary : L::kLoadGateAmps; }

std::string gate_text(const WiringSettings& s) {
  return s.ctPrimary ? num(load_gate(s), 2) + " A (10 % of the CT's " + num(*s.ctPrimary, 0) + " A)"
                     : num(load_gate(s), 2) + " A (no --ct-primary)";
}

Check frequency(const WiringReading& r, const WiringSettings& s) {
  const double off = (r.frequency - s.nominalFrequency) / s.nominalFrequency;
  const std::string evidence = "f = " + num(r.frequency, 2) + " Hz, nominal " + num(s.nominalFrequency, 0) + " Hz";
  if (std::fabs(off) <= L::kFrequencyNormal) return make("frequency", Verdict::pass, evidence);
  if (off <= L::kFrequencyHighest && off >= -L::kFrequencyLowest)
    return make("frequency", Verdict::warn, evidence + ": outside ±1 % but within the grid's +4/-6 % extremes");
  return make("frequency", Verdict::fail,
              evidence + ": beyond the grid's +4/-6 %: check --frequency (50 or 60) and the meter's setting");
}

Check phase_voltage(const WiringReading& r, const WiringSettings& s, std::size_t p) {
  const std::string name = std::string("phase ") + kPhase[p] + " voltage";
  const double u = r.phase[p].voltage;
  const std::string evidence =
      std::string("U_") + kPhase[p] + " = " + num(u, 1) + " V, nominal " + num(s.nominalVoltage, 0) + " V";
  if (voltage_lost(r.phase[p], s))
    return make(name, Verdict::fail,
                std::string("phase ") + kPhase[p] + " voltage missing: " + evidence + " (lost below " +
                    num(L::kVoltageLost * s.nominalVoltage, 1) + " V): check the voltage tap and fuse of phase " +
                    kPhase[p]);
  if (std::fabs(u - s.nominalVoltage) > L::kVoltageTolerance * s.nominalVoltage)
    return make(name, Verdict::warn,
                evidence + ": outside ±10 %: the supply, or --nominal-voltage is not the site's");
  return make(name, Verdict::pass, evidence);
}

Check line_voltage(const WiringReading& r, const WiringSettings& s, std::size_t p) {
  const std::size_t q = (p + 1) % 3;
  const std::string name = std::string("line voltage ") + kLine[p];
  if (voltage_lost(r.phase[p], s) || voltage_lost(r.phase[q], s))
    return make(name, Verdict::warn, "skipped: a phase voltage of it is missing");
  const double expected = std::sqrt(3.0) * (r.phase[p].voltage + r.phase[q].voltage) / 2;
  const double u = r.phase[p].lineVoltage;
  const std::string evidence = std::string("U_") + kLine[p] + " = " + num(u, 1) + " V, sqrt(3) x phase = " +
                               num(expected, 1) + " V";
  if (std::fabs(u - expected) <= L::kLineVoltageTolerance * expected) return make(name, Verdict::pass, evidence);
  return make(name, Verdict::fail,
              evidence + ": the voltage inputs are not three phases 120° apart: check that each tap is on its own "
                         "phase, in order");
}

// The largest deviation from the mean, as a share of the mean.
double unbalance(double a, double b, double c) {
  const double mean = (a + b + c) / 3;
  if (mean <= 0) return 0;
  return std::max({std::fabs(a - mean), std::fabs(b - mean), std::fabs(c - mean)}) / mean;
}

Check voltage_unbalance(const WiringReading& r, const WiringSettings& s) {
  for (const PhaseReading& p : r.phase)
    if (voltage_lost(p, s)) return make("voltage unbalance", Verdict::warn, "skipped: a phase voltage is missing");
  const double u = unbalance(r.phase[0].voltage, r.phase[1].voltage, r.phase[2].voltage);
  const std::string evidence = pct(u) + " (limit 2 %)";
  if (u <= L::kVoltageUnbalance) return make("voltage unbalance", Verdict::pass, evidence);
  return make("voltage unbalance", Verdict::warn, evidence + ": the supply's, not the meter's wiring");
}

Check current_unbalance(const WiringReading& r, const WiringSettings& s) {
  for (std::size_t p = 0; p < 3; ++p)
    if (r.phase[p].current < load_gate(s))
      return make("current unbalance", Verdict::warn,
                  std::string("skipped: I_") + kPhase[p] + " = " + num(r.phase[p].current, 2) + " A is below " +
                      gate_text(s));
  const double u = unbalance(r.phase[0].current, r.phase[1].current, r.phase[2].current);
  const std::string evidence = pct(u) + " (" + num(r.phase[0].current, 2) + " / " + num(r.phase[1].current, 2) +
                               " / " + num(r.phase[2].current, 2) + " A)";
  if (u <= L::kCurrentUnbalance) return make("current unbalance", Verdict::pass, evidence);
  return make("current unbalance", Verdict::warn,
              evidence + ": a CT on another circuit, or loads that unbalanced");
}

double expected_angle(Expect e, double angle) {
  switch (e) {
    case Expect::import_power:
      return 0;
    case Expect::export_power:
      return 180;
    case Expect::both:
      break;
  }
  return std::fabs(wrap(angle)) <= 90 ? 0 : 180;
}

// Whether a phase can be judged for direction and angle.
bool judged(const WiringReading& r, const WiringSettings& s, std::size_t p) {
  return !voltage_lost(r.phase[p], s) && r.phase[p].current >= load_gate(s);
}

std::string flow_evidence(const PhaseReading& ph, std::size_t p) {
  return std::string("P_") + kPhase[p] + " = " + num(ph.active, 2) + " kW, angle " + kPhase[p] + " " +
         deg(ph.angle) + ", PF " + num(ph.powerFactor, 3);
}

Check power_flow(const WiringReading& r, const WiringSettings& s, std::size_t p) {
  const std::string name = std::string("phase ") + kPhase[p] + " power flow";
  const PhaseReading& ph = r.phase[p];
  if (voltage_lost(ph, s)) return make(name, Verdict::warn, "skipped: the phase voltage is missing");
  if (ph.current < load_gate(s))
    return make(name, Verdict::warn,
                std::string("skipped: I_") + kPhase[p] + " = " + num(ph.current, 2) + " A is below " + gate_text(s) +
                    ": angle and power factor mean nothing at this load");
  const double off = wrap(ph.angle - expected_angle(s.expect, ph.angle));
  const std::string evidence = flow_evidence(ph, p);
  if (std::fabs(off) <= L::kNormalAngle) return make(name, Verdict::pass, evidence);

  if (std::fabs(std::fabs(off) - L::kReversedAngle) <= L::kPatternWidth) {
    // Every judged phase the other way: the flow, not one CT.
    bool all = true;
    std::string others;
    for (std::size_t q = 0; q < 3; ++q) {
      if (q == p) continue;
      const bool reversed = judged(r, s, q) && std::fabs(wrap(r.phase[q].angle - expected_angle(s.expect, ph.angle))) >=
                                                   L::kReversedAngle - L::kPatternWidth;
      all = all && reversed;
      if (!reversed && judged(r, s, q)) others += std::string(others.empty() ? "" : " and ") + kPhase[q];
    }
    if (all && s.expect != Expect::both)
      return make(name, Verdict::fail,
                  std::string("power flows the other way on every phase: ") + evidence + ": the site " +
                      (s.expect == Expect::import_power ? "exports (--expect export" : "imports (--expect import") +
                      " or both), or all three CTs are fitted the wrong way");
    const bool importing = expected_angle(s.expect, ph.angle) == 0;
    return make(name, Verdict::fail,
                std::string("phase ") + kPhase[p] + " current transformer reversed: P_" + kPhase[p] + " = " +
                    num(ph.active, 2) + " kW" +
                    (others.empty() ? ""
                                    : " while " + others + (others.size() > 1 ? " are" : " is") +
                                          (importing ? " positive" : " negative")) +
                    ", angle " +
                    kPhase[p] + " " + deg(ph.angle) + ": swap the CT's S1/S2 leads");
  }
  if (std::fabs(std::fabs(off) - L::kSwappedAngle) <= L::kPatternWidth) {
    // The current of the phase that lags by 120 degrees shows +120 here.
    const std::size_t from = off > 0 ? (p + 1) % 3 : (p + 2) % 3;
    const std::size_t first = std::min(p, from), second = std::max(p, from);
    return make(name, Verdict::fail,
                std::string("phase ") + kPhase[p] + " carries phase " + kPhase[from] + "'s current: " + evidence +
                    " (" + (off > 0 ? "+" : "-") + "120° off): the CTs of phases " + kPhase[first] + " and " +
                    kPhase[second] + " are swapped: exchange their leads at the meter");
  }
  return make(name, Verdict::warn,
              evidence + ": a power factor this low is rare: check the load, or the CT of phase " + kPhase[p]);
}

Check total(const char* name, const char* unit, double value, double a, double b, double c, double apparentSum) {
  const double sum = a + b + c;
  const double tolerance = L::kSumTolerance * apparentSum + L::kSumFloorKw;
  const std::string evidence =
      num(value, 3) + " " + unit + ", phases " + num(a, 3) + " + " + num(b, 3) + " + " + num(c, 3) + " = " +
      num(sum, 3);
  if (std::fabs(value - sum) <= tolerance) return make(name, Verdict::pass, evidence);
  return make(name, Verdict::fail,
              evidence + ": the meter's total disagrees with its phases: check its connection type setting (3P4W)");
}

Check apparent(const WiringReading& r, std::size_t p) {
  const PhaseReading& ph = r.phase[p];
  const double product = ph.voltage * ph.current / 1000;
  const std::string name = std::string("phase ") + kPhase[p] + " apparent power";
  const std::string evidence = std::string("S_") + kPhase[p] + " = " + num(ph.apparent, 3) + " kVA, U x I = " +
                               num(ph.voltage, 1) + " V x " + num(ph.current, 2) + " A = " + num(product, 3) + " kVA";
  if (std::fabs(ph.apparent - product) <= L::kSumTolerance * std::max(ph.apparent, product) + L::kSumFloorKw)
    return make(name, Verdict::pass, evidence);
  return make(name, Verdict::fail, evidence + ": check the meter's CT and VT ratio settings");
}

}  // namespace

std::vector<Check> check_wiring(const WiringReading& r, const WiringSettings& s) {
  std::vector<Check> out;
  out.push_back(frequency(r, s));
  for (std::size_t p = 0; p < 3; ++p) out.push_back(phase_voltage(r, s, p));
  for (std::size_t p = 0; p < 3; ++p) out.push_back(line_voltage(r, s, p));
  out.push_back(voltage_unbalance(r, s));
  out.push_back(current_unbalance(r, s));
  for (std::size_t p = 0; p < 3; ++p) out.push_back(power_flow(r, s, p));
  const double sumS = std::fabs(r.phase[0].apparent) + std::fabs(r.phase[1].apparent) + std::fabs(r.phase[2].apparent);
  out.push_back(
      total("total active power", "kW", r.active, r.phase[0].active, r.phase[1].active, r.phase[2].active, sumS));
  out.push_back(total("total reactive power", "kvar", r.reactive, r.phase[0].reactive, r.phase[1].reactive,
                      r.phase[2].reactive, sumS));
  out.push_back(total("total apparent power", "kVA", r.apparent, r.phase[0].apparent, r.phase[1].apparent,
                      r.phase[2].apparent, sumS));
  for (std::size_t p = 0; p < 3; ++p) out.push_back(apparent(r, p));
  return out;
}

std::vector<Check> worst_of(const std::vector<std::vector<Check>>& rounds) {
  std::vector<Check> out;
  for (const auto& round : rounds) {
    for (const Check& c : round) {
      auto it = std::find_if(out.begin(), out.end(), [&c](const Check& o) { return o.name == c.name; });
      if (it == out.end())
        out.push_back(c);
      else if (static_cast<int>(c.verdict) > static_cast<int>(it->verdict))
        *it = c;
    }
  }
  return out;
}

const char* verdict_name(Verdict v) {
  switch (v) {
    case Verdict::pass:
      return "pass";
    case Verdict::warn:
      return "warn";
    case Verdict::fail:
      return "FAIL";
  }
  return "?";
}

std::string check_line(const Check& c) { return std::string(verdict_name(c.verdict)) + "  " + c.name + ": " + c.text; }

}  // namespace commissioning
