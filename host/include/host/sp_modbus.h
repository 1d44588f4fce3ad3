#pragma once
// Fourth layer: the host's Modbus RTU master for one serial device. It
// frames requests, checks replies and hands the registers of a good reply
// to the device's payload handler.
#include <atomic>
#include <cstdint>
#include <mutex>

#include "host/rtu.h"
#include "host/smd_spdevice.h"

class SPModbus : public SMDSPDevice {
public:
  enum tab_type { TAB_BITS = 0, TAB_INPUT_BITS = 1, TAB_REGISTERS = 2, TAB_INPUT_REGISTERS = 3 };

  // The response buffer holds the largest read.
  static constexpr unsigned kResponseRegisters = host::kMaxReadRegisters;

  ~SPModbus() override;

  int InitSetting(const Json::Value& config) override;
  int process(unsigned char* data, unsigned int length) override;

  // slot 31: one good reply, its registers in response_.
  virtual int process_payload(tab_type type, unsigned int count) = 0;
  // slot 32: a reply that failed its checks, or none at all.
  virtual int on_error();

  // Queue one request each; the reply comes back through process(). The
  // request goes to the back end as a whole RTU frame, CRC included.
  int modbus_read_registers(int start, int count);
  int modbus_write_register(int address, int value);
  int modbus_write_registers(int address, int count, const std::uint16_t* values);

  // What the reply to the last request must look like.
  struct PendingRequest {
    std::uint8_t function = 0;  // 0: nothing pending
    std::uint16_t address = 0;
    std::uint16_t count = 0;
    std::uint32_t serial = 0;  // which request this is, counted from 1
  };
  PendingRequest Pending() const;

  // Written by status refreshes and commands on different host threads.
  std::atomic<int> requestState_{0};
  std::uint8_t modbusSetting_ = 0;
  std::uint8_t slaveAddress_ = 1;
  // Registers of the reply being handled, native byte order.
  std::uint16_t response_[kResponseRegisters] = {};

private:
  int send_request(const std::uint8_t* frame, std::size_t length, const PendingRequest& pending);
  int reject(const char* why);
  bool consume(const PendingRequest& seen);

  mutable std::mutex modbusMutex_;
  PendingRequest pending_;
  std::uint32_t serial_ = 0;
};
