// The float text written through to_chars against the lexical_cast text it
// replaced: every special value, every float around the notation changes,
// and millions of random bit patterns.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include <boost/lexical_cast.hpp>

#include "alarms/float_text.h"

namespace {

// The text as it was made before: lexical_cast, infinities spelled out.
std::string lexical_text(float v) {
  if (std::isinf(v)) return v < 0 ? "-infinity" : "infinity";
  return boost::lexical_cast<std::string>(v);
}

float from_bits(std::uint32_t bits) {
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kRandomPatterns = 1 << 16;  // the instrumented builds check the logic, not the volume
#else
constexpr int kRandomPatterns = 3 << 20;
#endif

}  // namespace

TEST(FloatText, SpecialValuesAsBefore) {
  using lim = std::numeric_limits<float>;
  const float specials[] = {0.0f,          -0.0f,           lim::infinity(),    -lim::infinity(),
                            lim::quiet_NaN(), -lim::quiet_NaN(), lim::signaling_NaN(), from_bits(0xFFFFFFFFu),
                            from_bits(0x7F800001u), lim::denorm_min(), -lim::denorm_min(), lim::min(),
                            -lim::min(),   lim::max(),      -lim::max(),        lim::epsilon(),
                            from_bits(0x007FFFFFu), 1.0f,   -1.0f,              0.1f,
                            1e9f,          1e-5f,           1e-4f,              999999999.0f,
                            99999999.0f,   123456789.0f,    16777216.0f,        4294967296.0f};
  for (float v : specials) EXPECT_EQ(kvrm::float_text(v), lexical_text(v)) << "bits " << std::hex << [&] {
      std::uint32_t b;
      std::memcpy(&b, &v, sizeof b);
      return b;
    }();
}

TEST(FloatText, PowersOfTenAndTheirNeighboursAsBefore) {
  // Where "%.9g" switches between fixed and exponent notation.
  for (int e = -45; e <= 38; ++e) {
    const float p = std::pow(10.0f, static_cast<float>(e));
    for (float v : {p, std::nextafter(p, 0.0f), std::nextafter(p, std::numeric_limits<float>::infinity())}) {
      EXPECT_EQ(kvrm::float_text(v), lexical_text(v));
      EXPECT_EQ(kvrm::float_text(-v), lexical_text(-v));
    }
  }
}

TEST(FloatText, RandomBitPatternsAsBefore) {
  std::mt19937 gen(20261208);
  int differing = 0;
  for (int i = 0; i < kRandomPatterns; ++i) {
    const float v = from_bits(static_cast<std::uint32_t>(gen()));
    const std::string now = kvrm::float_text(v);
    const std::string before = lexical_text(v);
    if (now != before && ++differing <= 10) ADD_FAILURE() << now << " != " << before;
  }
  EXPECT_EQ(differing, 0);
}

TEST(FloatText, MeterLikeValuesAndExactTiesAsBefore) {
  // Readings with few decimals, and binary fractions whose tenth digit is
  // an exact 5 (rounded to even), in every fixed-notation magnitude.
  for (int i = -300000; i <= 300000; i += 7) {
    for (float d : {1.0f, 10.0f, 100.0f, 1000.0f, 8.0f, 1024.0f}) {
      const float v = static_cast<float>(i) / d;
      ASSERT_EQ(kvrm::float_text(v), lexical_text(v)) << v;
    }
  }
  for (float v : {1048576.125f, 1048576.375f, 2097152.25f, 4194304.5f, 0.000123456789f, 99999999.5f}) {
    EXPECT_EQ(kvrm::float_text(v), lexical_text(v));
    EXPECT_EQ(kvrm::float_text(-v), lexical_text(-v));
  }
}
