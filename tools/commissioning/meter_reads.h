#pragma once
// The meter's registers over a line opened for commissioning: one read
// and its verdict, and a whole polling round into a data block, with the
// read sequence the driver uses.
#include <cstdint>
#include <string>

#include "host/rtu.h"
#include "modbus_line.h"

namespace commissioning {

// The register every KVRM4410T has and a scan asks for: the frequency.
constexpr unsigned kProbeRegister = 409;

struct ReadResult {
  enum class Kind {
    data,       // the registers asked for
    exception,  // the device refused: an answer all the same
    silent,     // no reply within the time-out
    garbled,    // a reply whose CRC fails (or a frame that is no reply)
    lost,       // the port failed
  };
  Kind kind = Kind::silent;
  std::vector<std::uint16_t> registers;
  std::uint8_t exceptionCode = 0;
  std::string why;  // for anything but data
};

// What an exchange brought, judged against the request it answers.
ReadResult judge(const meter_host::Exchange& e, const host::Request& request);

ReadResult read_registers(meter_host::ModbusLine& line, std::uint8_t slave, unsigned start, unsigned count);

// The 22 reads of a round into `block` (kvrm::kBlockSize bytes); false at
// the first read that brings no data, `why` naming it.
bool read_round(meter_host::ModbusLine& line, std::uint8_t slave, unsigned char* block, std::string* why);

}  // namespace commissioning
