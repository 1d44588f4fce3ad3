#pragma once
// The per-minute and per-hour tiers: for every numeric member of the
// snapshot, the lowest, the highest and the sum of its finite values over
// a period, how many there were and how many were not finite. Pure: the
// store feeds rounds in and writes the rows out.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "publication/signal_catalogue.h"

namespace hist {

struct TierSpec {
  const char* table;
  std::int64_t seconds;
  const char* step;  // as meter-history's --step names it
};
// Finest first: a period that ends in one tier is written to the coarser.
inline constexpr std::array<TierSpec, 2> kTiers{{{"minutes", 60, "1m"}, {"hours", 3600, "1h"}}};
constexpr std::size_t kMembers = kvrm::kNumericSignals;

// The start of the period of `seconds` that holds `time`, periods aligned
// on the local clock (`gmtOffset` seconds east of UTC): an hour row of a
// zone half an hour off UTC still starts at a local full hour.
std::int64_t period_start(std::int64_t time, std::int64_t seconds, long gmtOffset);

// Members as published for a block: catalogue order, the time left out.
using MemberValues = std::array<double, kMembers>;
void member_values(const unsigned char* block, MemberValues* values);

struct MemberStats {
  // Values are single-precision results: the extremes keep them exactly.
  float min = 0.0f;
  float max = 0.0f;
  double sum = 0.0;
  std::uint32_t values = 0;   // finite ones
  std::uint32_t skipped = 0;  // NaN and infinities
  double mean() const;        // NaN without a value
};

struct TierStats {
  std::int64_t start = 0;
  std::uint32_t rounds = 0;
  std::array<MemberStats, kMembers> members{};

  void add(const MemberValues& values);
};

// A tier row's statistics as one compact blob: a member that holds one
// value all period long (most of them, most of the time) takes five
// bytes before compression, one that changed seventeen, and the whole is
// deflated.
std::string encode_stats(const TierStats& stats);
// False when the blob is not one encode_stats wrote for kMembers members.
bool decode_stats(const void* data, std::size_t size, std::uint32_t rounds, TierStats* stats);

}  // namespace hist
