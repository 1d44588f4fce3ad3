// Input that a command cannot use safely is refused before anything
// happens: no state changes, no port opened, nothing sent or passed on.
#include <string>
#include <vector>

#include "control_fixture.h"

namespace {

struct UnsafeCase {
  const char* name;
  int code;
  bool nullInput;
  int inLen;
};

const UnsafeCase kUnsafe[] = {
    {"single write without input", 206, true, 4},
    {"single write of three bytes", 206, false, 3},
    {"single write of no bytes", 206, false, 0},
    {"single write of negative length", 206, false, -1},
    {"multiple write without input", 210, true, 10},
    {"multiple write of three bytes", 210, false, 3},
    {"multiple write of negative length", 210, false, -10},
    {"multiple write of 124 registers", 210, false, 250},
    {"multiple write of far too many", 210, false, 4000},
    {"signal command of negative length", 310, false, -1},
    {"signal command without its bytes", 310, true, 2},
    {"mode signal command of negative length", 320, false, -1},
    {"mode signal command without its bytes", 320, true, 2},
};

}  // namespace

using ControlUnsafeInput = ControlFixture;

TEST_F(ControlUnsafeInput, RefusedLeavingEverythingAsItWas) {
  std::vector<unsigned char> in(4000, 0x01);
  for (int mode : {1, 5}) {
    for (const auto& c : kUnsafe) {
      SCOPED_TRACE(std::string(c.name) + ", mode " + std::to_string(mode));
      rec.clear();
      dev.b_mode_ = mode;
      dev.requestState_ = 17;
      dev.controlResult_ = 1;
      dev.controlExpected_ = 77;
      unsigned char buf[8] = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
      int ret = 555;
      EXPECT_EQ(dev.DeviceIoControl(c.code, c.nullInput ? nullptr : in.data(), c.inLen, buf, 8, ret), -1);
      EXPECT_EQ(dev.requestState_, 17);
      EXPECT_EQ(dev.controlResult_, 1);
      EXPECT_EQ(dev.controlExpected_, 77);
      EXPECT_EQ(ret, 555);
      EXPECT_EQ(buf[0], 0xAA);
      EXPECT_TRUE(rec.records().empty());
      EXPECT_FALSE(rec.has_frame());
    }
  }
}
