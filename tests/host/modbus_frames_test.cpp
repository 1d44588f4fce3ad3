// The host's Modbus layer: request framing and the checks that decide
// whether a reply reaches the payload handler or the error hook.
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/rtu.h"
#include "host/sp_modbus.h"
#include "recording_backend.h"
#include "support/capture_stdout.h"

namespace {

class ProbeModbus : public SPModbus {
public:
  int process_payload(tab_type type, unsigned int count) override {
    payloads.push_back(std::vector<std::uint16_t>(response_, response_ + count));
    lastType = type;
    return 7;
  }
  int on_error() override {
    ++errors;
    return SPModbus::on_error();
  }
  std::vector<std::vector<std::uint16_t>> payloads;
  tab_type lastType = TAB_BITS;
  int errors = 0;
};

struct ModbusFrames : ::testing::Test {
  host::RecordingBackend rec;
  host::ScopedBackend scoped{rec};
  ProbeModbus dev;
  CaptureStdout out;

  int deliver(std::vector<std::uint8_t> f) { return dev.process(f.data(), static_cast<unsigned>(f.size())); }
  std::string last_error() {
    auto errs = rec.calls("modbus_error");
    return errs.empty() ? "" : errs.back().texts.at(0);
  }
};

}  // namespace

TEST(Rtu, CrcMatchesTheModbusCheckValue) {
  const std::uint8_t frame[] = {0x01, 0x03, 0x00, 0x00, 0x00, 0x0A};
  EXPECT_EQ(host::crc16(frame, sizeof frame), 0xCDC5);
  const std::uint8_t full[] = {0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC5, 0xCD};
  EXPECT_TRUE(host::crc_ok(full, sizeof full));
}

