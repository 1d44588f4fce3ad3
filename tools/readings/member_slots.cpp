#include "member_slots.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "acquisition/data_block.h"

namespace readings {

void put_member(unsigned char* block, const kvrm::SignalRow& row, double value) {
  switch (row.decoding) {
    case kvrm::Decoding::I32: {
      const auto raw = static_cast<std::uint32_t>(static_cast<std::int32_t>(std::llround(value * row.divisor)));
      kvrm::write_uint16(block, row.offset, static_cast<std::uint16_t>(raw >> 16));
      kvrm::write_uint16(block, row.offset + 2, static_cast<std::uint16_t>(raw & 0xFFFF));
      break;
    }
    case kvrm::Decoding::S16:
    case kvrm::Decoding::U16:
      kvrm::write_uint16(block, row.offset, static_cast<std::uint16_t>(std::lround(value * row.divisor) & 0xFFFF));
      break;
    case kvrm::Decoding::F32: {
      const float f = static_cast<float>(value);
      std::memcpy(block + row.offset, &f, sizeof f);
      break;
    }
    case kvrm::Decoding::Time:
      break;
  }
}

}  // namespace readings
