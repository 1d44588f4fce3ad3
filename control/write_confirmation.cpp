#include "control/write_confirmation.h"

#include "control/command_codes.h"
#include "host/rtu.h"

namespace kvrm {

int judge_single_write(std::uint16_t echoedValue, int expectedValue) {
  return echoedValue == expectedValue ? kOutcomeConfirmed : kOutcomeNotConfirmed;
}

int judge_multiple_write(std::uint16_t function, std::uint16_t echoedCount, int expectedCount) {
  return function == host::kWriteMultipleRegisters && echoedCount == expectedCount ? kOutcomeConfirmed
                                                                            : kOutcomeNotConfirmed;
}

}  // namespace kvrm
