#include "frame_splitter.h"

#include "host/rtu.h"

namespace meter_sim {

namespace {

// Lengths the frame at the front may have, as a request or as a reply,
// from what its first bytes say; 0 where they do not say yet.
std::vector<std::size_t> candidate_lengths(const std::vector<std::uint8_t>& b) {
  std::vector<std::size_t> out;
  if (b.size() < 2) return out;
  const std::uint8_t function = b[1];
  if (function & host::kExceptionFlag) return {5};  // exception reply
  out.push_back(8);                 // request of 3, 4, 6, 16 reply, ...
  if (b.size() > 2) out.push_back(5u + b[2]);  // read reply: byte count
  if (b.size() > 6) out.push_back(9u + b[6]);  // write-multiple request
  return out;
}

}  // namespace

void FrameSplitter::add(const std::uint8_t* bytes, std::size_t length) { buffer_.insert(buffer_.end(), bytes, bytes + length); }

std::optional<std::vector<std::uint8_t>> FrameSplitter::next() {
  std::size_t best = 0;
  for (std::size_t n : candidate_lengths(buffer_))
    if (n <= buffer_.size() && host::crc_ok(buffer_.data(), n) && (best == 0 || n < best)) best = n;
  if (best == 0) {
    // Too long to be a frame: garbage that never fell silent.
    if (buffer_.size() > host::kMaxFrameSize) buffer_.clear();
    return std::nullopt;
  }
  std::vector<std::uint8_t> frame(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(best));
  buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(best));
  return frame;
}

std::size_t FrameSplitter::silence() {
  const std::size_t n = buffer_.size();
  buffer_.clear();
  return n;
}

}  // namespace meter_sim
