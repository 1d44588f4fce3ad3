#include "wiring_reading.h"

#include <cstring>
#include <stdexcept>

#include "publication/signal_catalogue.h"
#include "publication/signal_value.h"

namespace commissioning {

namespace {

double member(const unsigned char* block, const char* name) {
  for (const kvrm::SignalRow& row : kvrm::kSignalCatalogue)
    if (std::strcmp(row.name, name) == 0) return kvrm::signal_value(block, row);
  throw std::logic_error(std::string("no catalogue member ") + name);
}

struct PhaseNames {
  const char* voltage;
  const char* current;
  const char* active;
  const char* reactive;
  const char* apparent;
  const char* powerFactor;
  const char* angle;
  const char* lineVoltage;
};

constexpr std::array<PhaseNames, 3> kPhaseNames{{
    {"A相电压", "A相电流", "A相有功总功率", "A相无功总功率",  //
     "A相视在功率", "A相功率因数", "A相相角", "A相线电压"},
    {"B相电压", "B相电流", "B相有功总功率", "B相无功总功率",  //
     "B相视在功率", "B相功率因数", "B相相角", "B相线电压"},
    {"C相电压", "C相电流", "C相有功总功率", "C相无功总功率",  //
     "C相视在功率", "C相功率因数", "C相相角", "C相线电压"},
}};

}  // namespace

WiringReading wiring_reading(const unsigned char* block) {
  WiringReading r;
  for (std::size_t p = 0; p < 3; ++p) {
    const PhaseNames& n = kPhaseNames[p];
    PhaseReading& ph = r.phase[p];
    ph.voltage = member(block, n.voltage);
    ph.current = member(block, n.current);
    ph.active = member(block, n.active);
    ph.reactive = member(block, n.reactive);
    ph.apparent = member(block, n.apparent);
    ph.powerFactor = member(block, n.powerFactor);
    ph.angle = member(block, n.angle);
    ph.lineVoltage = member(block, n.lineVoltage);
  }
  r.active = member(block, "有功总功率");
  r.reactive = member(block, "无功总功率");
  r.apparent = member(block, "总视在功率");
  r.powerFactor = member(block, "总功率因数");
  r.frequency = member(block, "电网频率");
  return r;
}

}  // namespace commissioning
