// Commands on a host thread while rounds complete on the serial path: the
// text written out is always a whole snapshot, never one half rebuilt.
// (The JSON library itself is not instrumented, so ThreadSanitizer sees
// only the driver's side of this.)
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/driver_fixture.h"
#include "support/json.h"

using ControlConcurrency = kvtest::DriverTest;

TEST_F(ControlConcurrency, SnapshotTextWhileRoundsComplete) {
  host::MeterImage meter;
  meter.set(409, 5000);

  // The round starts once commands are under way, so that the rebuild it
  // makes overlaps the writing-out of the snapshot.
  std::atomic<bool> started{false}, done{false};
  std::thread serial([&] {
    while (!started) std::this_thread::yield();
    for (int i = 0; i < 3; ++i) {
      dev.RefreshStatus();
      host::pump(rec, dev, meter);
    }
    done = true;
  });

  std::vector<char> buf(64 * 1024);
  // Whole: null before the first round, all 231 members after it.
  auto whole_text = [&] {
    int ret = 0;
    if (dev.DeviceIoControl(801, nullptr, 0, buf.data(), static_cast<int>(buf.size()), ret) != 0) return false;
    Json::Value v;
    if (!kvtest::parse_json(std::string(buf.data(), static_cast<std::size_t>(ret)), v)) return false;
    return v.isNull() || (v.size() == 231u && v["电网频率"].asDouble() == 50.0);
  };
  int broken = 0;
  do {
    if (!whole_text()) ++broken;
    started = true;
  } while (!done);
  serial.join();
  EXPECT_EQ(broken, 0);
  EXPECT_TRUE(whole_text());
  EXPECT_EQ(dev.jsonSnapshot_.size(), 231u);
}
