// The host's Modbus layer and the payload handler with arbitrary reply
// frames while reads and writes are pending, interleaved with status
// refreshes and write commands. The input is a stream of operations; the
// frames are raw bytes, well-formed replies to the pending request with
// arbitrary contents (the CRC made right), or the tests' meter's answers.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "control/command_codes.h"
#include "fuzz_input.h"
#include "host/rtu.h"
#include "support/driver.h"

namespace {

constexpr int kMaxOperations = 256;

using Frame = std::vector<std::uint8_t>;

void deliver(KVRM4410T_Q& dev, Frame frame) { dev.process(frame.data(), static_cast<unsigned>(frame.size())); }

// A reply shaped for the pending request, its words from the input; one
// byte of the body may be changed before the CRC is added.
Frame shaped_reply(const KVRM4410T_Q& dev, kvfuzz::Input& in) {
  const SPModbus::PendingRequest pending = dev.Pending();
  const std::uint8_t twist = in.byte();
  Frame f{dev.slaveAddress_, pending.function};
  if (pending.function == host::kReadHoldingRegisters) {
    f.push_back(static_cast<std::uint8_t>(2 * pending.count));
    for (unsigned i = 0; i < pending.count; ++i) host::put_word(f, in.word());
  } else {
    host::put_word(f, pending.address);
    host::put_word(f, in.word());  // the echoed value or count
  }
  if (twist & 0x80) f[twist % f.size()] = in.byte();
  host::append_crc(f);
  return f;
}

void write_command(KVRM4410T_Q& dev, int code, kvfuzz::Input& in) {
  const std::string input = in.bytes(code == kvrm::kWriteRegister ? 4 : in.byte() % 16);
  int outLenRet = 0;
  dev.DeviceIoControl(code, input.data(), static_cast<int>(input.size()), nullptr, 0, outLenRet);
}

// The request state is one of the polling states or the command that took
// the line over; the outcome one of the three.
void check(const KVRM4410T_Q& dev) {
  const int state = dev.requestState_;
  const bool polling = state >= 11 && state <= 32;
  if (state != 0 && !polling && state != kvrm::kWriteRegister && state != kvrm::kWriteRegisters) std::abort();
  const int outcome = dev.controlResult_;
  if (outcome != kvrm::kOutcomeNone && outcome != kvrm::kOutcomeConfirmed && outcome != kvrm::kOutcomeNotConfirmed)
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kvfuzz::drop_stdout();
  kvfuzz::Input in(data, size);
  kvtest::Driver<> driver;
  KVRM4410T_Q& dev = driver.dev;
  host::MeterImage meter;

  for (int i = 0; i < kMaxOperations && !in.empty(); ++i) {
    switch (in.byte() % 8) {
      case 0:
        dev.RefreshStatus();
        break;
      case 1:
        write_command(dev, kvrm::kWriteRegister, in);
        break;
      case 2:
        write_command(dev, kvrm::kWriteRegisters, in);
        break;
      case 3: {  // the meter answers the oldest request not yet answered
        const Frame request = driver.rec.take_frame();
        if (!request.empty()) deliver(dev, meter.reply_to(request));
        break;
      }
      case 4:
        deliver(dev, shaped_reply(dev, in));
        break;
      case 5: {
        const std::string raw = in.bytes(in.byte());
        deliver(dev, Frame(raw.begin(), raw.end()));
        break;
      }
      case 6:
        deliver(dev, host::exception_reply(dev.slaveAddress_, in.byte(), in.byte()));
        break;
      default:
        meter.set(in.word(), in.word());
        break;
    }
    check(dev);
  }
  return 0;
}
