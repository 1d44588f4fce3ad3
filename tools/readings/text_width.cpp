#include "text_width.h"

namespace readings {

namespace {

// East Asian wide and full-width ranges, as terminals draw them.
bool is_wide(char32_t c) {
  return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) || (c >= 0xAC00 && c <= 0xD7A3) ||
         (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
         (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
}

}  // namespace

std::size_t display_width(const std::string& utf8) {
  std::size_t width = 0;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    const std::size_t length = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 1;
    char32_t c = length == 1 ? b : b & (0x7F >> length);
    for (std::size_t k = 1; k < length && i + k < utf8.size(); ++k)
      c = (c << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    width += is_wide(c) ? 2 : 1;
    i += length;
  }
  return width;
}

std::string pad_right(const std::string& utf8, std::size_t width) {
  const std::size_t w = display_width(utf8);
  return w >= width ? utf8 : utf8 + std::string(width - w, ' ');
}

std::string pad_left(const std::string& utf8, std::size_t width) {
  const std::size_t w = display_width(utf8);
  return w >= width ? utf8 : std::string(width - w, ' ') + utf8;
}

}  // namespace readings
