// The judgement of a write reply against what was written.
#include <gtest/gtest.h>

#include "control/write_confirmation.h"

TEST(WriteConfirmation, SingleWriteNeedsTheValueEchoed) {
  EXPECT_EQ(kvrm::judge_single_write(0xABCD, 0xABCD), 1);
  EXPECT_EQ(kvrm::judge_single_write(0xABCC, 0xABCD), 3);
  EXPECT_EQ(kvrm::judge_single_write(0xFFFF, -1), 3);  // nothing written yet
}

TEST(WriteConfirmation, MultipleWriteNeedsFunctionSixteenAndTheCount) {
  EXPECT_EQ(kvrm::judge_multiple_write(16, 4, 4), 1);
  EXPECT_EQ(kvrm::judge_multiple_write(16, 3, 4), 3);
  EXPECT_EQ(kvrm::judge_multiple_write(6, 4, 4), 3);
  EXPECT_EQ(kvrm::judge_multiple_write(4, 16, 4), 3);
}
