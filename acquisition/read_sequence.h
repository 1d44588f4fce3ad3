#pragma once
// The 22 reads of one polling round, in order. Reply of read i is handled
// in request state kFirstState + i.
#include <array>
#include <cstddef>
#include <cstdint>

#include "acquisition/data_block.h"

namespace kvrm {

struct ReadStep {
  std::uint16_t start;
  std::uint16_t count;
  std::uint16_t offset;
};

constexpr int kFirstState = 11;
constexpr int kLastState = 32;

constexpr std::array<ReadStep, 22> kReadSequence{{
    {256, 10, 4},    {266, 20, 24},   {286, 20, 64},   {306, 40, 104},  {346, 20, 184},  {366, 12, 224},
    {378, 2, 248},   {380, 14, 252},  {394, 8, 280},   {402, 4, 296},   {406, 4, 304},   {410, 12, 312},
    {422, 2, 336},   {424, 4, 340},   {428, 4, 348},   {432, 12, 356},  {444, 12, 380},  {456, 24, 404},
    {480, 24, 452},  {504, 72, 500},  {39424, 110, 644}, {39624, 22, 864},
}};

static_assert(kLastState - kFirstState + 1 == static_cast<int>(kReadSequence.size()), "one state per read");

// Every read lands where its first register belongs, and the reads fill
// offsets 4..907 back to back: no gap, no overlap.
constexpr bool covers_block() {
  std::size_t next = kImageAOffset;
  for (const auto& s : kReadSequence) {
    if (s.offset != next || register_offset(s.start) != s.offset) return false;
    if (register_offset(s.start + s.count - 1) != s.offset + 2u * (s.count - 1u)) return false;
    next = s.offset + 2u * s.count;
  }
  return next == kTimeOffset;
}
static_assert(covers_block(), "the read sequence covers the register images exactly");

// The step of a polling state, or nullptr outside 11..32.
constexpr const ReadStep* step_for_state(int state) {
  return (state >= kFirstState && state <= kLastState) ? &kReadSequence[static_cast<std::size_t>(state - kFirstState)]
                                                       : nullptr;
}

}  // namespace kvrm
