#include "line_timing.h"

#include "acquisition/read_sequence.h"

namespace rtu_line {

Nanos round_wire_time(unsigned baud, bool parity) {
  std::size_t bytes = 0;
  std::size_t frames = 0;
  for (const kvrm::ReadStep& step : kvrm::kReadSequence) {
    bytes += 8;                   // address, function, start, count, CRC
    bytes += 5 + 2 * step.count;  // address, function, byte count, registers, CRC
    frames += 2;
  }
  return wire_time(bytes, baud, parity) + static_cast<long long>(frames) * silence(baud, parity);
}

}  // namespace rtu_line
