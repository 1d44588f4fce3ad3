// Register writes through the recording host: the request frame, the
// meter's echo reaching the payload handler, and the outcome read back.
#include <string>
#include <vector>

#include "control_fixture.h"

using Bytes = std::vector<std::uint8_t>;
using ControlWrite = ControlFixture;

TEST_F(ControlWrite, AfterConstructionTheOutcomeIsNone) {
  EXPECT_EQ(outcome(), -1);
  EXPECT_EQ(rec.count("device_io_control"), 1u);
}

TEST_F(ControlWrite, SingleWriteSendsOneFrameAndIsConfirmedByItsEcho) {
  dev.requestState_ = 32;
  dev.controlResult_ = 3;
  EXPECT_EQ(write_single(0x0102, 0xABCD), 0);
  EXPECT_EQ(dev.requestState_, 206);
  EXPECT_EQ(dev.controlResult_, -1);
  EXPECT_EQ(dev.controlExpected_, 0xABCD);
  EXPECT_EQ(rec.ops(), (std::vector<std::string>{"open_port", "send_data"}));
  EXPECT_EQ(body_of(rec.calls("send_data").at(0).bytes), (Bytes{1, 0x06, 0x01, 0x02, 0xAB, 0xCD}));

  EXPECT_EQ(answer_next(), 0);
  EXPECT_EQ(meter.get(0x0102), 0xABCD);
  EXPECT_EQ(rec.count("reset"), 1u);
  EXPECT_EQ(dev.requestState_, 206);
  EXPECT_EQ(outcome(), 1);
}

TEST_F(ControlWrite, SingleWriteWithAnotherEchoIsNotConfirmed) {
  write_single(0x0102, 0xABCD);
  rec.take_frame();
  EXPECT_EQ(deliver(with_crc({1, 0x06, 0x01, 0x02, 0xAB, 0xCE})), 0);
  EXPECT_EQ(rec.count("reset"), 1u);
  EXPECT_EQ(outcome(), 3);
}

TEST_F(ControlWrite, MultipleWriteTakesWholeWordsAndIsConfirmedByItsCount) {
  for (int inLen : {10, 11}) {
    SCOPED_TRACE(inLen);
    rec.clear();
    auto in = words({0x0110, 1, 2, 3, 0xFFFF, 0x7777});
    EXPECT_EQ(command(210, in, inLen), 0);
    EXPECT_EQ(dev.requestState_, 210);
    EXPECT_EQ(dev.controlExpected_, 4);
    EXPECT_EQ(body_of(rec.calls("send_data").at(0).bytes),
              (Bytes{1, 0x10, 0x01, 0x10, 0, 4, 8, 0, 1, 0, 2, 0, 3, 0xFF, 0xFF}));
    EXPECT_EQ(answer_next(), 0);
    EXPECT_EQ(meter.get(0x0113), 0xFFFF);
    EXPECT_EQ(meter.get(0x0114), 0);
    EXPECT_EQ(outcome(), 1);
  }
}

TEST_F(ControlWrite, MultipleWriteEchoingAnotherCountIsNotConfirmed) {
  command(210, words({0x0110, 1, 2, 3, 4}));
  rec.take_frame();
  EXPECT_EQ(deliver(with_crc({1, 0x10, 0x01, 0x10, 0, 3})), 0);
  EXPECT_EQ(outcome(), 3);
}

TEST_F(ControlWrite, MultipleWriteReplyMustBeAMultipleWrite) {
  // The host marks a multiple-write reply with 16 in the first word; any
  // other first word fails, even with the right count after it.
  command(210, words({0x0110, 1, 2, 3, 4}));
  dev.response_[0] = 6;
  dev.response_[1] = 4;
  EXPECT_EQ(dev.confirm_write(), 0);
  EXPECT_EQ(dev.controlResult_, 3);
  EXPECT_EQ(rec.count("reset"), 1u);
}

