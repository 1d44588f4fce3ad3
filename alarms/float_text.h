#pragma once
// The one text form of a float in this project: alarm texts, value texts
// and the bench host's log lines all write floats through it.
#include <cstddef>
#include <string>

namespace kvrm {

// Room for the longest text ("-1.17549435e-38" has 15 characters).
constexpr std::size_t kFloatTextRoom = 24;

// A float as text, without a terminator: nine significant digits ("%.9g"
// of the widened value), "nan" or "infinity", each with "-" when the sign
// bit is set. `first` has kFloatTextRoom characters; returns the end.
char* write_float_text(char* first, float v);

std::string float_text(float v);

}  // namespace kvrm
