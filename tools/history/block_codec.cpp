#include "block_codec.h"

#include <zlib.h>

#include "acquisition/data_block.h"
#include "deflate.h"

namespace hist {

std::string pack_block(const unsigned char* block, std::size_t size) {
  const std::string plain(reinterpret_cast<const char*>(block), size);
  if (size != kvrm::kBlockSize) return plain;
  std::string packed;
  if (!deflate_small(block, size, &packed) || packed.size() >= size) return plain;
  return packed;
}

std::vector<unsigned char> unpack_block(const void* blob, std::size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(blob);
  std::vector<unsigned char> out(bytes, bytes + size);
  if (size == kvrm::kBlockSize || size == 0) return out;
  std::vector<unsigned char> block(kvrm::kBlockSize + 1);
  uLongf blockSize = static_cast<uLongf>(block.size());
  if (uncompress(block.data(), &blockSize, bytes, static_cast<uLong>(size)) == Z_OK && blockSize == kvrm::kBlockSize) {
    block.resize(blockSize);
    return block;
  }
  return out;
}

}  // namespace hist
