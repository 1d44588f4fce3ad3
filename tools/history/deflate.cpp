#include "deflate.h"

#include <zlib.h>

namespace hist {

namespace {

constexpr int kWindowBits = 10;  // 1 KiB: a block is 915 bytes, and its successors differ from it
constexpr int kMemLevel = 8;
// The default level: the best one spends its time on the long runs of
// zeros that differences are, for nothing smaller.
constexpr int kLevel = 6;

class Deflater {
public:
  Deflater() {
    ok_ = deflateInit2(&stream_, kLevel, Z_DEFLATED, kWindowBits, kMemLevel, Z_DEFAULT_STRATEGY) == Z_OK;
  }
  ~Deflater() {
    if (ok_) deflateEnd(&stream_);
  }
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;

  bool run(const void* data, std::size_t size, std::string* out) {
    if (!ok_ || deflateReset(&stream_) != Z_OK) return false;
    out->resize(deflateBound(&stream_, static_cast<uLong>(size)));
    stream_.next_in = const_cast<Bytef*>(static_cast<const Bytef*>(data));
    stream_.avail_in = static_cast<uInt>(size);
    stream_.next_out = reinterpret_cast<Bytef*>(out->data());
    stream_.avail_out = static_cast<uInt>(out->size());
    if (deflate(&stream_, Z_FINISH) != Z_STREAM_END) return false;
    out->resize(stream_.total_out);
    return true;
  }

private:
  z_stream stream_{};
  bool ok_ = false;
};

}  // namespace

bool deflate_small(const void* data, std::size_t size, std::string* out) {
  thread_local Deflater deflater;
  return deflater.run(data, size, out);
}

}  // namespace hist
