// The host's Modbus RTU master: requests go out through the wire module,
// and every reply is checked there before the payload handler sees it.
#include "host/sp_modbus.h"

#include <iostream>
#include <string>

#include "host/backend.h"

SPModbus::~SPModbus() = default;

int SPModbus::InitSetting(const Json::Value& config) { return host::backend().init_setting(*this, config); }

int SPModbus::on_error() {
  std::cout << "SPModbus get error" << std::endl;
  return 0;
}

SPModbus::PendingRequest SPModbus::Pending() const {
  std::lock_guard<std::mutex> lock(modbusMutex_);
  return pending_;
}

int SPModbus::send_request(const std::uint8_t* frame, std::size_t length, const PendingRequest& pending) {
  if (length == 0) return -1;  // outside the Modbus limits
  {
    // The newest request is the one whose reply is expected: a request
    // queued while another is on the line abandons the older one, and its
    // late reply is rejected as not matching.
    std::lock_guard<std::mutex> lock(modbusMutex_);
    pending_ = pending;
    pending_.serial = ++serial_;
  }
  return SendData(frame, static_cast<unsigned>(length));
}

// Frames live on the stack, so polling allocates nothing.
int SPModbus::modbus_read_registers(int start, int count) {
  if (start < 0 || count < 0) return -1;
  std::uint8_t f[host::kMaxFrameSize];
  const auto n = host::build_read_request(f, slaveAddress_, static_cast<unsigned>(start), static_cast<unsigned>(count));
  return send_request(f, n, PendingRequest{host::kReadHoldingRegisters, static_cast<std::uint16_t>(start),
                                           static_cast<std::uint16_t>(count)});
}

int SPModbus::modbus_write_register(int address, int value) {
  if (address < 0) return -1;
  std::uint8_t f[host::kMaxFrameSize];
  const auto n = host::build_write_single(f, slaveAddress_, static_cast<unsigned>(address),
                                          static_cast<std::uint16_t>(static_cast<unsigned>(value) & 0xFFFF));
  return send_request(f, n, PendingRequest{host::kWriteSingleRegister, static_cast<std::uint16_t>(address), 1});
}

int SPModbus::modbus_write_registers(int address, int count, const std::uint16_t* values) {
  if (address < 0 || count < 0) return -1;
  std::uint8_t f[host::kMaxFrameSize];
  const auto n = host::build_write_multiple(f, slaveAddress_, static_cast<unsigned>(address),
                                            static_cast<unsigned>(count), values);
  return send_request(f, n, PendingRequest{host::kWriteMultipleRegisters, static_cast<std::uint16_t>(address),
                                           static_cast<std::uint16_t>(count)});
}

int SPModbus::reject(const char* why) {
  host::backend().modbus_error(*this, why);
  return on_error();
}

int SPModbus::process(unsigned char* data, unsigned int length) {
  const PendingRequest pending = Pending();
  const host::ReplyCheck check =
      host::check_reply(host::Request{slaveAddress_, pending.function, pending.address, pending.count}, data, length);

  // Frames that do not answer the pending request (a late reply to an
  // abandoned one, say) leave it pending; an answer, good or not, ends it.
  if (check.verdict == host::ReplyVerdict::exception) {
    consume(pending);
    return reject(host::describe(check).c_str());
  }
  if (!check.is_answer()) return reject(host::describe(check).c_str());
  if (!consume(pending)) return reject("reply to an abandoned request");

  unsigned count = 0;
  if (pending.function == host::kReadHoldingRegisters) {
    count = pending.count;
    for (unsigned i = 0; i < count; ++i) response_[i] = host::word_at(data + 3 + 2 * i);
  } else if (pending.function == host::kWriteSingleRegister) {
    response_[0] = host::word_at(data + 4);  // the value the meter echoed
    response_[1] = host::word_at(data + 2);
    count = 1;
  } else {
    response_[0] = host::kWriteMultipleRegisters;
    response_[1] = host::word_at(data + 4);  // the register count the meter echoed
    count = 2;
  }
  return process_payload(TAB_REGISTERS, count);
}

bool SPModbus::consume(const PendingRequest& seen) {
  std::lock_guard<std::mutex> lock(modbusMutex_);
  if (pending_.serial != seen.serial) return false;  // a newer request took over meanwhile
  pending_ = PendingRequest{};
  return true;
}
