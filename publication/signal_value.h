#pragma once
// Reading one catalogue member out of the meter data block.
#include <cfloat>
#include <string>

#include "publication/signal_catalogue.h"

// Published numbers are single-precision results; excess precision in the
// intermediate steps would change them.
#if FLT_EVAL_METHOD != 0
#error "single-precision arithmetic must be evaluated in single precision"
#endif

namespace kvrm {

// An integer reading scaled the way the meter's values are published: the
// reading rounded to single precision, divided in single precision by a
// single-precision divisor, and the quotient widened exactly.
template <class Int>
double scaled_reading(Int raw, float divisor) {
  const float reading = static_cast<float>(raw);
  const float quotient = reading / divisor;
  return static_cast<double>(quotient);
}

// The value of a numeric member (any row but the time).
double signal_value(const unsigned char* block, const SignalRow& row);

// "year-month-day hour:minute:second" from the block's time stamp, every
// field a plain decimal without padding: 2024-3-5 7:4:9.
std::string update_time_text(const unsigned char* block);

}  // namespace kvrm
