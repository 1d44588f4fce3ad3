#pragma once
// A stored block: deflated when that makes it shorter. A stored blob of
// exactly the block's size is the block itself (every record of the
// first layout is one), anything else is inflated back. Pure.
#include <cstddef>
#include <string>
#include <vector>

namespace hist {

std::string pack_block(const unsigned char* block, std::size_t size);

// The block of a stored blob; a blob that does not inflate to a whole
// block is handed back as it is (the caller refuses its size).
std::vector<unsigned char> unpack_block(const void* blob, std::size_t size);

}  // namespace hist
