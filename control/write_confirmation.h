#pragma once
// Judging the meter's reply to a register write against what was written.
#include <cstdint>

namespace kvrm {

// 206: the reply must echo the value written.
int judge_single_write(std::uint16_t echoedValue, int expectedValue);

// 210: the reply must be a multiple-register write of the count written;
// the host's Modbus layer puts the function code in the first word.
int judge_multiple_write(std::uint16_t function, std::uint16_t echoedCount, int expectedCount);

}  // namespace kvrm
