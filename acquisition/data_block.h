#pragma once
// The meter data block: one complete reading of the meter, exchanged with
// the host as it stands, so every offset here is a file format.
#include <cstddef>
#include <cstdint>
#include <cstring>

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "register slots are little-endian images of the native registers");

#pragma pack(push, 1)
struct KVRM4410T_Q_Data_t {
  std::uint32_t dataId;          // offset 0
  std::uint16_t imageA[320];     // registers 256..575, offset 4
  std::uint16_t imageB[110];     // registers 39424..39533, offset 644
  std::uint16_t imageC[22];      // registers 39624..39645, offset 864
  std::uint16_t year;            // offset 908
  std::uint8_t month;            // 910
  std::uint8_t day;              // 911
  std::uint8_t hour;             // 912
  std::uint8_t minute;           // 913
  std::uint8_t second;           // 914
};
#pragma pack(pop)

namespace kvrm {

constexpr std::size_t kBlockSize = 915;
constexpr std::size_t kImageAOffset = 4;
constexpr std::size_t kImageBOffset = 644;
constexpr std::size_t kImageCOffset = 864;
constexpr std::size_t kTimeOffset = 908;
constexpr std::size_t kTimeSize = 7;

constexpr std::uint16_t kImageAFirst = 256, kImageALast = 575;
constexpr std::uint16_t kImageBFirst = 39424, kImageBLast = 39533;
constexpr std::uint16_t kImageCFirst = 39624, kImageCLast = 39645;

// Block offset of a meter register, or 0 when the meter has no such register.
constexpr std::size_t register_offset(unsigned reg) {
  return (reg >= kImageAFirst && reg <= kImageALast)   ? kImageAOffset + 2 * (reg - kImageAFirst)
         : (reg >= kImageBFirst && reg <= kImageBLast) ? kImageBOffset + 2 * (reg - kImageBFirst)
         : (reg >= kImageCFirst && reg <= kImageCLast) ? kImageCOffset + 2 * (reg - kImageCFirst)
                                                       : 0;
}

// Slots are read and written byte-wise: the block is packed and a pointer
// to one of its members would make unaligned loads, which fault on ARM.
inline std::uint16_t read_uint16(const unsigned char* block, std::size_t offset) {
  std::uint16_t v;
  std::memcpy(&v, block + offset, sizeof v);
  return v;
}

inline std::int16_t read_int16(const unsigned char* block, std::size_t offset) {
  return static_cast<std::int16_t>(read_uint16(block, offset));
}

// Two slots, the first (lower register) being the high half.
inline std::int32_t read_int32(const unsigned char* block, std::size_t offset) {
  const std::uint32_t raw = (static_cast<std::uint32_t>(read_uint16(block, offset)) << 16) |
                            read_uint16(block, offset + 2);
  return static_cast<std::int32_t>(raw);
}

// Two slots, the first being the low half: the four bytes as one
// little-endian word.
inline float read_float32(const unsigned char* block, std::size_t offset) {
  float f;
  std::memcpy(&f, block + offset, sizeof f);
  return f;
}

inline void store_registers(unsigned char* block, std::size_t offset, const std::uint16_t* regs, std::size_t count) {
  std::memcpy(block + offset, regs, 2 * count);
}

inline void write_uint16(unsigned char* block, std::size_t offset, std::uint16_t v) {
  std::memcpy(block + offset, &v, sizeof v);
}

}  // namespace kvrm

static_assert(sizeof(KVRM4410T_Q_Data_t) == kvrm::kBlockSize, "the block is 915 bytes");
static_assert(alignof(KVRM4410T_Q_Data_t) == 1, "the block is read at any offset");
static_assert(offsetof(KVRM4410T_Q_Data_t, imageA) == kvrm::kImageAOffset, "image A at 4");
static_assert(offsetof(KVRM4410T_Q_Data_t, imageB) == kvrm::kImageBOffset, "image B at 644");
static_assert(offsetof(KVRM4410T_Q_Data_t, imageC) == kvrm::kImageCOffset, "image C at 864");
static_assert(offsetof(KVRM4410T_Q_Data_t, year) == 908 && offsetof(KVRM4410T_Q_Data_t, month) == 910 &&
                  offsetof(KVRM4410T_Q_Data_t, day) == 911 && offsetof(KVRM4410T_Q_Data_t, hour) == 912 &&
                  offsetof(KVRM4410T_Q_Data_t, minute) == 913 && offsetof(KVRM4410T_Q_Data_t, second) == 914,
              "time field layout");
static_assert(kvrm::register_offset(266) == 24 && kvrm::register_offset(334) == 160 &&
                  kvrm::register_offset(409) == 310 && kvrm::register_offset(574) == 640 &&
                  kvrm::register_offset(39424) == 644 && kvrm::register_offset(39644) == 904,
              "worked offsets");
