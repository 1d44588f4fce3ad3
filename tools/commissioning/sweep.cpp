#include "sweep.h"

namespace commissioning {

Sweep sweep(meter_host::ModbusLine& line, const std::vector<unsigned>& slaves,
            const std::function<void(std::size_t, std::size_t)>& asking) {
  Sweep s;
  const auto start = std::chrono::steady_clock::now();
  for (std::size_t i = 0; i < slaves.size(); ++i) {
    if (asking) asking(i, s.present.size());
    ReadResult r = read_registers(line, static_cast<std::uint8_t>(slaves[i]), kProbeRegister, 1);
    switch (r.kind) {
      case ReadResult::Kind::data:
      case ReadResult::Kind::exception:
        s.present.emplace_back(slaves[i], std::move(r));
        break;
      case ReadResult::Kind::garbled:
        s.garbled.push_back(slaves[i]);
        break;
      case ReadResult::Kind::lost:
        s.lost = r.why;
        s.took = std::chrono::steady_clock::now() - start;
        return s;
      case ReadResult::Kind::silent:
        break;
    }
  }
  s.took = std::chrono::steady_clock::now() - start;
  return s;
}

}  // namespace commissioning
