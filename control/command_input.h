#pragma once
// Reading the input bytes of the commands that take input. The words of a
// write come in host byte order and may sit at any address, so they are
// copied out, never read through a cast pointer.
#include <array>
#include <cstdint>
#include <optional>

#include "host/rtu.h"

namespace kvrm {

// The most registers one Modbus write carries, as a count of values.
constexpr int kMaxWriteCount = static_cast<int>(host::kMaxWriteRegisters);

struct SingleWrite {
  std::uint16_t address = 0;
  std::uint16_t value = 0;
};

struct MultipleWrite {
  std::uint16_t address = 0;
  int count = 0;  // values in use, 1..kMaxWriteCount
  std::array<std::uint16_t, kMaxWriteCount> values{};
};

// 206: address, then value. Nothing when the input cannot hold both.
std::optional<SingleWrite> decode_single_write(const void* in, int inLen);

// 210: start address, then N = inLen / 2 - 1 values (an odd last byte is
// ignored). Nothing when the input is missing or N is outside 1..kMaxWriteCount.
std::optional<MultipleWrite> decode_multiple_write(const void* in, int inLen);

// 310 and 320: whether inLen bytes can be read at in.
bool signal_input_readable(const void* in, int inLen);

// 310 is always checked as JSON; 320 only outside point-file mode.
bool signal_needs_parse(int code, int mode);

// The JSON reader's verdict on exactly inLen bytes (readable input only).
bool parses_as_json(const void* in, int inLen);

}  // namespace kvrm