TEST_F(ControlWrite, LargestMultipleWriteGoesOut) {
  std::vector<std::uint16_t> w(124, 0x0A0B);
  w[0] = 0x9A00;
  EXPECT_EQ(command(210, words(w)), 0);
  auto frame = rec.calls("send_data").at(0).bytes;
  EXPECT_EQ(frame.size(), 9u + 2 * 123);
  EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 7), (Bytes{1, 0x10, 0x9A, 0x00, 0, 123, 246}));
  EXPECT_EQ(answer_next(), 0);
  EXPECT_EQ(outcome(), 1);
}

TEST_F(ControlWrite, RejectedReplyLeavesTheWritePending) {
  write_single(0x0102, 7);
  rec.take_frame();
  deliver(host::exception_reply(1, 0x06, 2));
  EXPECT_EQ(rec.count("modbus_error"), 1u);
  EXPECT_EQ(outcome(), -1);
}

TEST_F(ControlWrite, ReplyNamingAnotherRegisterIsNotJudged) {
  // Right value, wrong register: not the echo of this write.
  write_single(0x0102, 7);
  rec.take_frame();
  EXPECT_EQ(deliver(with_crc({1, 0x06, 0x01, 0x03, 0, 7})), 0);
  EXPECT_EQ(rec.count("modbus_error"), 1u);
  EXPECT_EQ(rec.count("reset"), 0u);
  EXPECT_EQ(outcome(), -1);
}

TEST_F(ControlWrite, SecondSingleWriteBeforeTheReplyIsWhatTheReplyIsJudgedBy) {
  write_single(0x0102, 5);
  write_single(0x0102, 9);
  EXPECT_EQ(dev.controlExpected_, 9);
  auto first = meter.reply_to(rec.take_frame());
  auto second = meter.reply_to(rec.take_frame());
  EXPECT_EQ(deliver(first), 0);
  EXPECT_EQ(outcome(), 3);
  deliver(second);  // nothing is pending any more: the host drops it
  EXPECT_EQ(rec.count("modbus_error"), 1u);
  EXPECT_EQ(outcome(), 3);
}

TEST_F(ControlWrite, MultipleWriteAfterASingleOneIsConfirmedByItsOwnReply) {
  write_single(0x0102, 5);
  command(210, words({0x0110, 1, 2}));
  auto first = meter.reply_to(rec.take_frame());
  auto second = meter.reply_to(rec.take_frame());
  deliver(first);  // answers the abandoned single write: rejected
  EXPECT_EQ(rec.count("modbus_error"), 1u);
  EXPECT_EQ(outcome(), -1);
  EXPECT_EQ(deliver(second), 0);
  EXPECT_EQ(outcome(), 1);
}

TEST_F(ControlWrite, WriteMidRoundAbandonsTheRoundAndIsConfirmed) {
  dev.RefreshStatus();
  ASSERT_EQ(answer_next(), 1);  // first read stored, second read sent
  ASSERT_EQ(dev.requestState_, 12);
  EXPECT_EQ(write_single(0x0102, 0x55AA), 0);
  EXPECT_EQ(dev.requestState_, 206);

  // The late reply to the abandoned read is rejected; the echo confirms.
  EXPECT_EQ(host::pump(rec, dev, meter), 2);
  EXPECT_EQ(rec.count("modbus_error"), 1u);
  EXPECT_EQ(rec.count("send_sp"), 0u);
  EXPECT_EQ(outcome(), 1);

  // The next refresh starts a fresh round, which completes; the outcome stays.
  rec.clear();
  dev.RefreshStatus();
  EXPECT_EQ(dev.requestState_, 11);
  ASSERT_TRUE(rec.has_frame());
  EXPECT_EQ(body_of(rec.calls("send_data").at(0).bytes), (Bytes{1, 0x03, 0x01, 0x00, 0, 10}));
  EXPECT_EQ(host::pump(rec, dev, meter), 22);
  EXPECT_EQ(rec.count("send_sp"), 1u);
  EXPECT_EQ(outcome(), 1);
}
