// Commands with arbitrary codes, input bytes and output room. The first
// byte chooses the mode and whether a round has completed; then each
// command is a code (mostly one the driver handles itself), an output
// capacity, an input length and the input bytes. Input and output are heap
// buffers of exactly the sizes given, so a read or write past them is
// caught. Pending writes are answered by the tests' meter now and then.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <json/value.h>

#include "acquisition/data_block.h"
#include "config/modes.h"
#include "control/command_codes.h"
#include "fuzz_input.h"
#include "support/driver.h"

namespace {

constexpr int kModes[] = {kvrm::kPointFileMode, kvrm::kListingMode, kvrm::kThresholdMode, 0};
constexpr int kCodes[] = {kvrm::kWriteRegister, kvrm::kWriteRegisters, kvrm::kSignalCommand,
                          kvrm::kModeSignalCommand, kvrm::kSnapshotText, kvrm::kSnapshotAddress,
                          0, 1, 800, 802};
constexpr std::size_t kCodeCount = sizeof kCodes / sizeof kCodes[0];
constexpr int kMaxCommands = 16;

int pick_code(kvfuzz::Input& in) {
  const std::uint8_t b = in.byte();
  if (b < 0xF0) return kCodes[b % kCodeCount];
  return static_cast<int>(in.u32());
}

// Mostly 0..16383 bytes, which holds the snapshot text or not; now and then
// a negative capacity, which is no room at all.
int pick_out_len(kvfuzz::Input& in) {
  const std::uint16_t w = in.word();
  return w < 0xF000 ? w % 0x4000 : -static_cast<int>(w & 0x0FFF) - 1;
}

// What the command table promises for the codes the driver answers itself.
void check_output(KVRM4410T_Q& dev, int code, int result, const unsigned char* out, int outLen, int outLenRet) {
  const std::size_t room = out != nullptr && outLen > 0 ? static_cast<std::size_t>(outLen) : 0;
  if (code == kvrm::kSnapshotText) {
    if (outLenRet < 0 || (result == 0) != (static_cast<std::size_t>(outLenRet) <= room)) std::abort();
  } else if (code == kvrm::kSnapshotAddress) {
    if (outLenRet != static_cast<int>(sizeof(void*)) || (result == 0) != (room >= sizeof(void*))) std::abort();
    const Json::Value* handed = nullptr;
    if (result == 0) std::memcpy(&handed, out, sizeof handed);
    if (result == 0 && handed != &dev.jsonSnapshot_) std::abort();
  }
  const int outcome = dev.controlResult_;
  if (outcome != kvrm::kOutcomeNone && outcome != kvrm::kOutcomeConfirmed && outcome != kvrm::kOutcomeNotConfirmed)
    std::abort();
}

void command(kvtest::Driver<>& driver, host::MeterImage& meter, kvfuzz::Input& in) {
  const int code = pick_code(in);
  const int outLen = pick_out_len(in);
  const std::uint8_t shape = in.byte();
  const std::string input = in.bytes(shape & 0x80 ? in.word() % 1024 : in.byte());

  const bool noOut = (shape & 0x01) != 0;
  const std::unique_ptr<unsigned char[]> out(noOut ? nullptr : new unsigned char[outLen > 0 ? outLen : 0]);
  const bool noIn = input.empty() && (shape & 0x02) != 0;
  const std::unique_ptr<unsigned char[]> inBuf(noIn ? nullptr : new unsigned char[input.size()]);
  if (inBuf) std::memcpy(inBuf.get(), input.data(), input.size());

  int outLenRet = shape & 0x04 ? -7 : 0;  // whatever the caller left there
  const int result =
      driver.dev.DeviceIoControl(code, inBuf.get(), static_cast<int>(input.size()), out.get(), outLen, outLenRet);
  check_output(driver.dev, code, result, out.get(), outLen, outLenRet);

  // The meter answers the oldest request now and then; the rest are dropped.
  if (shape & 0x08) host::pump(driver.rec, driver.dev, meter, 1);
  if (shape & 0x10) driver.rec.clear();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kvfuzz::drop_stdout();
  kvfuzz::Input in(data, size);
  const std::uint8_t setup = in.byte();

  kvtest::Driver<> driver;
  driver.dev.b_mode_ = kModes[setup % 4];
  if (setup & 0x04) {
    const std::string block = in.bytes(kvrm::kBlockSize) + std::string(kvrm::kBlockSize, '\0');
    driver.dev.LoadFromCache(reinterpret_cast<const unsigned char*>(block.data()), kvrm::kBlockSize);
  }
  host::MeterImage meter;
  for (int i = 0; i < kMaxCommands && !in.empty(); ++i) command(driver, meter, in);
  return 0;
}
