#pragma once
// The signal catalogue: every member of the JSON snapshot, where its value
// sits in the meter data block and how it is read. The names are also the
// signal vocabulary of point files and threshold settings, so they are kept
// byte for byte (the brackets of the suffixes are full-width).
#include <array>
#include <cstddef>
#include <cstdint>

#include "acquisition/data_block.h"

namespace kvrm {

enum class Decoding : std::uint8_t {
  I32,   // two slots, signed, the first slot the high half
  S16,   // one slot, signed
  U16,   // one slot, unsigned
  F32,   // two slots, IEEE single, the first slot the low half
  Time,  // the block's seven-byte time stamp, as text
};

struct SignalRow {
  const char* name;
  std::uint16_t offset;  // block offset of the first slot
  Decoding decoding;
  float divisor;  // integer decodings only; the reading is divided by it
};

// The three energy variants, each in register order, then the
// instantaneous quantities, then the time.
// The one text member: the time of the reading.
inline constexpr const char* kUpdateTimeSignal = "更新时间";

inline constexpr std::array<SignalRow, 231> kSignalCatalogue{{
    // Energy, resolution 0.01: int32 / 100. Tariffs total..valley of the eleven
    // groups, then the deep valley of each group.
    {"组合有功总电能", 4, Decoding::I32, 100.0f},
    {"组合有功尖电能", 8, Decoding::I32, 100.0f},
    {"组合有功峰电能", 12, Decoding::I32, 100.0f},
    {"组合有功平电能", 16, Decoding::I32, 100.0f},
    {"组合有功谷电能", 20, Decoding::I32, 100.0f},
    {"正向有功总电能", 24, Decoding::I32, 100.0f},
    {"正向有功尖电能", 28, Decoding::I32, 100.0f},
    {"正向有功峰电能", 32, Decoding::I32, 100.0f},
    {"正向有功平电能", 36, Decoding::I32, 100.0f},
    {"正向有功谷电能", 40, Decoding::I32, 100.0f},
    {"反向有功总电能", 44, Decoding::I32, 100.0f},
    {"反向有功尖电能", 48, Decoding::I32, 100.0f},
    {"反向有功峰电能", 52, Decoding::I32, 100.0f},
    {"反向有功平电能", 56, Decoding::I32, 100.0f},
    {"反向有功谷电能", 60, Decoding::I32, 100.0f},
    {"组合无功1总电能", 64, Decoding::I32, 100.0f},
    {"组合无功1尖电能", 68, Decoding::I32, 100.0f},
    {"组合无功1峰电能", 72, Decoding::I32, 100.0f},
    {"组合无功1平电能", 76, Decoding::I32, 100.0f},
    {"组合无功1谷电能", 80, Decoding::I32, 100.0f},
    {"组合无功2总电能", 84, Decoding::I32, 100.0f},
    {"组合无功2尖电能", 88, Decoding::I32, 100.0f},
    {"组合无功2峰电能", 92, Decoding::I32, 100.0f},
    {"组合无功2平电能", 96, Decoding::I32, 100.0f},
    {"组合无功2谷电能", 100, Decoding::I32, 100.0f},
    {"一象限无功总电能", 104, Decoding::I32, 100.0f},
    {"一象限无功尖电能", 108, Decoding::I32, 100.0f},
    {"一象限无功峰电能", 112, Decoding::I32, 100.0f},
    {"一象限无功平电能", 116, Decoding::I32, 100.0f},
    {"一象限无功谷电能", 120, Decoding::I32, 100.0f},
    {"二象限无功总电能", 124, Decoding::I32, 100.0f},
    {"二象限无功尖电能", 128, Decoding::I32, 100.0f},
    {"二象限无功峰电能", 132, Decoding::I32, 100.0f},
    {"二象限无功平电能", 136, Decoding::I32, 100.0f},
    {"二象限无功谷电能", 140, Decoding::I32, 100.0f},
    {"三象限无功总电能", 144, Decoding::I32, 100.0f},
    {"三象限无功尖电能", 148, Decoding::I32, 100.0f},
    {"三象限无功峰电能", 152, Decoding::I32, 100.0f},
    {"三象限无功平电能", 156, Decoding::I32, 100.0f},
    {"三象限无功谷电能", 160, Decoding::I32, 100.0f},
    {"四象限无功总电能", 164, Decoding::I32, 100.0f},
    {"四象限无功尖电能", 168, Decoding::I32, 100.0f},
    {"四象限无功峰电能", 172, Decoding::I32, 100.0f},
    {"四象限无功平电能", 176, Decoding::I32, 100.0f},
    {"四象限无功谷电能", 180, Decoding::I32, 100.0f},
    {"正向视在总电能", 184, Decoding::I32, 100.0f},
    {"正向视在尖电能", 188, Decoding::I32, 100.0f},
    {"正向视在峰电能", 192, Decoding::I32, 100.0f},
    {"正向视在平电能", 196, Decoding::I32, 100.0f},
    {"正向视在谷电能", 200, Decoding::I32, 100.0f},
    {"反向视在总电能", 204, Decoding::I32, 100.0f},
    {"反向视在尖电能", 208, Decoding::I32, 100.0f},
    {"反向视在峰电能", 212, Decoding::I32, 100.0f},
    {"反向视在平电能", 216, Decoding::I32, 100.0f},
    {"反向视在谷电能", 220, Decoding::I32, 100.0f},
    {"组合有功深谷电能", 336, Decoding::I32, 100.0f},
    {"正向有功深谷电能", 340, Decoding::I32, 100.0f},
    {"反向有功深谷电能", 344, Decoding::I32, 100.0f},
    {"组合无功1深谷电能", 348, Decoding::I32, 100.0f},
    {"组合无功2深谷电能", 352, Decoding::I32, 100.0f},
    {"1象限无功深谷电能", 356, Decoding::I32, 100.0f},
    {"2象限无功深谷电能", 360, Decoding::I32, 100.0f},
    {"3象限无功深谷电能", 364, Decoding::I32, 100.0f},
    {"4象限无功深谷电能", 368, Decoding::I32, 100.0f},
    {"正向视在深谷电能", 372, Decoding::I32, 100.0f},
    {"反向视在深谷电能", 376, Decoding::I32, 100.0f},
    // Energy, resolution 0.001: int32 / 1000, six tariffs per group.
    {"组合有功总电能（0.001）", 380, Decoding::I32, 1000.0f},
    {"组合有功尖电能（0.001）", 384, Decoding::I32, 1000.0f},
    {"组合有功峰电能（0.001）", 388, Decoding::I32, 1000.0f},
    {"组合有功平电能（0.001）", 392, Decoding::I32, 1000.0f},
    {"组合有功谷电能（0.001）", 396, Decoding::I32, 1000.0f},
    {"组合有功深谷电能（0.001）", 400, Decoding::I32, 1000.0f},
    {"正向有功总电能（0.001）", 404, Decoding::I32, 1000.0f},
    {"正向有功尖电能（0.001）", 408, Decoding::I32, 1000.0f},
    {"正向有功峰电能（0.001）", 412, Decoding::I32, 1000.0f},
    {"正向有功平电能（0.001）", 416, Decoding::I32, 1000.0f},
    {"正向有功谷电能（0.001）", 420, Decoding::I32, 1000.0f},
    {"正向有功深谷电能（0.001）", 424, Decoding::I32, 1000.0f},
    {"反向有功总电能（0.001）", 428, Decoding::I32, 1000.0f},
    {"反向有功尖电能（0.001）", 432, Decoding::I32, 1000.0f},
    {"反向有功峰电能（0.001）", 436, Decoding::I32, 1000.0f},
    {"反向有功平电能（0.001）", 440, Decoding::I32, 1000.0f},
    {"反向有功谷电能（0.001）", 444, Decoding::I32, 1000.0f},
    {"反向有功深谷电能（0.001）", 448, Decoding::I32, 1000.0f},
    {"组合无功1总电能（0.001）", 452, Decoding::I32, 1000.0f},
    {"组合无功1尖电能（0.001）", 456, Decoding::I32, 1000.0f},
    {"组合无功1峰电能（0.001）", 460, Decoding::I32, 1000.0f},
    {"组合无功1平电能（0.001）", 464, Decoding::I32, 1000.0f},
    {"组合无功1谷电能（0.001）", 468, Decoding::I32, 1000.0f},
    {"组合无功1深谷电能（0.001）", 472, Decoding::I32, 1000.0f},
    {"组合无功2总电能（0.001）", 476, Decoding::I32, 1000.0f},
    {"组合无功2尖电能（0.001）", 480, Decoding::I32, 1000.0f},
    {"组合无功2峰电能（0.001）", 484, Decoding::I32, 1000.0f},
    {"组合无功2平电能（0.001）", 488, Decoding::I32, 1000.0f},
    {"组合无功2谷电能（0.001）", 492, Decoding::I32, 1000.0f},
    {"组合无功2深谷电能（0.001）", 496, Decoding::I32, 1000.0f},
    {"一象限无功总电能（0.001）", 500, Decoding::I32, 1000.0f},
    {"一象限无功尖电能（0.001）", 504, Decoding::I32, 1000.0f},
    {"一象限无功峰电能（0.001）", 508, Decoding::I32, 1000.0f},
    {"一象限无功平电能（0.001）", 512, Decoding::I32, 1000.0f},
    {"一象限无功谷电能（0.001）", 516, Decoding::I32, 1000.0f},
    {"一象限无功深谷电能（0.001）", 520, Decoding::I32, 1000.0f},
    {"二象限无功总电能（0.001）", 524, Decoding::I32, 1000.0f},
    {"二象限无功尖电能（0.001）", 528, Decoding::I32, 1000.0f},
    {"二象限无功峰电能（0.001）", 532, Decoding::I32, 1000.0f},
    {"二象限无功平电能（0.001）", 536, Decoding::I32, 1000.0f},
    {"二象限无功谷电能（0.001）", 540, Decoding::I32, 1000.0f},
    {"二象限无功深谷电能（0.001）", 544, Decoding::I32, 1000.0f},
    {"三象限无功总电能（0.001）", 548, Decoding::I32, 1000.0f},
    {"三象限无功尖电能（0.001）", 552, Decoding::I32, 1000.0f},
    {"三象限无功峰电能（0.001）", 556, Decoding::I32, 1000.0f},
    {"三象限无功平电能（0.001）", 560, Decoding::I32, 1000.0f},
    {"三象限无功谷电能（0.001）", 564, Decoding::I32, 1000.0f},
    {"三象限无功深谷电能（0.001）", 568, Decoding::I32, 1000.0f},
    {"四象限无功总电能（0.001）", 572, Decoding::I32, 1000.0f},
    {"四象限无功尖电能（0.001）", 576, Decoding::I32, 1000.0f},
    {"四象限无功峰电能（0.001）", 580, Decoding::I32, 1000.0f},
    {"四象限无功平电能（0.001）", 584, Decoding::I32, 1000.0f},
    {"四象限无功谷电能（0.001）", 588, Decoding::I32, 1000.0f},
    {"四象限无功深谷电能（0.001）", 592, Decoding::I32, 1000.0f},
    {"正向视在总电能（0.001）", 596, Decoding::I32, 1000.0f},
    {"正向视在尖电能（0.001）", 600, Decoding::I32, 1000.0f},
    {"正向视在峰电能（0.001）", 604, Decoding::I32, 1000.0f},
    {"正向视在平电能（0.001）", 608, Decoding::I32, 1000.0f},
    {"正向视在谷电能（0.001）", 612, Decoding::I32, 1000.0f},
    {"正向视在深谷电能（0.001）", 616, Decoding::I32, 1000.0f},
    {"反向视在总电能（0.001）", 620, Decoding::I32, 1000.0f},
    {"反向视在尖电能（0.001）", 624, Decoding::I32, 1000.0f},
    {"反向视在峰电能（0.001）", 628, Decoding::I32, 1000.0f},
    {"反向视在平电能（0.001）", 632, Decoding::I32, 1000.0f},
    {"反向视在谷电能（0.001）", 636, Decoding::I32, 1000.0f},
    {"反向视在深谷电能（0.001）", 640, Decoding::I32, 1000.0f},
    // Energy as the meter scales it by its transformer ratio: float32 as it
    // stands. Tariffs total..valley, then the deep valleys.
    {"组合有功总电能（乘变比）", 644, Decoding::F32, 0.0f},
    {"组合有功尖电能（乘变比）", 648, Decoding::F32, 0.0f},
    {"组合有功峰电能（乘变比）", 652, Decoding::F32, 0.0f},
    {"组合有功平电能（乘变比）", 656, Decoding::F32, 0.0f},
    {"组合有功谷电能（乘变比）", 660, Decoding::F32, 0.0f},
    {"正向有功总电能（乘变比）", 664, Decoding::F32, 0.0f},
    {"正向有功尖电能（乘变比）", 668, Decoding::F32, 0.0f},
    {"正向有功峰电能（乘变比）", 672, Decoding::F32, 0.0f},
    {"正向有功平电能（乘变比）", 676, Decoding::F32, 0.0f},
    {"正向有功谷电能（乘变比）", 680, Decoding::F32, 0.0f},
    {"反向有功总电能（乘变比）", 684, Decoding::F32, 0.0f},
    {"反向有功尖电能（乘变比）", 688, Decoding::F32, 0.0f},
    {"反向有功峰电能（乘变比）", 692, Decoding::F32, 0.0f},
    {"反向有功平电能（乘变比）", 696, Decoding::F32, 0.0f},
    {"反向有功谷电能（乘变比）", 700, Decoding::F32, 0.0f},
    {"组合无功1总电能（乘变比）", 704, Decoding::F32, 0.0f},
    {"组合无功1尖电能（乘变比）", 708, Decoding::F32, 0.0f},
    {"组合无功1峰电能（乘变比）", 712, Decoding::F32, 0.0f},
    {"组合无功1平电能（乘变比）", 716, Decoding::F32, 0.0f},
    {"组合无功1谷电能（乘变比）", 720, Decoding::F32, 0.0f},
    {"组合无功2总电能（乘变比）", 724, Decoding::F32, 0.0f},
    {"组合无功2尖电能（乘变比）", 728, Decoding::F32, 0.0f},
    {"组合无功2峰电能（乘变比）", 732, Decoding::F32, 0.0f},
    {"组合无功2平电能（乘变比）", 736, Decoding::F32, 0.0f},
    {"组合无功2谷电能（乘变比）", 740, Decoding::F32, 0.0f},
    {"一象限无功总电能（乘变比）", 744, Decoding::F32, 0.0f},
    {"一象限无功尖电能（乘变比）", 748, Decoding::F32, 0.0f},
    {"一象限无功峰电能（乘变比）", 752, Decoding::F32, 0.0f},
    {"一象限无功平电能（乘变比）", 756, Decoding::F32, 0.0f},
    {"一象限无功谷电能（乘变比）", 760, Decoding::F32, 0.0f},
    {"二象限无功总电能（乘变比）", 764, Decoding::F32, 0.0f},
    {"二象限无功尖电能（乘变比）", 768, Decoding::F32, 0.0f},
    {"二象限无功峰电能（乘变比）", 772, Decoding::F32, 0.0f},
    {"二象限无功平电能（乘变比）", 776, Decoding::F32, 0.0f},
    {"二象限无功谷电能（乘变比）", 780, Decoding::F32, 0.0f},
    {"三象限无功总电能（乘变比）", 784, Decoding::F32, 0.0f},
    {"三象限无功尖电能（乘变比）", 788, Decoding::F32, 0.0f},
    {"三象限无功峰电能（乘变比）", 792, Decoding::F32, 0.0f},
    {"三象限无功平电能（乘变比）", 796, Decoding::F32, 0.0f},
    {"三象限无功谷电能（乘变比）", 800, Decoding::F32, 0.0f},
    {"四象限无功总电能（乘变比）", 804, Decoding::F32, 0.0f},
    {"四象限无功尖电能（乘变比）", 808, Decoding::F32, 0.0f},
    {"四象限无功峰电能（乘变比）", 812, Decoding::F32, 0.0f},
    {"四象限无功平电能（乘变比）", 816, Decoding::F32, 0.0f},
    {"四象限无功谷电能（乘变比）", 820, Decoding::F32, 0.0f},
    {"正向视在总电能（乘变比）", 824, Decoding::F32, 0.0f},
    {"正向视在尖电能（乘变比）", 828, Decoding::F32, 0.0f},
    {"正向视在峰电能（乘变比）", 832, Decoding::F32, 0.0f},
    {"正向视在平电能（乘变比）", 836, Decoding::F32, 0.0f},
    {"正向视在谷电能（乘变比）", 840, Decoding::F32, 0.0f},
    {"反向视在总电能（乘变比）", 844, Decoding::F32, 0.0f},
    {"反向视在尖电能（乘变比）", 848, Decoding::F32, 0.0f},
    {"反向视在峰电能（乘变比）", 852, Decoding::F32, 0.0f},
    {"反向视在平电能（乘变比）", 856, Decoding::F32, 0.0f},
    {"反向视在谷电能（乘变比）", 860, Decoding::F32, 0.0f},
    {"组合有功深谷电能（乘变比）", 864, Decoding::F32, 0.0f},
    {"正向有功深谷电能（乘变比）", 868, Decoding::F32, 0.0f},
    {"反向有功深谷电能（乘变比）", 872, Decoding::F32, 0.0f},
    {"组合无功1深谷电能（乘变比）", 876, Decoding::F32, 0.0f},
    {"组合无功2深谷电能（乘变比）", 880, Decoding::F32, 0.0f},
    {"1象限无功深谷电能（乘变比）", 884, Decoding::F32, 0.0f},
    {"2象限无功深谷电能（乘变比）", 888, Decoding::F32, 0.0f},
    {"3象限无功深谷电能（乘变比）", 892, Decoding::F32, 0.0f},
    {"4象限无功深谷电能（乘变比）", 896, Decoding::F32, 0.0f},
    {"正向视在深谷电能（乘变比）", 900, Decoding::F32, 0.0f},
    {"反向视在深谷电能（乘变比）", 904, Decoding::F32, 0.0f},
    // Instantaneous quantities.
    {"A相电压", 224, Decoding::I32, 10000.0f},
    {"B相电压", 228, Decoding::I32, 10000.0f},
    {"C相电压", 232, Decoding::I32, 10000.0f},
    {"A相电流", 236, Decoding::I32, 10000.0f},
    {"B相电流", 240, Decoding::I32, 10000.0f},
    {"C相电流", 244, Decoding::I32, 10000.0f},
    {"有功总功率", 248, Decoding::I32, 10000.0f},
    {"A相有功总功率", 252, Decoding::I32, 10000.0f},
    {"B相有功总功率", 256, Decoding::I32, 10000.0f},
    {"C相有功总功率", 260, Decoding::I32, 10000.0f},
    {"无功总功率", 264, Decoding::I32, 10000.0f},
    {"A相无功总功率", 268, Decoding::I32, 10000.0f},
    {"B相无功总功率", 272, Decoding::I32, 10000.0f},
    {"C相无功总功率", 276, Decoding::I32, 10000.0f},
    {"总视在功率", 280, Decoding::I32, 10000.0f},
    {"A相视在功率", 284, Decoding::I32, 10000.0f},
    {"B相视在功率", 288, Decoding::I32, 10000.0f},
    {"C相视在功率", 292, Decoding::I32, 10000.0f},
    {"总功率因数", 296, Decoding::S16, 1000.0f},
    {"A相功率因数", 298, Decoding::S16, 1000.0f},
    {"B相功率因数", 300, Decoding::S16, 1000.0f},
    {"C相功率因数", 302, Decoding::S16, 1000.0f},
    {"A相相角", 304, Decoding::U16, 10.0f},
    {"B相相角", 306, Decoding::U16, 10.0f},
    {"C相相角", 308, Decoding::U16, 10.0f},
    {"电网频率", 310, Decoding::U16, 100.0f},
    {"A相线电压", 312, Decoding::I32, 10000.0f},
    {"B相线电压", 316, Decoding::I32, 10000.0f},
    {"C相线电压", 320, Decoding::I32, 10000.0f},
    {"三相平均线电压", 324, Decoding::I32, 10000.0f},
    {"三相平均相电压", 328, Decoding::I32, 10000.0f},
    {"三相平均电流", 332, Decoding::I32, 10000.0f},
    // The time of the reading, from the block's time stamp.
    {kUpdateTimeSignal, 908, Decoding::Time, 0.0f},
}};

constexpr std::size_t kNumericSignals = 230;

constexpr std::size_t slot_bytes(Decoding d) {
  return (d == Decoding::S16 || d == Decoding::U16) ? 2 : d == Decoding::Time ? kTimeSize : 4;
}

// The numeric members come first and read every byte of the register images
// exactly once; integers have a divisor and floats none; the time is last.
constexpr bool catalogue_is_sound() {
  std::array<unsigned char, kBlockSize> uses{};
  for (std::size_t i = 0; i < kSignalCatalogue.size(); ++i) {
    const SignalRow& r = kSignalCatalogue[i];
    const bool isTime = r.decoding == Decoding::Time;
    if (isTime != (i == kNumericSignals)) return false;
    if (isTime) {
      if (r.offset != kTimeOffset) return false;
      continue;
    }
    const bool isInteger = r.decoding != Decoding::F32;
    if (isInteger != (r.divisor > 0.0f)) return false;
    if (r.offset < kImageAOffset || r.offset + slot_bytes(r.decoding) > kTimeOffset) return false;
    for (std::size_t b = 0; b < slot_bytes(r.decoding); ++b) ++uses[r.offset + b];
  }
  for (std::size_t b = kImageAOffset; b < kTimeOffset; ++b)
    if (uses[b] != 1) return false;
  return true;
}
static_assert(catalogue_is_sound(), "the catalogue reads the register images exactly once");

}  // namespace kvrm
