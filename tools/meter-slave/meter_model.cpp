#include "meter_model.h"

#include <cmath>
#include <cstdint>
#include <optional>

namespace meter_sim {

namespace {

enum class Encoding { int32, int16, uint16 };

struct Quantity {
  unsigned reg;
  Encoding encoding;
};

// In register order: the registers that move on reads.
constexpr std::array<Quantity, MeterModel::kQuantities> kQuantityTable{{
    {366, Encoding::int32},  {368, Encoding::int32},  {370, Encoding::int32},   // phase voltages
    {372, Encoding::int32},  {374, Encoding::int32},  {376, Encoding::int32},   // phase currents
    {378, Encoding::int32},                                                     // active power, total
    {380, Encoding::int32},  {382, Encoding::int32},  {384, Encoding::int32},   // and phases
    {386, Encoding::int32},                                                     // reactive power
    {388, Encoding::int32},  {390, Encoding::int32},  {392, Encoding::int32},
    {394, Encoding::int32},                                                     // apparent power
    {396, Encoding::int32},  {398, Encoding::int32},  {400, Encoding::int32},
    {402, Encoding::int16},  {403, Encoding::int16},  {404, Encoding::int16},   // power factors
    {405, Encoding::int16},
    {406, Encoding::uint16}, {407, Encoding::uint16}, {408, Encoding::uint16},  // phase angles
    {409, Encoding::uint16},                                                    // grid frequency
    {410, Encoding::int32},  {412, Encoding::int32},  {414, Encoding::int32},   // line voltages
    {416, Encoding::int32},  {418, Encoding::int32},  {420, Encoding::int32},   // averages
}};

// A value that moves along a wave: base + amplitude * sin(2 n + 0.7 k).
// The wave numbers k keep the values the live image has always shown.
struct Wave {
  double base;
  double amplitude;
  unsigned k;
};

constexpr std::array<Wave, 3> kVoltage{{{230.0, 2.0, 0}, {229.4, 1.6, 1}, {231.1, 1.8, 2}}};  // V
constexpr std::array<Wave, 3> kCurrent{{{12.5, 0.8, 3}, {11.8, 0.7, 4}, {13.1, 0.9, 5}}};    // A
// The angle by which each phase's current lags its voltage, degrees: a
// mostly resistive load, phase B slightly capacitive.
constexpr std::array<Wave, 3> kAngle{{{12.8, 0.5, 22}, {-10.9, 0.5, 23}, {15.8, 0.5, 24}}};
constexpr Wave kFrequency{50.0, 0.04, 25};  // Hz

// Low load: the currents are this share of the normal load's, and their
// angles are whatever small loads make them (they mean nothing there).
constexpr double kLowLoadShare = 0.02;
constexpr std::array<double, 3> kLowLoadAngle{{63.0, 171.0, 298.0}};
// What an open voltage input still reads: induced, a volt or so.
constexpr double kResidualVolts = 0.8;
// Where each phase's voltage phasor stands, degrees.
constexpr std::array<double, 3> kPhasePosition{{0.0, -120.0, 120.0}};

constexpr double kWaveStep = 2.0;
constexpr double kWaveShift = 0.7;
constexpr double kPi = 3.14159265358979323846;

double at(const Wave& w, unsigned n) {
  return w.base + w.amplitude * std::sin(kWaveStep * n + kWaveShift * static_cast<double>(w.k));
}

double radians(double degrees) { return degrees * kPi / 180.0; }

// Degrees in [0, 360).
double turn(double degrees) {
  const double d = std::fmod(degrees, 360.0);
  return d < 0 ? d + 360.0 : d;
}

std::int64_t raw(double value, double scale) { return std::llround(value * scale); }

// |a at angle pa - b at angle pb|: the voltage between two phase phasors.
double between(double a, double pa, double b, double pb) {
  const double x = a * std::cos(radians(pa)) - b * std::cos(radians(pb));
  const double y = a * std::sin(radians(pa)) - b * std::sin(radians(pb));
  return std::hypot(x, y);
}

struct EnergyGroup {
  double base;  // kWh at start
  double rate;  // kWh per hour
};

// Combined active, forward, reverse, combined reactive 1 and 2, quadrants
// I..IV, forward and reverse apparent.
constexpr std::array<EnergyGroup, 11> kEnergyGroups{{
    {12858.40, 8.6}, {12604.25, 8.5}, {254.15, 0.1}, {3120.50, 2.1}, {410.30, 0.2}, {2980.10, 2.0},
    {140.40, 0.1},   {95.20, 0.05},   {315.10, 0.15}, {13702.80, 9.1}, {301.55, 0.12},
}};
constexpr unsigned kForwardActive = 1, kReverseActive = 2;

// Shares of the total by tariff: total, sharp, peak, flat, valley, deep valley.
constexpr std::array<double, 6> kTariffShare{{1.0, 0.12, 0.28, 0.34, 0.21, 0.05}};

std::int32_t to_int32(double v) { return static_cast<std::int32_t>(std::llround(v)); }

bool overlaps(unsigned start, unsigned count, unsigned reg, unsigned width) {
  return reg < start + count && start < reg + width;
}

}  // namespace

MeterModel::Instant MeterModel::instant(unsigned n) const {
  const Wiring& w = wiring_;
  std::array<double, 3> volts{}, loadAmps{}, loadAngle{};
  for (std::size_t p = 0; p < 3; ++p) {
    volts[p] = w.missingVoltage[p] ? kResidualVolts : at(kVoltage[p], n);
    loadAmps[p] = at(kCurrent[p], n) * (w.lowLoad ? kLowLoadShare : 1.0);
    loadAngle[p] = (w.lowLoad ? kLowLoadAngle[p] + at(kAngle[p], n) - kAngle[p].base : at(kAngle[p], n)) +
                   (w.exporting ? 180.0 : 0.0);
  }
  Instant v{};
  auto put = [&v](unsigned reg, std::int64_t value) { v[reg - kFirstInstant] = value; };
  std::int64_t p = 0, q = 0, s = 0;
  std::array<double, 3> amps{};
  for (std::size_t c = 0; c < 3; ++c) {
    // The CT in channel c carries the current of phase `from`.
    std::size_t from = c;
    if (w.swappedCts >= 0) {
      const std::size_t a = static_cast<std::size_t>(w.swappedCts), b = (a + 1) % 3;
      if (c == a) from = b;
      if (c == b) from = a;
    }
    amps[c] = loadAmps[from];
    const double angle =
        turn(kPhasePosition[c] - kPhasePosition[from] + loadAngle[from] + (w.reversedCt[c] ? 180.0 : 0.0));
    const double apparent = volts[c] * amps[c] / 1000.0;  // kVA
    const std::int64_t sc = raw(apparent, 10000), pc = raw(apparent * std::cos(radians(angle)), 10000),
                       qc = raw(apparent * std::sin(radians(angle)), 10000);
    put(366 + 2 * c, raw(volts[c], 10000));
    put(372 + 2 * c, raw(amps[c], 10000));
    put(380 + 2 * c, pc);
    put(388 + 2 * c, qc);
    put(396 + 2 * c, sc);
    put(403 + c, raw(std::cos(radians(angle)), 1000));
    put(406 + c, raw(angle, 10) % 3600);
    p += pc;
    q += qc;
    s += sc;
  }
  put(378, p);
  put(386, q);
  put(394, s);
  put(402, s > 0 ? raw(static_cast<double>(p) / static_cast<double>(s), 1000) : 1000);
  put(409, raw(at(kFrequency, n), 100));
  double lineSum = 0;
  for (std::size_t c = 0; c < 3; ++c) {
    const std::size_t d = (c + 1) % 3;
    const double line = between(volts[c], kPhasePosition[c], volts[d], kPhasePosition[d]);
    put(410 + 2 * c, raw(line, 10000));
    lineSum += line;
  }
  put(416, raw(lineSum / 3, 10000));
  put(418, raw((volts[0] + volts[1] + volts[2]) / 3, 10000));
  put(420, raw((amps[0] + amps[1] + amps[2]) / 3, 10000));
  return v;
}

double MeterModel::energy(unsigned group, unsigned tariff, double elapsed) const {
  unsigned g = group % kEnergyGroups.size();
  // A site that exports counts forward what it would count in reverse.
  if (wiring_.exporting && (g == kForwardActive || g == kReverseActive))
    g = g == kForwardActive ? kReverseActive : kForwardActive;
  const EnergyGroup& e = kEnergyGroups[g];
  return (e.base + e.rate * elapsed / 3600.0) * kTariffShare[tariff % kTariffShare.size()];
}

void MeterModel::update(RegisterImage& image, unsigned start, unsigned count, double elapsed) {
  std::optional<unsigned> step;
  Instant values{};
  for (std::size_t i = 0; i < kQuantityTable.size(); ++i) {
    const Quantity& q = kQuantityTable[i];
    const unsigned width = q.encoding == Encoding::int32 ? 2 : 1;
    if (!overlaps(start, count, q.reg, width)) continue;
    const unsigned n = reads_[i]++;
    if (step != n) values = instant(n), step = n;
    const std::int64_t value = values[q.reg - kFirstInstant];
    if (q.encoding == Encoding::int32)
      image.set_live_int32(q.reg, static_cast<std::int32_t>(value));
    else
      image.set_live(q.reg, static_cast<std::uint16_t>(value & 0xFFFF));
  }
  for (unsigned g = 0; g < kEnergyGroups.size(); ++g) {
    for (unsigned t = 0; t < kTariffShare.size(); ++t) {
      const double e = energy(g, t, elapsed);
      // Counters only ever step up: truncate rather than round.
      const unsigned low = t < 5 ? kvrm::kImageAFirst + 10 * g + 2 * t : 422 + 2 * g;
      if (overlaps(start, count, low, 2)) image.set_live_int32(low, to_int32(std::floor(e * 100)));
      const unsigned high = 444 + 12 * g + 2 * t;
      if (overlaps(start, count, high, 2)) image.set_live_int32(high, to_int32(std::floor(e * 1000)));
      const unsigned ratio = t < 5 ? kvrm::kImageBFirst + 10 * g + 2 * t : kvrm::kImageCFirst + 2 * g;
      if (overlaps(start, count, ratio, 2)) image.set_live_float(ratio, static_cast<float>(e) * kRatio);
    }
  }
}

}  // namespace meter_sim
