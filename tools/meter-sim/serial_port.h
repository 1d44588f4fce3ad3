#pragma once
// The simulator's end of the line: a pseudo-terminal pair that it creates
// itself, or a serial device that libmodbus opens.
#include <optional>
#include <string>

#include <modbus/modbus.h>

#include "port_lock.h"

namespace meter_sim {

class SerialPort {
public:
  SerialPort() = default;
  ~SerialPort();
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // A new pseudo-terminal, raw and without echo; masters connect to path().
  bool open_pty(unsigned baud, char parity, std::string* error);
  // An existing serial device, locked as every program on a line locks it.
  bool open_device(const std::string& device, unsigned baud, char parity, std::string* error);

  // The speed and parity the master set on its end of a pseudo-terminal;
  // nothing for a serial device, whose line itself sees to mismatches.
  struct Settings {
    unsigned baud = 0;  // 0: a speed that is no standard rate
    char parity = 'N';
  };
  std::optional<Settings> master_settings() const;

  modbus_t* context() const { return ctx_; }
  int fd() const { return fd_; }
  const std::string& path() const { return path_; }

private:
  modbus_t* ctx_ = nullptr;
  int fd_ = -1;
  int master_ = -1;  // pseudo-terminal: our end
  int held_ = -1;    // pseudo-terminal: the other end, kept open
  std::string path_;
  posix_io::PortLock lock_;  // a serial device's
};

}  // namespace meter_sim
