#pragma once
// The blocks of one commit of a meter, stored as one row: the first block
// as it is, each next one as its difference (XOR) from the one before, all
// deflated together. From one round to the next most registers do not
// change, so a block after the first costs a few dozen bytes, and a row
// needs nothing outside itself. A stored blob of exactly one block's size
// is that block (every record of the first layout is one). Pure.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace hist {

struct TimedBlock {
  std::int64_t time = 0;
  std::vector<unsigned char> block;
};

// Blocks that fit one row: at most this many, each of kBlockSize bytes.
constexpr std::size_t kBlocksPerRow = 64;

// `first` to `last` of `blocks` (every one kBlockSize long), against the
// row's time `rowTime`.
std::string pack_blocks(const TimedBlock* first, const TimedBlock* last, std::int64_t rowTime);

// The blocks of a stored blob; a blob that is neither a block nor a row is
// handed back as one "block" as it is, with the row's time (the caller
// refuses its size).
std::vector<TimedBlock> unpack_blocks(const void* blob, std::size_t size, std::int64_t rowTime);

}  // namespace hist
