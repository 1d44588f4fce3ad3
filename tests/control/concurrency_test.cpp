// Commands on a host thread while rounds complete on the serial path.
// Run under ThreadSanitizer, this catches an unguarded read of the
// snapshot while round completion rebuilds it.
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <json/reader.h>

#include "plugin/kvrm4410t_q.h"
#include "recording_backend.h"

TEST(ControlConcurrency, SnapshotTextWhileRoundsComplete) {
  host::RecordingBackend rec;
  host::ScopedBackend scoped{rec};
  KVRM4410T_Q dev;
  host::MeterImage meter;
  meter.set(409, 5000);

  std::atomic<bool> done{false};
  std::thread serial([&] {
    for (int i = 0; i < 3; ++i) {
      dev.RefreshStatus();
      host::pump(rec, dev, meter);
    }
    done = true;
  });

  std::vector<char> buf(64 * 1024);
  int texts = 0;
  while (!done || texts == 0) {
    int ret = 0;
    ASSERT_EQ(dev.DeviceIoControl(801, nullptr, 0, buf.data(), static_cast<int>(buf.size()), ret), 0);
    const std::string text(buf.data(), static_cast<std::size_t>(ret));
    Json::Value v;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    Json::Reader reader;
    ASSERT_TRUE(reader.parse(text, v));
#pragma GCC diagnostic pop
    ASSERT_TRUE(v.isNull() || v["电网频率"].asDouble() == 50.0);
    ++texts;
  }
  serial.join();
}
