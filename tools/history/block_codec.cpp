#include "block_codec.h"

#include <zlib.h>

#include "acquisition/data_block.h"

namespace history {

std::string pack_block(const unsigned char* block, std::size_t size) {
  const std::string plain(reinterpret_cast<const char*>(block), size);
  if (size != kvrm::kBlockSize) return plain;
  uLongf packedSize = compressBound(static_cast<uLong>(size));
  std::string packed(packedSize, '\0');
  if (compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize, block, static_cast<uLong>(size),
                Z_BEST_COMPRESSION) != Z_OK ||
      packedSize >= size)
    return plain;
  packed.resize(packedSize);
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

}  // namespace history
