#include "meter_model.h"

#include <cmath>
#include <cstdint>

namespace meter_sim {

namespace {

enum class Encoding { int32, int16, uint16 };

struct Quantity {
  unsigned reg;
  Encoding encoding;
  double scale;      // register units per published unit
  double base;       // published units
  double amplitude;  // published units
};

// In register order; the wave of entry i is shifted by 0.7 i.
constexpr std::array<Quantity, MeterModel::kQuantities> kQuantityTable{{
    {366, Encoding::int32, 10000, 230.0, 2.0},    // phase voltages
    {368, Encoding::int32, 10000, 229.4, 1.6},
    {370, Encoding::int32, 10000, 231.1, 1.8},
    {372, Encoding::int32, 10000, 12.5, 0.8},     // phase currents
    {374, Encoding::int32, 10000, 11.8, 0.7},
    {376, Encoding::int32, 10000, 13.1, 0.9},
    {378, Encoding::int32, 10000, 8.52, 0.5},     // active power, total and phases
    {380, Encoding::int32, 10000, 2.81, 0.2},
    {382, Encoding::int32, 10000, 2.67, 0.2},
    {384, Encoding::int32, 10000, 3.04, 0.2},
    {386, Encoding::int32, 10000, 1.2, 0.3},      // reactive power; phase B leads
    {388, Encoding::int32, 10000, 0.9, 0.1},
    {390, Encoding::int32, 10000, -0.35, 0.1},
    {392, Encoding::int32, 10000, 0.65, 0.1},
    {394, Encoding::int32, 10000, 8.76, 0.5},     // apparent power
    {396, Encoding::int32, 10000, 2.88, 0.2},
    {398, Encoding::int32, 10000, 2.72, 0.2},
    {400, Encoding::int32, 10000, 3.16, 0.2},
    {402, Encoding::int16, 1000, 0.972, 0.01},    // power factors
    {403, Encoding::int16, 1000, 0.975, 0.01},
    {404, Encoding::int16, 1000, 0.982, 0.01},
    {405, Encoding::int16, 1000, 0.962, 0.01},
    {406, Encoding::uint16, 10, 12.8, 0.5},       // phase angles, degrees
    {407, Encoding::uint16, 10, 10.9, 0.5},
    {408, Encoding::uint16, 10, 15.8, 0.5},
    {409, Encoding::uint16, 100, 50.0, 0.04},     // grid frequency
    {410, Encoding::int32, 10000, 398.4, 2.5},    // line voltages
    {412, Encoding::int32, 10000, 399.6, 2.5},
    {414, Encoding::int32, 10000, 398.9, 2.5},
    {416, Encoding::int32, 10000, 399.0, 2.0},    // averages
    {418, Encoding::int32, 10000, 230.2, 1.5},
    {420, Encoding::int32, 10000, 12.47, 0.6},
}};

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

// Shares of the total by tariff: total, sharp, peak, flat, valley, deep valley.
constexpr std::array<double, 6> kTariffShare{{1.0, 0.12, 0.28, 0.34, 0.21, 0.05}};

// Amplitude steps per read: large enough that a few reads cover the wave.
constexpr double kWaveStep = 2.0;
constexpr double kWaveShift = 0.7;

std::int32_t to_int32(double v) { return static_cast<std::int32_t>(std::llround(v)); }

bool overlaps(unsigned start, unsigned count, unsigned reg, unsigned width) {
  return reg < start + count && start < reg + width;
}

}  // namespace

double MeterModel::quantity_value(unsigned reg, unsigned n) {
  for (std::size_t i = 0; i < kQuantityTable.size(); ++i) {
    const Quantity& q = kQuantityTable[i];
    if (q.reg == reg) return q.base + q.amplitude * std::sin(kWaveStep * n + kWaveShift * static_cast<double>(i));
  }
  return 0.0;
}

double MeterModel::energy(unsigned group, unsigned tariff, double elapsed) {
  const EnergyGroup& g = kEnergyGroups[group % kEnergyGroups.size()];
  return (g.base + g.rate * elapsed / 3600.0) * kTariffShare[tariff % kTariffShare.size()];
}

void MeterModel::update(RegisterImage& image, unsigned start, unsigned count, double elapsed) {
  for (std::size_t i = 0; i < kQuantityTable.size(); ++i) {
    const Quantity& q = kQuantityTable[i];
    const unsigned width = q.encoding == Encoding::int32 ? 2 : 1;
    if (!overlaps(start, count, q.reg, width)) continue;
    const double raw = quantity_value(q.reg, reads_[i]++) * q.scale;
    if (q.encoding == Encoding::int32)
      image.set_live_int32(q.reg, to_int32(raw));
    else
      image.set_live(q.reg, static_cast<std::uint16_t>(to_int32(raw) & 0xFFFF));
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
