#include "block_codec.h"

#include <zlib.h>

#include "acquisition/data_block.h"
#include "deflate.h"

namespace hist {

namespace {

// Times are stored as their distance from the row's time, zig-zagged so a
// clock set back still fits.
void put_distance(std::string& out, std::int64_t d) {
  auto v = (static_cast<std::uint64_t>(d) << 1) ^ static_cast<std::uint64_t>(d >> 63);
  while (v >= 0x80) {
    out += static_cast<char>((v & 0x7F) | 0x80);
    v >>= 7;
  }
  out += static_cast<char>(v);
}

bool get_distance(const unsigned char*& p, const unsigned char* end, std::int64_t* d) {
  std::uint64_t v = 0;
  for (int shift = 0; shift < 64; shift += 7) {
    if (p == end) return false;
    const unsigned char byte = *p++;
    v |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
    if (!(byte & 0x80)) {
      *d = static_cast<std::int64_t>((v >> 1) ^ (~(v & 1) + 1));
      return true;
    }
  }
  return false;
}

}  // namespace

std::string pack_blocks(const TimedBlock* first, const TimedBlock* last, std::int64_t rowTime) {
  std::string plain;
  plain += static_cast<char>(last - first);
  const unsigned char* previous = nullptr;
  for (const TimedBlock* b = first; b != last; ++b) {
    put_distance(plain, b->time - rowTime);
    for (std::size_t i = 0; i < kvrm::kBlockSize; ++i)
      plain += static_cast<char>(previous ? b->block[i] ^ previous[i] : b->block[i]);
    previous = b->block.data();
  }
  std::string packed;
  if (!deflate_small(plain.data(), plain.size(), &packed)) return {};
  return packed;
}

std::vector<TimedBlock> unpack_blocks(const void* blob, std::size_t size, std::int64_t rowTime) {
  const auto* bytes = static_cast<const unsigned char*>(blob);
  const auto as_is = [&] { return std::vector<TimedBlock>{TimedBlock{rowTime, {bytes, bytes + size}}}; };
  if (size == kvrm::kBlockSize || size == 0) return as_is();
  // The plain form: a count, then per block at most ten bytes of time and
  // the block.
  std::vector<unsigned char> plain(1 + kBlocksPerRow * (10 + kvrm::kBlockSize));
  uLongf plainSize = static_cast<uLongf>(plain.size());
  if (uncompress(plain.data(), &plainSize, bytes, static_cast<uLong>(size)) != Z_OK || plainSize < 1) return as_is();
  const unsigned char* p = plain.data();
  const unsigned char* end = plain.data() + plainSize;
  const std::size_t count = *p++;
  std::vector<TimedBlock> out(count);
  for (std::size_t k = 0; k < count; ++k) {
    std::int64_t d = 0;
    if (!get_distance(p, end, &d) || static_cast<std::size_t>(end - p) < kvrm::kBlockSize) return as_is();
    out[k].time = rowTime + d;
    out[k].block.assign(p, p + kvrm::kBlockSize);
    if (k)
      for (std::size_t i = 0; i < kvrm::kBlockSize; ++i) out[k].block[i] ^= out[k - 1].block[i];
    p += kvrm::kBlockSize;
  }
  if (p != end) return as_is();
  return out;
}

}  // namespace hist
