#pragma once
// Whole numbers and durations from command-line text, range-checked.
#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace cli {

// Decimal, or hexadecimal after "0x"; the whole text must be the number.
inline std::optional<long long> parse_integer(const std::string& text, long long min, long long max) {
  if (text.empty() || text.size() > 20) return std::nullopt;
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(text.c_str(), &end, hex ? 16 : 10);
  if (errno != 0 || end == text.c_str() || *end != '\0' || v < min || v > max) return std::nullopt;
  if (!hex && (text[0] == ' ' || text[0] == '\t' || text[0] == '+')) return std::nullopt;
  return v;
}

// A non-negative decimal number of seconds, fractions allowed.
inline std::optional<double> parse_seconds(const std::string& text, double max) {
  if (text.empty() || text[0] == ' ' || text[0] == '-' || text[0] == '+') return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text.c_str(), &end);
  if (errno != 0 || end == text.c_str() || *end != '\0' || !(v >= 0.0) || v > max) return std::nullopt;
  return v;
}

// The value of option args[i], which then moves past it; error says why
// there is none.
inline bool take_value(const std::vector<std::string>& args, std::size_t& i, std::string* out, std::string* error) {
  if (i + 1 >= args.size()) {
    *error = args[i] + " needs a value";
    return false;
  }
  *out = args[++i];
  return true;
}

// The whole-number value of option args[i], in [min, max].
inline bool take_integer(const std::vector<std::string>& args, std::size_t& i, long long min, long long max,
                         long long* out, std::string* error) {
  const std::string option = args[i];
  std::string text;
  if (!take_value(args, i, &text, error)) return false;
  const auto v = parse_integer(text, min, max);
  if (!v) {
    *error = option + ": expected a whole number from " + std::to_string(min) + " to " + std::to_string(max) +
             ", got \"" + text + "\"";
    return false;
  }
  *out = *v;
  return true;
}

}  // namespace cli
