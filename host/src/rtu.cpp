#include "host/rtu.h"

#include <array>

namespace host {

namespace {

// The CRC of every byte value, worked out by the compiler: one lookup per
// byte instead of eight shifts.
constexpr std::array<std::uint16_t, 256> make_crc_table() {
  std::array<std::uint16_t, 256> table{};
  for (unsigned byte = 0; byte < 256; ++byte) {
    unsigned crc = byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1u) ? (crc >> 1) ^ 0xA001u : crc >> 1;
    table[byte] = static_cast<std::uint16_t>(crc);
  }
  return table;
}
constexpr std::array<std::uint16_t, 256> kCrcTable = make_crc_table();
static_assert(kCrcTable[1] == 0xC0C1 && kCrcTable[255] == 0x4040, "the CRC-16/MODBUS table");

std::size_t finish(std::uint8_t* out, std::size_t body) {
  const std::uint16_t crc = crc16(out, body);
  out[body] = static_cast<std::uint8_t>(crc & 0xFF);
  out[body + 1] = static_cast<std::uint8_t>(crc >> 8);
  return body + 2;
}

}  // namespace

std::uint16_t crc16(const std::uint8_t* data, std::size_t length) {
  unsigned crc = 0xFFFF;
  for (std::size_t i = 0; i < length; ++i) crc = (crc >> 8) ^ kCrcTable[(crc ^ data[i]) & 0xFF];
  return static_cast<std::uint16_t>(crc);
}

void append_crc(std::vector<std::uint8_t>& frame) {
  const std::uint16_t crc = crc16(frame.data(), frame.size());
  frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
  frame.push_back(static_cast<std::uint8_t>(crc >> 8));
}

bool crc_ok(const std::uint8_t* frame, std::size_t length) {
  if (length < 3) return false;
  const std::uint16_t crc = crc16(frame, length - 2);
  return frame[length - 2] == (crc & 0xFF) && frame[length - 1] == (crc >> 8);
}

std::size_t build_read_request(std::uint8_t* out, std::uint8_t slave, unsigned start, unsigned count) {
  if (start > 0xFFFF || count < 1 || count > kMaxReadRegisters) return 0;
  out[0] = slave;
  out[1] = kReadHoldingRegisters;
  put_word(out + 2, start);
  put_word(out + 4, count);
  return finish(out, 6);
}

std::size_t build_write_single(std::uint8_t* out, std::uint8_t slave, unsigned address, std::uint16_t value) {
  if (address > 0xFFFF) return 0;
  out[0] = slave;
  out[1] = kWriteSingleRegister;
  put_word(out + 2, address);
  put_word(out + 4, value);
  return finish(out, 6);
}

std::size_t build_write_multiple(std::uint8_t* out, std::uint8_t slave, unsigned address, unsigned count,
                                 const std::uint16_t* values) {
  if (address > 0xFFFF || count < 1 || count > kMaxWriteRegisters || values == nullptr) return 0;
  out[0] = slave;
  out[1] = kWriteMultipleRegisters;
  put_word(out + 2, address);
  put_word(out + 4, count);
  out[6] = static_cast<std::uint8_t>(2 * count);
  for (unsigned i = 0; i < count; ++i) put_word(out + 7 + 2 * i, values[i]);
  return finish(out, 7 + 2 * count);
}

ReplyCheck check_reply(const Request& pending, const std::uint8_t* frame, std::size_t length) {
  // The smallest frame, an exception: address, function, code, CRC.
  if (frame == nullptr || length < 5) return {ReplyVerdict::short_frame};
  if (!crc_ok(frame, length)) return {ReplyVerdict::bad_crc};
  if (frame[0] != pending.slave) return {ReplyVerdict::other_slave};
  if (pending.function == 0) return {ReplyVerdict::nothing_pending};
  if ((frame[1] & ~kExceptionFlag) != pending.function) return {ReplyVerdict::other_function};
  if (frame[1] & kExceptionFlag) return {ReplyVerdict::exception, frame[2]};

  if (pending.function == kReadHoldingRegisters) {
    if (frame[2] != 2 * pending.count || length != 5 + 2u * pending.count) return {ReplyVerdict::wrong_count};
    return {};
  }
  // Both writes answer with address, function, register, value or count, CRC.
  if (length != 8) return {ReplyVerdict::wrong_length};
  if (word_at(frame + 2) != pending.address) return {ReplyVerdict::other_register};
  return {};
}

std::string describe(const ReplyCheck& check) {
  switch (check.verdict) {
    case ReplyVerdict::answer: return "answer";
    case ReplyVerdict::exception: return "exception " + std::to_string(check.exceptionCode);
    case ReplyVerdict::short_frame: return "short frame";
    case ReplyVerdict::bad_crc: return "bad CRC";
    case ReplyVerdict::other_slave: return "reply from another slave";
    case ReplyVerdict::nothing_pending: return "no request pending";
    case ReplyVerdict::other_function: return "reply to another function";
    case ReplyVerdict::wrong_count: return "register count differs from the request";
    case ReplyVerdict::wrong_length: return "write reply of wrong length";
    case ReplyVerdict::other_register: return "reply names another register";
  }
  return "?";
}

}  // namespace host
