#include "alarms/float_text.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace kvrm {

namespace {

char* put(char* first, const char* word) {
  const std::size_t n = std::strlen(word);
  std::memcpy(first, word, n);
  return first + n;
}

}  // namespace

char* write_float_text(char* first, float v) {
  if (std::isnan(v)) return put(first, std::signbit(v) ? "-nan" : "nan");
  if (std::isinf(v)) return put(first, v < 0 ? "-infinity" : "infinity");
  // Same characters as printf's "%.9g" in the C locale, without its cost.
  return std::to_chars(first, first + kFloatTextRoom, static_cast<double>(v), std::chars_format::general, 9).ptr;
}

std::string float_text(float v) {
  char text[kFloatTextRoom];
  return std::string(text, write_float_text(text, v));
}

}  // namespace kvrm
