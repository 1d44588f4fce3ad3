#pragma once
// Modbus RTU on the wire, in one place: function codes, limits, 16-bit
// words, the CRC, request frames and the check of a reply against the
// request it must answer. The host's Modbus layer, the bench host, the
// simulated meter and the tests all go through here.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace host {

// Function codes the meter speaks.
constexpr std::uint8_t kReadHoldingRegisters = 0x03;
constexpr std::uint8_t kWriteSingleRegister = 0x06;
constexpr std::uint8_t kWriteMultipleRegisters = 0x10;
// Set in the function byte of an exception reply.
constexpr std::uint8_t kExceptionFlag = 0x80;

// Exception codes.
constexpr std::uint8_t kIllegalFunction = 1;
constexpr std::uint8_t kIllegalAddress = 2;
constexpr std::uint8_t kIllegalValue = 3;
constexpr std::uint8_t kServerDeviceFailure = 4;

// Slave address 0 reaches every slave, and none answers.
constexpr std::uint8_t kBroadcastAddress = 0;

// The most registers one read returns and one write carries: what fits a
// 256-byte frame.
constexpr unsigned kMaxReadRegisters = 125;
constexpr unsigned kMaxWriteRegisters = 123;
constexpr std::size_t kMaxFrameSize = 256;

// Registers travel big-endian.
constexpr std::uint16_t word_at(const std::uint8_t* p) {
  return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
inline void put_word(std::uint8_t* p, unsigned v) {
  p[0] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
  p[1] = static_cast<std::uint8_t>(v & 0xFF);
}
inline void put_word(std::vector<std::uint8_t>& frame, unsigned v) {
  frame.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
  frame.push_back(static_cast<std::uint8_t>(v & 0xFF));
}

// CRC-16/MODBUS; on the wire the low byte comes first.
std::uint16_t crc16(const std::uint8_t* data, std::size_t length);

// Appends the CRC to a frame body (address, function, data).
void append_crc(std::vector<std::uint8_t>& frame);

// True when the frame's last two bytes are the CRC of the rest.
bool crc_ok(const std::uint8_t* frame, std::size_t length);

// A request as its reply must answer it. `count` is the number of
// registers read or written (1 for a single write).
struct Request {
  std::uint8_t slave = 1;
  std::uint8_t function = 0;  // 0: nothing asked
  std::uint16_t address = 0;
  std::uint16_t count = 0;
};

// Request frames, CRC included, written to `out` (kMaxFrameSize bytes).
// They return the frame's length, or 0 for a request outside the limits.
std::size_t build_read_request(std::uint8_t* out, std::uint8_t slave, unsigned start, unsigned count);
std::size_t build_write_single(std::uint8_t* out, std::uint8_t slave, unsigned address, std::uint16_t value);
std::size_t build_write_multiple(std::uint8_t* out, std::uint8_t slave, unsigned address, unsigned count,
                                 const std::uint16_t* values);

// What a received frame is, for the request that is waiting for it.
enum class ReplyVerdict {
  answer,          // a good reply to the request
  exception,       // the slave refused the request: an answer, but no data
  short_frame,
  bad_crc,
  other_slave,
  nothing_pending,
  other_function,
  wrong_count,     // a read reply with another number of registers
  wrong_length,    // a write reply of another length
  other_register,  // a write reply that names another register
};

struct ReplyCheck {
  ReplyVerdict verdict = ReplyVerdict::answer;
  std::uint8_t exceptionCode = 0;  // for exception

  bool is_answer() const { return verdict == ReplyVerdict::answer; }
};

// Checks length, CRC, slave, exception, function, the byte and register
// count of a read, and the echoed address of a write. The value echoed by
// a single write and the count echoed by a multiple write are left to the
// caller to judge.
ReplyCheck check_reply(const Request& pending, const std::uint8_t* frame, std::size_t length);

// Why a frame was not taken, in a few words ("bad CRC", "exception 2").
std::string describe(const ReplyCheck& check);

}  // namespace host
