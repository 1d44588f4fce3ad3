#include "modbus_line.h"

#include <cerrno>
#include <thread>

#include <modbus/modbus.h>

#include "host/rtu.h"
#include "line_timing.h"

namespace meter_host {

ModbusLine::~ModbusLine() {
  if (ctx_) {
    modbus_close(ctx_);
    modbus_free(ctx_);
  }
}

bool ModbusLine::open(const LineSettings& s, std::string* error) {
  ctx_ = modbus_new_rtu(s.port.c_str(), static_cast<int>(s.baud), s.parity, 8, 1);
  if (!ctx_) {
    *error = "libmodbus refuses " + s.port + ": " + modbus_strerror(errno);
    return false;
  }
  if (modbus_connect(ctx_) != 0) {
    *error = "cannot open " + s.port + ": " + modbus_strerror(errno);
    modbus_free(ctx_);
    ctx_ = nullptr;
    return false;
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
  // The line must stay silent for 3.5 characters after the last frame.
  std::this_thread::sleep_until(quietFrom_ + silence_);
  // Whatever arrived since (a late reply to an abandoned request) is stale.
  modbus_flush(ctx_);
  // Replies are filtered by slave address: expect the one addressed.
  modbus_set_slave(ctx_, frame[0]);
  if (modbus_send_raw_request(ctx_, frame.data(), static_cast<int>(frame.size() - 2)) < 0) {
    e.why = std::string("cannot send: ") + modbus_strerror(errno);
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
