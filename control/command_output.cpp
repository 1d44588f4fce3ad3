#include "control/command_output.h"

#include <cstring>

namespace kvrm {

std::size_t output_room(const void* out, int outLen) {
  if (outLen <= 0 || out == nullptr) return 0;
  return static_cast<std::size_t>(outLen);
}

bool copy_text(const std::string& text, void* out, std::size_t room) {
  if (room < text.size()) return false;
  if (!text.empty()) std::memcpy(out, text.data(), text.size());
  return true;
}

bool store_address(const void* address, void* out, std::size_t room) {
  if (room < kAddressSize) return false;
  std::memcpy(out, &address, kAddressSize);
  return true;
}

int store_outcome(std::int32_t outcome, void* out, std::size_t room) {
  if (room < kOutcomeSize) return 0;
  std::memcpy(out, &outcome, kOutcomeSize);
  return static_cast<int>(kOutcomeSize);
}

}  // namespace kvrm
