#pragma once
// The host's serial line through libmodbus: one request out, its reply in.
// libmodbus frames, checks the CRC and keeps the time-outs; this class adds
// the inter-frame silence that libmodbus leaves out.
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "line_settings.h"
#include "port_lock.h"

typedef struct _modbus modbus_t;

namespace meter_host {

struct Exchange {
  // lost: the port itself failed (unplugged adapter, device node gone).
  enum class Kind { reply, timeout, failed, lost };
  Kind kind = Kind::failed;
  std::vector<std::uint8_t> reply;  // as received, CRC included
  std::string why;                  // for a time-out or a failure
  std::size_t stale = 0;            // bytes that came after the last exchange ended: a late reply
};

class ModbusLine {
public:
  ModbusLine() = default;
  ~ModbusLine();
  ModbusLine(const ModbusLine&) = delete;
  ModbusLine& operator=(const ModbusLine&) = delete;

  // RS-485 mode and RTS control only when the settings ask for them: a
  // port that refuses either is refused with one line that says so. A
  // port that another program holds is refused before anything is sent or
  // set (see PortLock).
  bool open(const LineSettings& settings, std::string* error);
  // Closes the port and opens the same path again (a by-id path may now
  // lead to another device node).
  bool reopen(std::string* error);
  void close();

  // Sends one whole request frame as the framework built it (CRC
  // included; libmodbus puts its own) and waits for the reply.
  Exchange exchange(const std::vector<std::uint8_t>& frame);

private:
  LineSettings settings_;
  posix_io::PortLock lock_;
  modbus_t* ctx_ = nullptr;
  unsigned timeoutMs_ = 1000;
  std::chrono::nanoseconds silence_{0};
  std::chrono::steady_clock::time_point quietFrom_{};
};

// Whether a failure with this errno means the port itself is gone.
bool port_lost(int err);

// Short text of a request frame for the log, e.g. "read 366+12".
std::string describe_request(const std::vector<std::uint8_t>& frame);

}  // namespace meter_host
