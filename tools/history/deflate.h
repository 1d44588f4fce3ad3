#pragma once
// Deflate for the small pieces the history stores (a block, a tier row):
// a window of 1 KiB is all they need, and the stream is kept per thread
// and reset, not set up anew for each piece. Inflating is zlib's own
// uncompress.
#include <cstddef>
#include <string>

namespace hist {

// False when zlib fails (out of memory).
bool deflate_small(const void* data, std::size_t size, std::string* out);

}  // namespace hist
