#pragma once
// The simulated meter's answer to one request: functions 3, 6 and 16 over
// the register image, exceptions for anything else, and the faults that
// tests and people inject on demand.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/rtu.h"
#include "meter_model.h"
#include "register_image.h"
#include "wiring.h"

namespace meter_sim {

// hold: the reply waits for a signal of the test or person driving the
// line, so that something can happen while a request is unanswered.
enum class Fault { none, no_reply, bad_crc, exception, wrong_echo, slow, hold };

// "no-reply", "bad-crc", "exception", "wrong-echo", "slow", "hold" (and
// "none").
std::optional<Fault> parse_fault(const std::string& name);
const char* fault_name(Fault f);

struct FaultPlan {
  Fault kind = Fault::none;
  unsigned after = 0;  // requests answered normally before the fault starts
  unsigned count = 0;  // requests that suffer it; 0: all from then on
  std::chrono::milliseconds slowDelay{2000};
  std::uint8_t exceptionCode = host::kServerDeviceFailure;

  // Whether the request with this number (counted from 1) suffers it.
  bool hits(unsigned request) const;
};

// Modbus exception codes the meter answers with.
using host::kIllegalAddress;
using host::kIllegalFunction;
using host::kIllegalValue;

struct Reply {
  std::vector<std::uint8_t> frame;  // whole RTU frame with CRC; empty: no reply
  std::chrono::milliseconds delay{0};
  bool held = false;  // sent once released (hold)
  std::string note;  // what was asked and what happened, for the log
  bool faulted = false;
};

class Slave {
public:
  // Without a model the image stays as given (an image file); with one,
  // reads refresh the live values first, as a meter so wired shows them.
  Slave(std::uint8_t address, RegisterImage image, bool live, FaultPlan plan, Wiring wiring = {});

  // Answers one request ADU as received (address, function, data, CRC).
  // `elapsed`: seconds since the meter started.
  Reply handle(const std::uint8_t* adu, std::size_t length, double elapsed);

  const RegisterImage& image() const { return image_; }
  RegisterImage& image() { return image_; }
  unsigned requests() const { return requests_; }
  std::uint8_t address() const { return address_; }

private:
  std::vector<std::uint8_t> answer(const std::uint8_t* adu, std::size_t length, double elapsed, std::string* note);
  std::vector<std::uint8_t> exception(std::uint8_t function, std::uint8_t code) const;

  std::uint8_t address_;
  RegisterImage image_;
  bool live_;
  MeterModel model_;
  FaultPlan plan_;
  unsigned requests_ = 0;
};

}  // namespace meter_sim
