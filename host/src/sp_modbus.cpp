// The host's Modbus RTU master: request framing and reply checks.
#include "host/sp_modbus.h"

#include <iostream>
#include <string>

#include "host/backend.h"
#include "host/rtu.h"

namespace {

constexpr std::uint8_t kReadHolding = 0x03;
constexpr std::uint8_t kWriteSingle = 0x06;
constexpr std::uint8_t kWriteMultiple = 0x10;

std::uint16_t word_at(const unsigned char* p) { return static_cast<std::uint16_t>((p[0] << 8) | p[1]); }

}  // namespace

// A request frame under construction; fixed capacity, so polling allocates
// nothing: address, function, 5 header bytes, 2 x 123 values, CRC.
struct SPModbus::Frame {
  std::uint8_t bytes[256];
  unsigned size = 0;
  void put(unsigned v) { bytes[size++] = static_cast<std::uint8_t>(v & 0xFF); }
  void put_word(unsigned v) {
    put(v >> 8);
    put(v);
  }
};

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

int SPModbus::send_request(Frame& frame, const PendingRequest& pending) {
  frame.bytes[0] = slaveAddress_;
  const std::uint16_t crc = host::crc16(frame.bytes, frame.size);
  frame.put(crc);
  frame.put(crc >> 8);
  {
    // The newest request is the one whose reply is expected: a request
    // queued while another is on the line abandons the older one, and its
    // late reply is rejected as not matching.
    std::lock_guard<std::mutex> lock(modbusMutex_);
    pending_ = pending;
    pending_.serial = ++serial_;
  }
  return SendData(frame.bytes, frame.size);
}

int SPModbus::modbus_read_registers(int start, int count) {
  if (start < 0 || start > 0xFFFF || count < 1 || count > static_cast<int>(kResponseRegisters)) return -1;
  Frame f;
  f.put(0);  // slave address, filled in on sending
  f.put(kReadHolding);
  f.put_word(static_cast<unsigned>(start));
  f.put_word(static_cast<unsigned>(count));
  return send_request(f, PendingRequest{kReadHolding, static_cast<std::uint16_t>(start),
                                        static_cast<std::uint16_t>(count)});
}

int SPModbus::modbus_write_register(int address, int value) {
  if (address < 0 || address > 0xFFFF) return -1;
  Frame f;
  f.put(0);
  f.put(kWriteSingle);
  f.put_word(static_cast<unsigned>(address));
  f.put_word(static_cast<unsigned>(value) & 0xFFFF);
  return send_request(f, PendingRequest{kWriteSingle, static_cast<std::uint16_t>(address), 1});
}

int SPModbus::modbus_write_registers(int address, int count, const std::uint16_t* values) {
  if (address < 0 || address > 0xFFFF || count < 1 || count > static_cast<int>(kMaxWriteRegisters) || !values)
    return -1;
  Frame f;
  f.put(0);
  f.put(kWriteMultiple);
  f.put_word(static_cast<unsigned>(address));
  f.put_word(static_cast<unsigned>(count));
  f.put(static_cast<unsigned>(2 * count));
  for (int i = 0; i < count; ++i) f.put_word(values[i]);
  return send_request(f, PendingRequest{kWriteMultiple, static_cast<std::uint16_t>(address),
                                        static_cast<std::uint16_t>(count)});
}

int SPModbus::reject(const char* why) {
  host::backend().modbus_error(*this, why);
  return on_error();
}

int SPModbus::process(unsigned char* data, unsigned int length) {
  if (data == nullptr || length < 5) return reject("short frame");
  if (!host::crc_ok(data, length)) return reject("bad CRC");
  if (data[0] != slaveAddress_) return reject("reply from another slave");

  const PendingRequest pending = Pending();
  if (pending.function == 0) return reject("no request pending");

  // Frames that do not answer the pending request (a late reply to an
  // abandoned one, say) leave it pending; an answer, good or not, ends it.
  const bool exception = (data[1] & 0x80) != 0;
  if ((data[1] & 0x7F) != pending.function) return reject("reply to another function");
  if (exception) {
    consume(pending);
    return reject(("exception " + std::to_string(data[2])).c_str());
  }

  unsigned count = 0;
  if (pending.function == kReadHolding) {
    count = pending.count;
    if (data[2] != 2 * count || length != 5 + 2 * count) return reject("register count differs from the request");
    if (!consume(pending)) return reject("reply to an abandoned request");
    for (unsigned i = 0; i < count; ++i) response_[i] = word_at(data + 3 + 2 * i);
  } else {
    if (length != 8) return reject("write reply of wrong length");
    if (!consume(pending)) return reject("reply to an abandoned request");
    if (pending.function == kWriteSingle) {
      response_[0] = word_at(data + 4);  // the value the meter echoed
      response_[1] = word_at(data + 2);
      count = 1;
    } else {
      response_[0] = 16;
      response_[1] = word_at(data + 4);  // the register count the meter echoed
      count = 2;
    }
  }
  return process_payload(TAB_REGISTERS, count);
}

bool SPModbus::consume(const PendingRequest& seen) {
  std::lock_guard<std::mutex> lock(modbusMutex_);
  if (pending_.serial != seen.serial) return false;  // a newer request took over meanwhile
  pending_ = PendingRequest{};
  return true;
}
