#pragma once
// Whole numbers from text (stdin commands, settings files), range-checked.
#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string>

namespace cli {

// Decimal, or hexadecimal after "0x"; the whole text must be the number.
inline std::optional<long long> parse_integer(const std::string& text, long long min, long long max) {
  if (text.empty() || text.size() > 20) return std::nullopt;
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  if (!hex && (text[0] == ' ' || text[0] == '\t' || text[0] == '+')) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(text.c_str(), &end, hex ? 16 : 10);
  if (errno != 0 || end == text.c_str() || *end != '\0' || v < min || v > max) return std::nullopt;
  return v;
}

}  // namespace cli
