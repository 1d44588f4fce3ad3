#pragma once
// A register image whose decoding exercises the sign, the two word orders
// and single-precision rounding, with the snapshot values it must give.
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace tools_test {

inline std::map<unsigned, std::uint16_t> tricky_image() {
  return {
      {266, 0xFFFF},   {267, 0xFFFF},    // forward active energy: -1 at 0.01
      {366, 35},       {367, 7240},      // phase A voltage: 2301000
      {368, 0xFFFF},   {369, 0xFFFE},    // phase B voltage: -2, high half first
      {420, 0x7FFF},   {421, 0xFFFF},    // average current: the largest int32, rounded to float
      {402, 0xFF6A},                     // total power factor: -150
      {403, 0xFC18},                     // power factor A: -1000
      {406, 0xFFFF},                     // phase angle A: unsigned 65535
      {407, 0xFC18},                     // phase angle B: unsigned 64536
      {409, 5000},                       // grid frequency
      {432, 0x0001},   {433, 0x0000},    // quadrant I deep valley: 65536 at 0.01
      {456, 1883},     {457, 52501},     // forward active at 0.001: 123456789
      {574, 0x8000},   {575, 0x0000},    // reverse apparent deep valley at 0.001: the smallest int32
      {39424, 0x0000}, {39425, 0x3FC0},  // ratio-scaled combined active: 1.5, low half first
      {39624, 0x0000}, {39625, 0x3F80},  // ratio-scaled combined active deep valley: 1.0
      {39644, 0x0000}, {39645, 0xC2F6},  // ratio-scaled reverse apparent deep valley: -123
  };
}

struct ExpectedValue {
  const char* name;
  double value;
};

inline double scaled(std::int64_t raw, float divisor) {
  return static_cast<double>(static_cast<float>(raw) / divisor);
}

inline std::vector<ExpectedValue> tricky_values() {
  return {
      {"正向有功总电能", scaled(-1, 100.0f)},
      {"A相电压", 230.10000610351562},
      {"B相电压", scaled(-2, 10000.0f)},
      {"三相平均电流", scaled(2147483647, 10000.0f)},
      {"总功率因数", -0.15000000596046448},
      {"A相功率因数", -1.0},
      {"A相相角", 6553.5},
      {"B相相角", scaled(64536, 10.0f)},
      {"电网频率", 50.0},
      {"1象限无功深谷电能", 655.3599853515625},
      {"正向有功总电能（0.001）", 123456.7890625},
      {"反向视在深谷电能（0.001）", scaled(-2147483647LL - 1, 1000.0f)},
      {"组合有功总电能（乘变比）", 1.5},
      {"组合有功深谷电能（乘变比）", 1.0},
      {"反向视在深谷电能（乘变比）", -123.0},
      {"组合有功总电能", 0.0},
      {"C相电压", 0.0},
  };
}

}  // namespace tools_test
