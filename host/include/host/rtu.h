#pragma once
// Modbus RTU framing helpers shared by the host and its tools.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace host {

// CRC-16/MODBUS; on the wire the low byte comes first.
std::uint16_t crc16(const std::uint8_t* data, std::size_t length);

// Appends the CRC to a frame body (address, function, data).
void append_crc(std::vector<std::uint8_t>& frame);

// True when the frame's last two bytes are the CRC of the rest.
bool crc_ok(const std::uint8_t* frame, std::size_t length);

}  // namespace host
