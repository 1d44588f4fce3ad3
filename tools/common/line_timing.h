#pragma once
// Timing of a Modbus RTU serial line: the time of one character, the
// 3.5-character silence that ends a frame, and the wire time of frames.
#include <chrono>
#include <cstddef>

namespace rtu_line {

using Nanos = std::chrono::nanoseconds;

// Start bit, eight data bits, the parity bit if any, one stop bit.
constexpr unsigned bits_per_char(bool parity) { return parity ? 11u : 10u; }

// Time on the wire of `bytes` characters.
constexpr Nanos wire_time(std::size_t bytes, unsigned baud, bool parity) {
  return Nanos(static_cast<long long>(1000000000ull * bits_per_char(parity) * bytes / (baud ? baud : 1)));
}

constexpr Nanos char_time(unsigned baud, bool parity) { return wire_time(1, baud, parity); }

// The silence between frames: 3.5 characters, but a fixed 1.75 ms above
// 19200 baud, where the character time no longer matters to receivers.
constexpr Nanos silence(unsigned baud, bool parity) {
  if (baud > 19200) return std::chrono::microseconds(1750);
  return Nanos(static_cast<long long>(1000000000ull * bits_per_char(parity) * 7 / (2ull * (baud ? baud : 1))));
}

// Wire time of one round of the meter's 22 reads: requests and replies plus
// a silence after each frame.
Nanos round_wire_time(unsigned baud, bool parity);

}  // namespace rtu_line
