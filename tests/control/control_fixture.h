#pragma once
// The real driver on the recording host, with helpers to issue commands,
// answer request frames and read the write outcome back.
#include <cstdint>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "host/rtu.h"
#include "support/capture_stdout.h"
#include "support/driver_fixture.h"

namespace recorded = kvtest::recorded;

struct ControlFixture : kvtest::DriverTest {
  kvtest::CaptureStdout out;
  host::MeterImage meter;

  // Command input: 16-bit words in host byte order.
  static std::vector<unsigned char> words(const std::vector<std::uint16_t>& w) {
    std::vector<unsigned char> bytes(2 * w.size());
    if (!w.empty()) std::memcpy(bytes.data(), w.data(), bytes.size());
    return bytes;
  }

  int command(int code, const std::vector<unsigned char>& in, int inLen = -1) {
    int ret = 0;
    return dev.DeviceIoControl(code, in.data(), inLen < 0 ? static_cast<int>(in.size()) : inLen, nullptr, 0, ret);
  }
  int write_single(std::uint16_t address, std::uint16_t value) { return command(206, words({address, value})); }

  // The outcome as a later unhandled code reads it back.
  int outcome() {
    std::int32_t v = 12345;
    int ret = -7;
    dev.DeviceIoControl(1000, nullptr, 0, &v, 4, ret);
    EXPECT_EQ(ret, 4);
    return v;
  }

  int deliver(std::vector<std::uint8_t> frame) { return dev.process(frame.data(), static_cast<unsigned>(frame.size())); }
  // Answers the oldest request frame as the meter would.
  int answer_next() { return deliver(meter.reply_to(rec.take_frame())); }

  static std::vector<std::uint8_t> with_crc(std::vector<std::uint8_t> body) {
    host::append_crc(body);
    return body;
  }
  // The request frame without its CRC, once the CRC has been checked.
  static std::vector<std::uint8_t> body_of(const std::vector<std::uint8_t>& frame) {
    EXPECT_TRUE(host::crc_ok(frame.data(), frame.size()));
    return frame.size() < 2 ? frame : std::vector<std::uint8_t>(frame.begin(), frame.end() - 2);
  }
};
