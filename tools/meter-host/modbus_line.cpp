#include "modbus_line.h"

#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include <modbus/modbus.h>

#include "host/rtu.h"
#include "line_timing.h"

namespace meter_host {

ModbusLine::~ModbusLine() { close(); }

void ModbusLine::close() {
  if (ctx_) {
    modbus_close(ctx_);
    modbus_free(ctx_);
    ctx_ = nullptr;
  }
  lock_.release();
}

bool port_lost(int err) {
  switch (err) {
    case EIO:
    case ENXIO:
    case ENODEV:
    case EBADF:
    case ENOENT:
    case EPIPE:
    case ECONNRESET:
      return true;
    default:
      return false;
  }
}

bool ModbusLine::reopen(std::string* error) {
  close();
  return open(settings_, error);
}

bool ModbusLine::open(const LineSettings& s, std::string* error) {
  settings_ = s;
  if (!lock_.take(s.port, error)) return false;
  ctx_ = modbus_new_rtu(s.port.c_str(), static_cast<int>(s.baud), s.parity, 8, 1);
  if (!ctx_) {
    *error = "libmodbus refuses " + s.port + ": " + modbus_strerror(errno);
    lock_.release();
    return false;
  }
  if (modbus_connect(ctx_) != 0) {
    *error = "cannot open " + s.port + ": " + modbus_strerror(errno);
    modbus_free(ctx_);
    ctx_ = nullptr;
    lock_.release();
    return false;
  }
  if (s.rs485 && modbus_rtu_set_serial_mode(ctx_, MODBUS_RTU_RS485) != 0) {
    *error = "--rs485: " + s.port + " refuses RS-485 mode: " + modbus_strerror(errno);
    close();
    return false;
  }
  if (s.rts) {
    // libmodbus takes the setting without trying the line: ask the port.
    int lines = 0;
    if (::ioctl(modbus_get_socket(ctx_), TIOCMGET, &lines) != 0) {
      *error = std::string("--rts: ") + s.port + " has no RTS line to drive: " + std::strerror(errno);
      close();
      return false;
    }
    modbus_rtu_set_rts(ctx_, s.rts == 'u' ? MODBUS_RTU_RTS_UP : MODBUS_RTU_RTS_DOWN);
  }
  timeoutMs_ = s.timeoutMs;
  modbus_set_response_timeout(ctx_, s.timeoutMs / 1000, (s.timeoutMs % 1000) * 1000);
  modbus_set_slave(ctx_, static_cast<int>(s.slave));
  silence_ = rtu_line::silence(s.baud, s.parity != 'N');
  quietFrom_ = std::chrono::steady_clock::now();
  return true;
}

Exchange ModbusLine::exchange(const std::vector<std::uint8_t>& frame) {
  Exchange e;
  if (frame.size() < 4) {
    e.why = "request frame too short";
    return e;
  }
  if (!ctx_) {
    e.kind = Exchange::Kind::lost;
    e.why = "the port is closed";
    return e;
  }
  // The line must stay silent for 3.5 characters after the last frame.
  std::this_thread::sleep_until(quietFrom_ + silence_);
  // Whatever arrived since (a late reply to an abandoned request) is stale.
  int stale = 0;
  if (::ioctl(modbus_get_socket(ctx_), FIONREAD, &stale) == 0 && stale > 0) e.stale = static_cast<std::size_t>(stale);
  modbus_flush(ctx_);
  // Replies are filtered by slave address: expect the one addressed.
  modbus_set_slave(ctx_, frame[0]);
  if (modbus_send_raw_request(ctx_, frame.data(), static_cast<int>(frame.size() - 2)) < 0) {
    const int err = errno;
    e.kind = port_lost(err) ? Exchange::Kind::lost : Exchange::Kind::failed;
    e.why = std::string("cannot send: ") + modbus_strerror(err);
    quietFrom_ = std::chrono::steady_clock::now();
    return e;
  }
  std::uint8_t reply[MODBUS_RTU_MAX_ADU_LENGTH];
  const int rc = modbus_receive_confirmation(ctx_, reply);
  const int err = errno;
  quietFrom_ = std::chrono::steady_clock::now();
  if (rc > 0) {
    e.kind = Exchange::Kind::reply;
    e.reply.assign(reply, reply + rc);
  } else if (rc == 0) {
    e.why = "reply from another slave";
  } else if (err == ETIMEDOUT) {
    e.kind = Exchange::Kind::timeout;
    e.why = "no reply within " + std::to_string(timeoutMs_) + " ms";
  } else if (err == EMBBADCRC) {
    e.why = "bad CRC";
  } else {
    e.kind = port_lost(err) ? Exchange::Kind::lost : Exchange::Kind::failed;
    e.why = modbus_strerror(err);
  }
  return e;
}

std::string describe_request(const std::vector<std::uint8_t>& f) {
  if (f.size() < 6) return "short frame";
  const unsigned a = host::word_at(&f[2]);
  const unsigned b = host::word_at(&f[4]);
  switch (f[1]) {
    case host::kReadHoldingRegisters:
      return "read " + std::to_string(a) + "+" + std::to_string(b);
    case host::kWriteSingleRegister:
      return "write " + std::to_string(a) + "=" + std::to_string(b);
    case host::kWriteMultipleRegisters:
      return "write " + std::to_string(a) + "+" + std::to_string(b);
    default:
      return "function " + std::to_string(f[1]);
  }
}

}  // namespace meter_host
