// The simulated meter's request handling: the slave's answer to arbitrary
// requests, framed or split from a byte stream as meter-sim's line reader
// does. The first bytes choose the slave's address, its image (the meter's
// three blocks or every register), the live model, and a fault plan; then
// come operations. A reply is always a whole frame from the slave's own
// address, and without a fault the host's reply check accepts the answer
// to a well-formed request.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "frame_splitter.h"
#include "fuzz_input.h"
#include "host/rtu.h"
#include "slave.h"

namespace {

constexpr int kMaxOperations = 128;

using Frame = std::vector<std::uint8_t>;

meter_sim::FaultPlan fault_plan(kvfuzz::Input& in) {
  meter_sim::FaultPlan plan;
  const std::uint8_t b = in.byte();
  plan.kind = static_cast<meter_sim::Fault>(b % 6);
  plan.after = (b >> 3) % 4;
  plan.count = (b >> 5) % 4;
  plan.exceptionCode = in.byte();
  return plan;
}

// A request the host could send; its verdict on the reply is checked.
struct Asked {
  host::Request request;
  Frame frame;
};

Asked well_formed(std::uint8_t slave, kvfuzz::Input& in) {
  Asked a;
  std::uint8_t f[host::kMaxFrameSize];
  std::size_t n = 0;
  const std::uint8_t kind = in.byte() % 3;
  const std::uint16_t address = in.word();
  if (kind == 0) {
    const unsigned count = in.byte();
    n = host::build_read_request(f, slave, address, count);
    a.request = {slave, host::kReadHoldingRegisters, address, static_cast<std::uint16_t>(count)};
  } else if (kind == 1) {
    n = host::build_write_single(f, slave, address, in.word());
    a.request = {slave, host::kWriteSingleRegister, address, 1};
  } else {
    const unsigned count = in.byte() % (host::kMaxWriteRegisters + 2);
    std::vector<std::uint16_t> values(count);
    for (auto& v : values) v = in.word();
    n = host::build_write_multiple(f, slave, address, count, values.data());
    a.request = {slave, host::kWriteMultipleRegisters, address, static_cast<std::uint16_t>(count)};
  }
  a.frame.assign(f, f + n);
  return a;
}

void check_reply(const meter_sim::Slave& slave, const meter_sim::Reply& reply) {
  if (reply.frame.empty()) return;
  if (reply.frame.size() < 4 || reply.frame.size() > host::kMaxFrameSize) std::abort();
  if (reply.frame[0] != slave.address()) std::abort();
  if (reply.faulted) return;
  if (!host::crc_ok(reply.frame.data(), reply.frame.size())) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kvfuzz::Input in(data, size);
  const std::uint8_t address = in.byte();
  const std::uint8_t options = in.byte();
  const bool everyRegister = (options & 0x01) != 0;
  const bool live = (options & 0x02) != 0;
  const meter_sim::FaultPlan plan = fault_plan(in);
  meter_sim::Slave slave(address,
                         everyRegister ? meter_sim::RegisterImage::every_register() : meter_sim::RegisterImage(),
                         live, plan);
  meter_sim::FrameSplitter splitter;
  double elapsed = 0;

  for (int i = 0; i < kMaxOperations && !in.empty(); ++i) {
    elapsed += in.byte() * 0.25;
    switch (in.byte() % 5) {
      case 0: {  // any body with a good CRC
        const std::string body = in.bytes(in.byte());
        Frame f(body.begin(), body.end());
        host::append_crc(f);
        check_reply(slave, slave.handle(f.data(), f.size(), elapsed));
        break;
      }
      case 1: {  // any bytes
        const std::string raw = in.bytes(in.byte());
        check_reply(slave, slave.handle(reinterpret_cast<const std::uint8_t*>(raw.data()), raw.size(), elapsed));
        break;
      }
      case 2: {  // a request the host builds, judged by the host's check
        const Asked asked = well_formed(slave.address(), in);
        if (asked.frame.empty()) break;  // outside the limits: the host sends nothing
        const meter_sim::Reply reply = slave.handle(asked.frame.data(), asked.frame.size(), elapsed);
        check_reply(slave, reply);
        if (plan.kind != meter_sim::Fault::none || slave.address() == host::kBroadcastAddress) break;
        const host::ReplyCheck verdict = host::check_reply(asked.request, reply.frame.data(), reply.frame.size());
        if (verdict.verdict != host::ReplyVerdict::answer && verdict.verdict != host::ReplyVerdict::exception)
          std::abort();
        break;
      }
      case 3: {  // the line as meter-sim reads it
        const std::string raw = in.bytes(in.byte());
        splitter.add(reinterpret_cast<const std::uint8_t*>(raw.data()), raw.size());
        while (auto frame = splitter.next()) check_reply(slave, slave.handle(frame->data(), frame->size(), elapsed));
        break;
      }
      default:
        splitter.silence();
        break;
    }
  }
  return 0;
}
