#include "publication/signal_value.h"

#include <sstream>

namespace kvrm {

double signal_value(const unsigned char* block, const SignalRow& row) {
  switch (row.decoding) {
    case Decoding::I32:
      return scaled_reading(read_int32(block, row.offset), row.divisor);
    case Decoding::S16:
      return scaled_reading(read_int16(block, row.offset), row.divisor);
    case Decoding::U16:
      return scaled_reading(read_uint16(block, row.offset), row.divisor);
    case Decoding::F32:
      return static_cast<double>(read_float32(block, row.offset));
    case Decoding::Time:
      break;
  }
  return 0.0;
}

std::string update_time_text(const unsigned char* block) {
  // Bytes are widened to unsigned so that they print as numbers, not as
  // characters, whatever the signedness of char.
  const auto byte = [block](std::size_t offset) { return static_cast<unsigned>(block[offset]); };
  std::ostringstream text;
  text << read_uint16(block, kTimeOffset) << '-' << byte(kTimeOffset + 2) << '-' << byte(kTimeOffset + 3) << ' '
       << byte(kTimeOffset + 4) << ':' << byte(kTimeOffset + 5) << ':' << byte(kTimeOffset + 6);
  return text.str();
}

}  // namespace kvrm
