#pragma once
// The meter's holding registers as the simulator serves them: three blocks,
// every register a 16-bit value. Registers set from a file or written by a
// master are pinned: the live model no longer moves them.
#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "acquisition/data_block.h"

namespace meter_sim {

struct RegisterBlock {
  std::uint16_t first;
  std::uint16_t last;
};

// The blocks that the driver reads.
constexpr std::array<RegisterBlock, 3> kBlocks{{{kvrm::kImageAFirst, kvrm::kImageALast},
                                                {kvrm::kImageBFirst, kvrm::kImageBLast},
                                                {kvrm::kImageCFirst, kvrm::kImageCLast}}};

constexpr std::size_t block_registers() {
  std::size_t n = 0;
  for (const RegisterBlock& b : kBlocks) n += static_cast<std::size_t>(b.last - b.first + 1);
  return n;
}
constexpr std::size_t kRegisterCount = block_registers();

// True when registers start .. start+count-1 all lie in one block.
bool served(unsigned start, unsigned count);

class RegisterImage {
public:
  // The meter's three blocks, all 0.
  RegisterImage() : RegisterImage(false) {}
  // Every register 0..65535, all 0: a meter that answers whatever a test
  // asks of it.
  static RegisterImage every_register() { return RegisterImage(true); }

  // True when registers start .. start+count-1 are all served and, for
  // the meter's own image, lie in one block.
  bool serves(unsigned start, unsigned count) const;

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
  explicit RegisterImage(bool everyRegister);
  std::size_t index(unsigned reg) const;  // values_.size() when not served

  bool everyRegister_;
  std::vector<std::uint16_t> values_;
  std::vector<bool> pinned_;
};

// Reads an image file: one JSON object whose member names are decimal
// register numbers and whose values are 16-bit numbers (0..65535, or
// -32768..-1 for the two's complement). Every register must be served.
// On failure *error says what is wrong and the result is empty.
std::map<unsigned, std::uint16_t> read_image_file(const std::string& path, std::string* error);

}  // namespace meter_sim
