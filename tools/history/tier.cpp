#include "tier.h"

#include <cmath>
#include <cstring>
#include <limits>

#include <zlib.h>

#include "deflate.h"
#include "publication/signal_value.h"

namespace hist {

namespace {

// Member kinds in the blob.
enum Kind : unsigned char { kNoValue = 0, kConstant = 1, kVaried = 2, kHasSkipped = 0x80 };

template <class T>
void put(std::string& out, T v) {
  char bytes[sizeof v];
  std::memcpy(bytes, &v, sizeof v);
  out.append(bytes, sizeof v);
}

void put_count(std::string& out, std::uint32_t v) {
  while (v >= 0x80) {
    out += static_cast<char>((v & 0x7F) | 0x80);
    v >>= 7;
  }
  out += static_cast<char>(v);
}

class Reader {
public:
  explicit Reader(const std::string& text) : p_(text.data()), end_(text.data() + text.size()) {}
  template <class T>
  bool get(T* v) {
    if (static_cast<std::size_t>(end_ - p_) < sizeof *v) return false;
    std::memcpy(v, p_, sizeof *v);
    p_ += sizeof *v;
    return true;
  }
  bool get_count(std::uint32_t* v) {
    *v = 0;
    for (int shift = 0; shift < 35; shift += 7) {
      unsigned char byte;
      if (!get(&byte)) return false;
      *v |= static_cast<std::uint32_t>(byte & 0x7F) << shift;
      if (!(byte & 0x80)) return true;
    }
    return false;
  }
  bool done() const { return p_ == end_; }

private:
  const char* p_;
  const char* end_;
};

}  // namespace

std::int64_t period_start(std::int64_t time, std::int64_t seconds, long gmtOffset) {
  const std::int64_t local = time + gmtOffset;
  const std::int64_t into = ((local % seconds) + seconds) % seconds;
  return time - into;
}

void member_values(const unsigned char* block, MemberValues* values) {
  for (std::size_t i = 0; i < kMembers; ++i) (*values)[i] = kvrm::signal_value(block, kvrm::kSignalCatalogue[i]);
}

double MemberStats::mean() const {
  return values ? sum / values : std::numeric_limits<double>::quiet_NaN();
}

void TierStats::add(const MemberValues& values) {
  ++rounds;
  for (std::size_t i = 0; i < kMembers; ++i) {
    MemberStats& m = members[i];
    const double v = values[i];
    if (!std::isfinite(v)) {
      ++m.skipped;
      continue;
    }
    const float f = static_cast<float>(v);
    if (m.values == 0 || f < m.min) m.min = f;
    if (m.values == 0 || f > m.max) m.max = f;
    m.sum += v;
    ++m.values;
  }
}

std::string encode_stats(const TierStats& stats) {
  std::string plain;
  plain.reserve(kMembers * 17);
  for (const MemberStats& m : stats.members) {
    // A member's value count is the rounds less the skipped ones.
    const unsigned char skipped = m.skipped ? kHasSkipped : 0;
    if (m.values == 0) {
      plain += static_cast<char>(kNoValue | skipped);
    } else if (m.min == m.max && m.sum == static_cast<double>(m.min) * m.values) {
      plain += static_cast<char>(kConstant | skipped);
      put(plain, m.min);
    } else {
      plain += static_cast<char>(kVaried | skipped);
      put(plain, m.min);
      put(plain, m.max);
      put(plain, m.sum);
    }
    if (m.skipped) put_count(plain, m.skipped);
  }
  std::string packed;
  if (!deflate_small(plain.data(), plain.size(), &packed)) return {};
  return packed;
}

bool decode_stats(const void* data, std::size_t size, std::uint32_t rounds, TierStats* stats) {
  // The plain form is at most 17 bytes and a count per member.
  std::string plain(kMembers * 22, '\0');
  uLongf plainSize = static_cast<uLongf>(plain.size());
  if (uncompress(reinterpret_cast<Bytef*>(plain.data()), &plainSize, static_cast<const Bytef*>(data),
                 static_cast<uLong>(size)) != Z_OK)
    return false;
  plain.resize(plainSize);
  Reader in(plain);
  stats->rounds = rounds;
  for (MemberStats& m : stats->members) {
    m = MemberStats{};
    unsigned char kind;
    if (!in.get(&kind)) return false;
    switch (kind & ~kHasSkipped) {
      case kNoValue:
        break;
      case kConstant:
        if (!in.get(&m.min)) return false;
        m.max = m.min;
        break;
      case kVaried:
        if (!in.get(&m.min) || !in.get(&m.max) || !in.get(&m.sum)) return false;
        break;
      default:
        return false;
    }
    if ((kind & kHasSkipped) && !in.get_count(&m.skipped)) return false;
    if (m.skipped > rounds) return false;
    m.values = (kind & ~kHasSkipped) == kNoValue ? 0 : rounds - m.skipped;
    if ((kind & ~kHasSkipped) == kConstant) m.sum = static_cast<double>(m.min) * m.values;
  }
  return in.done();
}

}  // namespace hist
