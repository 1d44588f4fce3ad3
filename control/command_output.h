#pragma once
// Filling the caller's output buffer: the snapshot text (801), the
// snapshot's address (803) and the last write outcome (any other code).
#include <cstddef>
#include <cstdint>
#include <string>

namespace kvrm {

// An address in its native size: 4 bytes on the 32-bit target.
constexpr std::size_t kAddressSize = sizeof(void*);
constexpr std::size_t kOutcomeSize = sizeof(std::int32_t);

// What the buffer can take. A negative capacity, or a capacity without a
// buffer, is no room at all: read as unsigned it would be huge.
std::size_t output_room(const void* out, int outLen);

// Copies the text without a terminator when it fits; true when copied.
bool copy_text(const std::string& text, void* out, std::size_t room);

// Stores the address itself when it fits; true when stored.
bool store_address(const void* address, void* out, std::size_t room);

// Stores the outcome as a 32-bit integer when it fits; the bytes stored
// (4 or 0), which is what the caller is told.
int store_outcome(std::int32_t outcome, void* out, std::size_t room);

}  // namespace kvrm
