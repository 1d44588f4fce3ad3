// Control commands: register writes confirmed against the meter's reply,
// the snapshot hand-over, and the commands passed on to the host.
#include <iostream>
#include <mutex>
#include <string>

#include "control/command_codes.h"
#include "control/command_input.h"
#include "control/command_output.h"
#include "control/write_confirmation.h"
#include "plugin/kvrm4410t_q.h"

namespace {

// A command takes over the request state, so a round in progress is
// abandoned; for a write the payload handler judges the next reply.
void take_over(KVRM4410T_Q& dev, int code) {
  dev.requestState_ = code;
  dev.controlResult_ = kvrm::kOutcomeNone;
  dev.SMDSPDevice::OpenPort();
}

// The expected echo is in place before the request can be answered.
void start_write(KVRM4410T_Q& dev, int code, int expected) {
  take_over(dev, code);
  dev.controlExpected_ = expected;
}

}  // namespace

int KVRM4410T_Q::DeviceIoControl(int code, const void* in, int inLen, void* out, int outLen, int& outLenRet) {
  // The whole line in one insertion, so lines of concurrent commands do
  // not interleave.
  std::cout << ("KVRM4410T_Q::DeviceIoControl " + std::to_string(code) + "\n") << std::flush;

  switch (code) {
    case kvrm::kWriteRegister: {
      const auto w = kvrm::decode_single_write(in, inLen);
      if (!w) return -1;
      start_write(*this, code, w->value);
      modbus_write_register(w->address, w->value);
      return 0;
    }
    case kvrm::kWriteRegisters: {
      const auto w = kvrm::decode_multiple_write(in, inLen);
      if (!w) return -1;
      start_write(*this, code, w->count);
      modbus_write_registers(w->address, w->count, w->values.data());
      return 0;
    }
    case kvrm::kSignalCommand:
    case kvrm::kModeSignalCommand: {
      if (!kvrm::signal_input_readable(in, inLen)) return -1;
      take_over(*this, code);
      // The mode is read without the driver mutex: the host may send this
      // from inside its threshold service, during round completion.
      if (kvrm::signal_needs_parse(code, b_mode_.load()) && !kvrm::parses_as_json(in, inLen)) return -1;
      return SMDVDevice::DeviceIoControl(code, in, inLen, out, outLen, outLenRet);
    }
    case kvrm::kSnapshotText: {
      GenJsonData();
      // Round completion may be rewriting the snapshot on the serial path;
      // write it out and copy it under the lock that guards its rebuild.
      std::lock_guard<std::mutex> lock(mutex_);
      const std::string& text = snapshotText_.text(jsonSnapshot_);
      outLenRet = static_cast<int>(text.size());
      return kvrm::copy_text(text, out, kvrm::output_room(out, outLen)) ? 0 : -1;
    }
    case kvrm::kSnapshotAddress: {
      GenJsonData();
      {
        // Whoever holds the address may change the object behind the
        // driver's back: its kept text is checked before every use from now on.
        std::lock_guard<std::mutex> lock(mutex_);
        snapshotMembers_.lend();
        snapshotText_.lend();
      }
      outLenRet = static_cast<int>(kvrm::kAddressSize);
      return kvrm::store_address(&jsonSnapshot_, out, kvrm::output_room(out, outLen)) ? 0 : -1;
    }
    default:
      outLenRet = kvrm::store_outcome(controlResult_, out, kvrm::output_room(out, outLen));
      return SMDVDevice::DeviceIoControl(code, in, inLen, out, outLen, outLenRet);
  }
}

int KVRM4410T_Q::confirm_write() {
  const int state = requestState_;
  if (state == kvrm::kWriteRegister)
    controlResult_ = kvrm::judge_single_write(response_[0], controlExpected_);
  else if (state == kvrm::kWriteRegisters)
    controlResult_ = kvrm::judge_multiple_write(response_[0], response_[1], controlExpected_);
  else
    return 1;  // not awaiting a write reply: like any state the handler does not know
  Reset();
  return 0;
}
