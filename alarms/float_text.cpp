#include "alarms/float_text.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace kvrm {

namespace {

char* put(char* first, const char* word) {
  const std::size_t n = std::strlen(word);
  std::memcpy(first, word, n);
  return first + n;
}

constexpr std::uint64_t kPow10[] = {1ull,         10ull,         100ull,         1000ull,
                                    10000ull,     100000ull,     1000000ull,     10000000ull,
                                    100000000ull, 1000000000ull, 10000000000ull, 100000000000ull,
                                    1000000000000ull};

// m * 10^s stays below 2^24 * 10^12 < 2^64.
using u64 = std::uint64_t;

// a = m * 2^e scaled by 10^s, truncated.
u64 scaled(std::uint32_t m, int e, int s) {
  const u64 num = static_cast<u64>(m) * kPow10[s];
  return e >= 0 ? num << e : num >> -e;
}

// The same rounded to nearest, ties to even (as printf and to_chars round
// the exact value).
std::uint64_t scaled_rounded(std::uint32_t m, int e, int s) {
  const u64 num = static_cast<u64>(m) * kPow10[s];
  if (e >= 0) return num << e;
  const int k = -e;
  const u64 n = num >> k;
  const u64 rest = num - (n << k);
  const u64 half = static_cast<u64>(1) << (k - 1);
  std::uint64_t digits = n;
  if (rest > half || (rest == half && (digits & 1u) != 0)) ++digits;
  return digits;
}

// "%.9g" of a float whose decimal exponent, after rounding, lies in
// [-4, 8] (the fixed notation), written exactly with integer arithmetic;
// nullptr for any other value, which to_chars then writes.
char* write_fixed(char* first, float v) {
  std::uint32_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  const int biased = static_cast<int>((bits >> 23) & 0xFFu);
  // Normal floats from 2^-14 (above 1e-5) to below 2^30 (about 1.07e9).
  if (biased < 127 - 14 || biased >= 127 + 30) return nullptr;
  const std::uint32_t m = (bits & 0x7FFFFFu) | 0x800000u;
  const int e = biased - 150;
  const double a = std::fabs(static_cast<double>(v));
  // A first guess of the decimal exponent; the exact product settles it:
  // 10^8 <= a * 10^(8 - x) < 10^9.
  int x = a >= 1e8 ? 8 : a >= 1e7 ? 7 : a >= 1e6 ? 6 : a >= 1e5 ? 5 : a >= 1e4 ? 4 : a >= 1e3 ? 3
        : a >= 1e2 ? 2 : a >= 1e1 ? 1 : a >= 1 ? 0 : a >= 1e-1 ? -1 : a >= 1e-2 ? -2 : a >= 1e-3 ? -3 : -4;
  for (;;) {
    if (x < -4 || x > 8) return nullptr;
    const u64 n = scaled(m, e, 8 - x);
    if (n >= kPow10[9]) {
      ++x;
    } else if (n < kPow10[8]) {
      --x;
    } else {
      break;
    }
  }
  std::uint64_t digits = scaled_rounded(m, e, 8 - x);
  if (digits == kPow10[9]) {  // rounded up to the next power of ten
    digits = kPow10[8];
    if (++x > 8) return nullptr;
  }

  char d[9];
  for (int i = 8; i >= 0; --i) {
    d[i] = static_cast<char>('0' + digits % 10);
    digits /= 10;
  }
  int last = 8;  // the last significant digit kept: trailing zeros go
  while (last > 0 && d[last] == '0') --last;
  char* out = first;
  if (bits >> 31) *out++ = '-';
  if (x >= 0) {
    std::memcpy(out, d, static_cast<std::size_t>(x) + 1);
    out += x + 1;
    if (last > x) {
      *out++ = '.';
      const std::size_t n = static_cast<std::size_t>(last - x);
      std::memcpy(out, d + x + 1, n);
      out += n;
    }
  } else {
    *out++ = '0';
    *out++ = '.';
    for (int i = -1; i > x; --i) *out++ = '0';
    const std::size_t n = static_cast<std::size_t>(last) + 1;
    std::memcpy(out, d, n);
    out += n;
  }
  return out;
}

}  // namespace

char* write_float_text(char* first, float v) {
  if (std::isnan(v)) return put(first, std::signbit(v) ? "-nan" : "nan");
  if (std::isinf(v)) return put(first, v < 0 ? "-infinity" : "infinity");
  // Same characters as printf's "%.9g" in the C locale, without its cost:
  // the usual magnitudes exactly by integers, the rest through to_chars.
  if (char* end = write_fixed(first, v)) return end;
  return std::to_chars(first, first + kFloatTextRoom, static_cast<double>(v), std::chars_format::general, 9).ptr;
}

std::string float_text(float v) {
  char text[kFloatTextRoom];
  return std::string(text, write_float_text(text, v));
}

}  // namespace kvrm
