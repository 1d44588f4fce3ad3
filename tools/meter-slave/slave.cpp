#include "slave.h"

#include <utility>

#include "host/rtu.h"

namespace meter_sim {

namespace {

using host::kReadHoldingRegisters;
using host::kWriteMultipleRegisters;
using host::kWriteSingleRegister;
using host::put_word;
using host::word_at;

struct FaultName {
  Fault fault;
  const char* name;
};
constexpr FaultName kFaultNames[] = {{Fault::none, "none"},           {Fault::no_reply, "no-reply"},
                                     {Fault::bad_crc, "bad-crc"},     {Fault::exception, "exception"},
                                     {Fault::wrong_echo, "wrong-echo"}, {Fault::slow, "slow"},
                                     {Fault::hold, "hold"}};

}  // namespace

std::optional<Fault> parse_fault(const std::string& name) {
  for (const FaultName& f : kFaultNames)
    if (name == f.name) return f.fault;
  return std::nullopt;
}

const char* fault_name(Fault f) {
  for (const FaultName& n : kFaultNames)
    if (n.fault == f) return n.name;
  return "?";
}

bool FaultPlan::hits(unsigned request) const {
  if (kind == Fault::none || request <= after) return false;
  return count == 0 || request - after <= count;
}

Slave::Slave(std::uint8_t address, RegisterImage image, bool live, FaultPlan plan, Wiring wiring)
    : address_(address), image_(std::move(image)), live_(live), model_(wiring), plan_(plan) {}

std::vector<std::uint8_t> Slave::exception(std::uint8_t function, std::uint8_t code) const {
  std::vector<std::uint8_t> f{address_, static_cast<std::uint8_t>(function | host::kExceptionFlag), code};
  host::append_crc(f);
  return f;
}

std::vector<std::uint8_t> Slave::answer(const std::uint8_t* adu, std::size_t length, double elapsed,
                                        std::string* note) {
  const std::uint8_t function = adu[1];
  const unsigned address = length >= 4 ? word_at(adu + 2) : 0;
  // The register count, or the value of a single write.
  const unsigned count = length >= 6 ? word_at(adu + 4) : 0;
  std::vector<std::uint8_t> f{address_, function};

  if (function == kReadHoldingRegisters && length == 8) {
    *note = "read " + std::to_string(address) + "+" + std::to_string(count);
    if (count < 1 || count > host::kMaxReadRegisters) return exception(function, kIllegalValue);
    if (!image_.serves(address, count)) return exception(function, kIllegalAddress);
    if (live_) model_.update(image_, address, count, elapsed);
    f.push_back(static_cast<std::uint8_t>(2 * count));
    for (unsigned r = address; r < address + count; ++r) put_word(f, image_.get(r));
  } else if (function == kWriteSingleRegister && length == 8) {
    *note = "write " + std::to_string(address) + "=" + std::to_string(count);
    if (!image_.serves(address, 1)) return exception(function, kIllegalAddress);
    image_.set(address, static_cast<std::uint16_t>(count));
    const bool wrong = plan_.kind == Fault::wrong_echo && plan_.hits(requests_);
    put_word(f, address);
    put_word(f, wrong ? (count + 1) & 0xFFFF : count);
  } else if (function == kWriteMultipleRegisters && length >= 9) {
    *note = "write " + std::to_string(address) + "+" + std::to_string(count);
    if (count < 1 || count > host::kMaxWriteRegisters || adu[6] != 2 * count || length != 9 + 2 * count)
      return exception(function, kIllegalValue);
    if (!image_.serves(address, count)) return exception(function, kIllegalAddress);
    for (unsigned i = 0; i < count; ++i)
      image_.set(address + i, static_cast<std::uint16_t>(word_at(adu + 7 + 2 * i)));
    const bool wrong = plan_.kind == Fault::wrong_echo && plan_.hits(requests_);
    put_word(f, address);
    put_word(f, wrong ? count + 1 : count);
  } else {
    *note = "function " + std::to_string(function);
    return exception(function, kIllegalFunction);
  }
  host::append_crc(f);
  return f;
}

Reply Slave::handle(const std::uint8_t* adu, std::size_t length, double elapsed) {
  Reply r;
  if (adu == nullptr || length < 4 || !host::crc_ok(adu, length)) {
    r.note = "garbled request ignored";
    return r;
  }
  if (adu[0] != address_ && adu[0] != host::kBroadcastAddress) {
    r.note = "request for slave " + std::to_string(adu[0]) + " ignored";
    return r;
  }
  const unsigned n = ++requests_;
  const bool hit = plan_.hits(n);
  r.faulted = hit && (plan_.kind != Fault::wrong_echo || adu[1] == kWriteSingleRegister || adu[1] == kWriteMultipleRegisters);
  if (hit && plan_.kind == Fault::no_reply) {
    r.note = "request " + std::to_string(n) + ": lost (no-reply)";
    return r;
  }
  std::string what;
  std::vector<std::uint8_t> frame = answer(adu, length, elapsed, &what);
  r.note = "request " + std::to_string(n) + ": " + what;
  if (adu[0] == host::kBroadcastAddress) {
    r.note += " (broadcast, no reply)";
    return r;
  }
  if (hit) {
    switch (plan_.kind) {
      case Fault::bad_crc:
        frame.back() ^= 0xFF;
        r.note += " (bad-crc)";
        break;
      case Fault::exception:
        frame = exception(adu[1], plan_.exceptionCode);
        r.note += " (exception " + std::to_string(plan_.exceptionCode) + ")";
        break;
      case Fault::slow:
        r.delay = plan_.slowDelay;
        r.note += " (slow: holding the reply for " + std::to_string(plan_.slowDelay.count()) + " ms)";
        break;
      case Fault::hold:
        r.held = true;
        r.note += " (hold: holding the reply until released)";
        break;
      case Fault::wrong_echo:
        if (adu[1] == kWriteSingleRegister || adu[1] == kWriteMultipleRegisters) r.note += " (wrong-echo)";
        break;
      case Fault::none:
      case Fault::no_reply:
        break;
    }
  }
  r.frame = std::move(frame);
  return r;
}

}  // namespace meter_sim
