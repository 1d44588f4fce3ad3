// What the build really targets. The controller is 32-bit ARM, where the
// plain types differ from the build machine's. The ARM toolchain file
// defines KV_EXPECT_ARMHF, so these tests fail if the ARM suite was
// compiled for the build machine by mistake; natively they keep the build
// machine's facts in view.
#include <climits>
#include <cstddef>
#include <ctime>
#include <type_traits>

#include <gtest/gtest.h>

#include "plugin/kvrm4410t_q.h"

#if defined(KV_EXPECT_ARMHF)

TEST(Target, CompiledForArm) {
#if !defined(__arm__)
  ADD_FAILURE() << "the ARM suite was compiled for another machine";
#endif
}

TEST(Target, PointersAreFourBytesOnArm) {
  EXPECT_EQ(sizeof(void*), 4u);
  EXPECT_EQ(sizeof(std::size_t), 4u);
}

TEST(Target, PlainCharIsUnsignedOnArm) {
  EXPECT_TRUE(std::is_unsigned<char>::value);
  EXPECT_EQ(CHAR_MIN, 0);
  const char c = static_cast<char>(0xFF);
  EXPECT_GT(static_cast<int>(c), 0);
}

TEST(Target, TimeTIsThirtyTwoBitsOnArm) {
  EXPECT_EQ(sizeof(std::time_t), 4u);
}

#elif defined(__x86_64__)

TEST(Target, PointersAreEightBytesOnX86_64) {
  EXPECT_EQ(sizeof(void*), 8u);
}

TEST(Target, PlainCharIsSignedOnX86_64) {
  EXPECT_TRUE(std::is_signed<char>::value);
  const char c = static_cast<char>(0xFF);
  EXPECT_LT(static_cast<int>(c), 0);
}

TEST(Target, TimeTIsSixtyFourBitsOnX86_64) {
  EXPECT_EQ(sizeof(std::time_t), 8u);
}

#endif

// Host threads read these without the driver mutex; a lock-based atomic
// would bring back the lock (and on ARM a call into libatomic).
TEST(Target, SharedDeviceFieldsAreLockFreeAtomics) {
  KVRM4410T_Q dev;
  EXPECT_TRUE(dev.dataReady_.is_lock_free());
  EXPECT_TRUE(dev.b_mode_.is_lock_free());
  EXPECT_TRUE(dev.lastUpdateTime_.is_lock_free());
}
