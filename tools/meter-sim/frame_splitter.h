#pragma once
// Splits what a slave hears on the line into frames: requests for any
// address and replies of other slaves alike. A frame ends where its known
// length ends with a good CRC, so a slave stays in step after frames that
// are not its own; bytes that make no frame end at the 3.5-character
// silence and are dropped.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace meter_sim {

class FrameSplitter {
public:
  void add(const std::uint8_t* bytes, std::size_t length);
  // The next whole frame at the front, if one is there.
  std::optional<std::vector<std::uint8_t>> next();
  // The line fell silent: what is left can be no frame. Returns how many
  // bytes were dropped.
  std::size_t silence();
  bool empty() const { return buffer_.empty(); }

private:
  std::vector<std::uint8_t> buffer_;
};

}  // namespace meter_sim
