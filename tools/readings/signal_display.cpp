#include "signal_display.h"

#include <cmath>
#include <cstring>

namespace readings {

namespace {

constexpr DisplayRow kPhaseVoltages[] = {
    {"A相电压", "Phase A voltage"},
    {"B相电压", "Phase B voltage"},
    {"C相电压", "Phase C voltage"},
    {"三相平均相电压", "Average phase voltage"},
};
constexpr DisplayRow kLineVoltages[] = {
    {"A相线电压", "Line voltage A"},
    {"B相线电压", "Line voltage B"},
    {"C相线电压", "Line voltage C"},
    {"三相平均线电压", "Average line voltage"},
};
constexpr DisplayRow kCurrents[] = {
    {"A相电流", "Phase A current"},
    {"B相电流", "Phase B current"},
    {"C相电流", "Phase C current"},
    {"三相平均电流", "Average current"},
};
constexpr DisplayRow kActivePowers[] = {
    {"有功总功率", "Active power total"},
    {"A相有功总功率", "Active power A"},
    {"B相有功总功率", "Active power B"},
    {"C相有功总功率", "Active power C"},
};
constexpr DisplayRow kReactivePowers[] = {
    {"无功总功率", "Reactive power total"},
    {"A相无功总功率", "Reactive power A"},
    {"B相无功总功率", "Reactive power B"},
    {"C相无功总功率", "Reactive power C"},
};
constexpr DisplayRow kApparentPowers[] = {
    {"总视在功率", "Apparent power total"},
    {"A相视在功率", "Apparent power A"},
    {"B相视在功率", "Apparent power B"},
    {"C相视在功率", "Apparent power C"},
};
constexpr DisplayRow kPowerFactors[] = {
    {"总功率因数", "Power factor total"},
    {"A相功率因数", "Power factor A"},
    {"B相功率因数", "Power factor B"},
    {"C相功率因数", "Power factor C"},
};
constexpr DisplayRow kPhaseAngles[] = {
    {"A相相角", "Phase angle A"},
    {"B相相角", "Phase angle B"},
    {"C相相角", "Phase angle C"},
};
constexpr DisplayRow kFrequency[] = {
    {"电网频率", "Grid frequency"},
};
constexpr DisplayRow kEnergies[] = {
    {"组合有功总电能", "Combined active energy"},
    {"正向有功总电能", "Forward active energy"},
    {"反向有功总电能", "Reverse active energy"},
    {"组合无功1总电能", "Combined reactive 1"},
    {"组合无功2总电能", "Combined reactive 2"},
    {"一象限无功总电能", "Reactive quadrant I"},
    {"二象限无功总电能", "Reactive quadrant II"},
    {"三象限无功总电能", "Reactive quadrant III"},
    {"四象限无功总电能", "Reactive quadrant IV"},
    {"正向视在总电能", "Forward apparent energy"},
    {"反向视在总电能", "Reverse apparent energy"},
};

template <std::size_t N>
constexpr DisplayGroup group(const char* title, const char* unit, const DisplayRow (&rows)[N]) {
  return DisplayGroup{title, unit, rows, N};
}

// The energies mix three units, so they have a group of their own below;
// here their unit is left empty and unit_of() names it.
const std::array<DisplayGroup, 10> kGroups{{
    group("Phase voltages", "V", kPhaseVoltages),
    group("Line voltages", "V", kLineVoltages),
    group("Currents", "A", kCurrents),
    group("Active power", "kW", kActivePowers),
    group("Reactive power", "kvar", kReactivePowers),
    group("Apparent power", "kVA", kApparentPowers),
    group("Power factors", "", kPowerFactors),
    group("Phase angles", "°", kPhaseAngles),
    group("Frequency", "Hz", kFrequency),
    group("Energy totals", "", kEnergies),
}};

bool contains(const char* text, const char* word) { return std::strstr(text, word) != nullptr; }

// Energy units by group word: active, reactive (also the quadrant groups,
// whose words all hold 无功) and apparent.
const char* energy_unit(const char* name) {
  if (contains(name, "有功")) return "kWh";
  if (contains(name, "无功")) return "kvarh";
  if (contains(name, "视在")) return "kVAh";
  return nullptr;
}

}  // namespace

const std::array<DisplayGroup, 10>& display_groups() { return kGroups; }

const kvrm::SignalRow* catalogue_row(const std::string& name) {
  for (const kvrm::SignalRow& row : kvrm::kSignalCatalogue)
    if (name == row.name) return &row;
  return nullptr;
}

std::optional<std::string> unit_of(const std::string& name) {
  const kvrm::SignalRow* row = catalogue_row(name);
  if (!row || row->decoding == kvrm::Decoding::Time) return std::nullopt;
  if (contains(row->name, "电能")) {
    if (const char* unit = energy_unit(row->name)) return std::string(unit);
    return std::nullopt;
  }
  for (const DisplayGroup& g : kGroups)
    for (std::size_t i = 0; i < g.count; ++i)
      if (name == g.rows[i].name) return std::string(g.unit);
  return std::nullopt;
}

int decimals_of(const kvrm::SignalRow& row) {
  if (row.divisor <= 0.0f) return 3;
  return static_cast<int>(std::lround(std::log10(static_cast<double>(row.divisor))));
}

}  // namespace readings
