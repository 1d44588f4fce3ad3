#pragma once
// A double as the compact JSON writer prints it, without its snprintf and
// its string per number.
#include <cstddef>

namespace kvrm {

// Room for the longest text ("-2.2250738585072014e-308" has 24 characters).
constexpr std::size_t kJsonNumberRoom = 32;

// Seventeen significant digits ("%.17g"), ".0" added when the text has
// neither a point nor an exponent; NaN as null, infinities as 1e+9999 and
// -1e+9999. `first` has kJsonNumberRoom characters; returns the end.
char* write_json_number(char* first, double v);

}  // namespace kvrm
