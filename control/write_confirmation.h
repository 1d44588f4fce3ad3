#pragma once
// Judging the meter's reply to a register write against what was written.
#include <cstdint>

namespace kvrm {

// The function code that the host's Modbus layer puts in the first word
// after a multiple-register write.
constexpr std::uint16_t kWriteMultipleFunction = 16;

// 206: the reply must echo the value written.
int judge_single_write(std::uint16_t echoedValue, int expectedValue);

// 210: the reply must be a multiple-register write of the count written.
int judge_multiple_write(std::uint16_t function, std::uint16_t echoedCount, int expectedCount);

}  // namespace kvrm