TEST(Rtu, CrcOfTheStandardCheckString) {
  const std::uint8_t text[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(host::crc16(text, sizeof text), 0x4B37);
}

TEST_F(ModbusFrames, ReadRequestIsOneRtuFrame) {
  dev.slaveAddress_ = 7;
  ASSERT_EQ(dev.modbus_read_registers(0x9A00, 110), 0);
  auto frame = rec.take_frame();
  ASSERT_EQ(frame.size(), 8u);
  EXPECT_EQ(std::vector<std::uint8_t>(frame.begin(), frame.begin() + 6),
            (std::vector<std::uint8_t>{7, 0x03, 0x9A, 0x00, 0x00, 110}));
  EXPECT_TRUE(host::crc_ok(frame.data(), frame.size()));
}

TEST_F(ModbusFrames, GoodReadReplyReachesPayloadInNativeOrder) {
  dev.modbus_read_registers(366, 3);
  EXPECT_EQ(deliver(host::read_reply(1, {0x0023, 0x1C48, 0xFFFE})), 7);
  ASSERT_EQ(dev.payloads.size(), 1u);
  EXPECT_EQ(dev.payloads[0], (std::vector<std::uint16_t>{0x0023, 0x1C48, 0xFFFE}));
  EXPECT_EQ(dev.lastType, SPModbus::TAB_REGISTERS);
  EXPECT_EQ(dev.errors, 0);
}

TEST_F(ModbusFrames, BadRepliesGoToOnErrorInstead) {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> frame;
    const char* why;
  };
  auto badCrc = host::read_reply(1, {1, 2});
  badCrc.back() ^= 0xFF;
  auto otherSlave = host::read_reply(2, {1, 2});
  auto wrongCount = host::read_reply(1, {1, 2, 3});
  std::vector<std::uint8_t> otherFunction{1, 0x04, 4, 0, 1, 0, 2};
  host::append_crc(otherFunction);
  const std::vector<Case> cases{
      {"short", {1, 3, 0}, "short frame"},
      {"bad CRC", badCrc, "bad CRC"},
      {"other slave", otherSlave, "reply from another slave"},
      {"exception", host::exception_reply(1, 0x03, 2), "exception 2"},
      {"wrong count", wrongCount, "register count differs from the request"},
      {"other function", otherFunction, "reply to another function"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    dev.errors = 0;
    dev.modbus_read_registers(256, 2);
    auto f = c.frame;
    EXPECT_EQ(dev.process(f.data(), static_cast<unsigned>(f.size())), 0);
    EXPECT_EQ(dev.errors, 1);
    EXPECT_EQ(last_error(), c.why);
  }
  EXPECT_TRUE(dev.payloads.empty());
  EXPECT_NE(out.text().find("SPModbus get error\n"), std::string::npos);
}

TEST_F(ModbusFrames, NullFrameIsRejectedSafely) {
  dev.modbus_read_registers(256, 2);
  EXPECT_EQ(dev.process(nullptr, 9), 0);
  EXPECT_EQ(dev.errors, 1);
}

TEST_F(ModbusFrames, ReplyIsTakenOnceOnly) {
  dev.modbus_read_registers(256, 2);
  auto reply = host::read_reply(1, {5, 6});
  deliver(reply);
  deliver(reply);
  EXPECT_EQ(dev.payloads.size(), 1u);
  EXPECT_EQ(last_error(), "no request pending");
}

TEST_F(ModbusFrames, NewestRequestIsTheExpectedOne) {
  dev.modbus_read_registers(256, 4);
  dev.modbus_write_register(300, 0x1234);
  // The late reply to the abandoned read does not end the write.
  deliver(host::read_reply(1, {1, 2, 3, 4}));
  EXPECT_TRUE(dev.payloads.empty());
  host::MeterImage meter;
  rec.take_frame();
  deliver(meter.reply_to(rec.take_frame()));
  ASSERT_EQ(dev.payloads.size(), 1u);
  EXPECT_EQ(dev.payloads[0][0], 0x1234);
}

TEST_F(ModbusFrames, SingleWriteReplyCarriesTheEchoedValueFirst) {
  dev.modbus_write_register(0x0120, 0xBEEF);
  auto req = rec.take_frame();
  EXPECT_EQ(std::vector<std::uint8_t>(req.begin(), req.begin() + 6),
            (std::vector<std::uint8_t>{1, 0x06, 0x01, 0x20, 0xBE, 0xEF}));
  std::vector<std::uint8_t> echo{1, 0x06, 0x01, 0x20, 0x12, 0x34};
  host::append_crc(echo);
  deliver(echo);
  ASSERT_EQ(dev.payloads.size(), 1u);
  EXPECT_EQ(dev.payloads[0][0], 0x1234);
}

// A write reply that names another register answers some other request:
// it goes to the error hook and the write stays pending for its own echo.
TEST_F(ModbusFrames, WriteReplyNamingAnotherRegisterIsNoAnswer) {
  const std::uint16_t values[] = {1, 2};
  struct Case {
    const char* name;
    std::function<void()> send;
    std::vector<std::uint8_t> other;
    std::vector<std::uint8_t> own;
  };
  const std::vector<Case> cases{
      {"single", [&] { dev.modbus_write_register(0x0120, 7); }, {1, 0x06, 0x01, 0x21, 0, 7}, {1, 0x06, 0x01, 0x20, 0, 7}},
      {"multiple", [&] { dev.modbus_write_registers(0x0120, 2, values); }, {1, 0x10, 0x01, 0x1F, 0, 2},
       {1, 0x10, 0x01, 0x20, 0, 2}},
  };
  for (auto c : cases) {
    SCOPED_TRACE(c.name);
    dev.errors = 0;
    dev.payloads.clear();
    c.send();
    host::append_crc(c.other);
    host::append_crc(c.own);
    EXPECT_EQ(deliver(c.other), 0);
    EXPECT_EQ(dev.errors, 1);
    EXPECT_EQ(last_error(), "reply names another register");
    EXPECT_TRUE(dev.payloads.empty());
    EXPECT_EQ(deliver(c.own), 7);
    EXPECT_EQ(dev.payloads.size(), 1u);
  }
}

TEST_F(ModbusFrames, MultipleWriteReplyCarries16AndTheEchoedCount) {
  const std::uint16_t values[] = {1, 2, 3, 4};
  dev.modbus_write_registers(0x0100, 4, values);
  auto req = rec.take_frame();
  EXPECT_EQ(req.size(), 9u + 8u);
  EXPECT_EQ(req[6], 8);
  std::vector<std::uint8_t> echo{1, 0x10, 0x01, 0x00, 0x00, 0x03};
  host::append_crc(echo);
  deliver(echo);
  ASSERT_EQ(dev.payloads.size(), 1u);
  EXPECT_EQ(dev.payloads[0], (std::vector<std::uint16_t>{16, 3}));
}

TEST_F(ModbusFrames, RequestsOutsideModbusLimitsAreRefused) {
  const std::uint16_t values[124] = {};
  EXPECT_EQ(dev.modbus_read_registers(0, 126), -1);
  EXPECT_EQ(dev.modbus_read_registers(0, 0), -1);
  EXPECT_EQ(dev.modbus_write_registers(0, 124, values), -1);
  EXPECT_EQ(dev.modbus_write_registers(0, 0, values), -1);
  EXPECT_EQ(dev.modbus_write_registers(0, 1, nullptr), -1);
  EXPECT_FALSE(rec.has_frame());
}

TEST_F(ModbusFrames, LargestReadFitsTheResponseBuffer) {
  dev.modbus_read_registers(256, 125);
  std::vector<std::uint16_t> regs(125);
  for (unsigned i = 0; i < regs.size(); ++i) regs[i] = static_cast<std::uint16_t>(i);
  deliver(host::read_reply(1, regs));
  ASSERT_EQ(dev.payloads.size(), 1u);
  EXPECT_EQ(dev.payloads[0].back(), 124);
}
