#pragma once
// The meter's holding registers as the simulator serves them: three blocks,
// every register a 16-bit value. Registers set from a file or written by a
// master are pinned: the live model no longer moves them.
#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

namespace meter_sim {

struct RegisterBlock {
  std::uint16_t first;
  std::uint16_t last;
};

constexpr std::array<RegisterBlock, 3> kBlocks{{{256, 575}, {39424, 39533}, {39624, 39645}}};
constexpr std::size_t kRegisterCount = 452;

// True when registers start .. start+count-1 all lie in one block.
bool served(unsigned start, unsigned count);

class RegisterImage {
public:
  RegisterImage() { values_.fill(0); }

  // Registers outside the blocks read as 0 and ignore writes.
  std::uint16_t get(unsigned reg) const;
  // A value that stays until written again.
  void set(unsigned reg, std::uint16_t value);
  // A value of the live model; pinned registers keep theirs.
  void set_live(unsigned reg, std::uint16_t value);
  bool pinned(unsigned reg) const;

  // Two-register encodings as the meter uses them.
  void set_live_int32(unsigned reg, std::int32_t value);  // high half first
  void set_live_float(unsigned reg, float value);         // low half first

private:
  static std::size_t index(unsigned reg);  // kRegisterCount when not served

  std::array<std::uint16_t, kRegisterCount> values_;
  std::bitset<kRegisterCount> pinned_;
};

// Reads an image file: one JSON object whose member names are decimal
// register numbers and whose values are 16-bit numbers (0..65535, or
// -32768..-1 for the two's complement). Every register must be served.
// On failure *error says what is wrong and the result is empty.
std::map<unsigned, std::uint16_t> read_image_file(const std::string& path, std::string* error);

}  // namespace meter_sim
