// Status refresh and the payload handler: one step of the read sequence per
// reply, then round completion.
#include <mutex>

#include "acquisition/read_sequence.h"
#include "control/command_codes.h"
#include "plugin/kvrm4410t_q.h"

// Round completion stamps the last seven bytes of the block.
static_assert(sizeof(KVRM4410T_Q_Data_t) - sizeof(ttime_t) == kvrm::kTimeOffset, "time stamp closes the block");

int KVRM4410T_Q::RefreshStatus() {
  SMDSPDevice::RefreshStatus();
  // Whatever was in progress, a round or a command, is abandoned.
  requestState_ = kvrm::kFirstState;
  const kvrm::ReadStep& first = kvrm::kReadSequence.front();
  modbus_read_registers(first.start, first.count);
  return 1;
}

int KVRM4410T_Q::process_payload(SPModbus::tab_type, unsigned int) {
  int state = requestState_.load();
  if (const kvrm::ReadStep* step = kvrm::step_for_state(state)) {
    // The fixed count of the step, whatever the reply carried; under the
    // mutex so that a rebuild on a host thread never sees half a value.
    {
      std::lock_guard<std::mutex> lock(mutex_);
      kvrm::store_registers(block(), step->offset, response_, step->count);
    }
    if (state == kvrm::kLastState) {
      RoundDone();
      return 0;
    }
    // A command that took over the line meanwhile keeps it.
    if (!requestState_.compare_exchange_strong(state, state + 1)) return 1;
    // Not the last state: the next step follows in the sequence.
    const kvrm::ReadStep& next = step[1];
    modbus_read_registers(next.start, next.count);
    return 1;
  }
  // A register write's request state: its reply is a confirmation.
  if (state == kvrm::kWriteRegister || state == kvrm::kWriteRegisters) return confirm_write();
  return 1;
}
