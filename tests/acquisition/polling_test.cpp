// The polling cycle: 22 reads in order, each reply at its offsets, the
// dispatch on the request state.
#include <gtest/gtest.h>

#include <cstring>

#include "acquisition/round_helpers.h"

namespace {

using kvtest::block_bytes;
using kvtest::read_request;
using kvtest::slot;

// The meter's registers as {start, count} of the 22 requests, in order.
const std::vector<std::pair<unsigned, unsigned>> kExpectedReads = {
    {256, 10}, {266, 20}, {286, 20}, {306, 40}, {346, 20}, {366, 12}, {378, 2},   {380, 14},
    {394, 8},  {402, 4},  {406, 4},  {410, 12}, {422, 2},  {424, 4},  {428, 4},   {432, 12},
    {444, 12}, {456, 24}, {480, 24}, {504, 72}, {39424, 110}, {39624, 22},
};

std::uint16_t pattern(unsigned reg) { return static_cast<std::uint16_t>(reg * 7919u + 13u); }

host::MeterImage patterned_meter() {
  host::MeterImage meter;
  for (unsigned r = 256; r <= 575; ++r) meter.set(static_cast<std::uint16_t>(r), pattern(r));
  for (unsigned r = 39424; r <= 39533; ++r) meter.set(static_cast<std::uint16_t>(r), pattern(r));
  for (unsigned r = 39624; r <= 39645; ++r) meter.set(static_cast<std::uint16_t>(r), pattern(r));
  return meter;
}

std::vector<std::pair<unsigned, unsigned>> sent_reads(const host::RecordingBackend& rec) {
  std::vector<std::pair<unsigned, unsigned>> out;
  for (const auto& sent : rec.records_of<kvtest::recorded::SendData>()) {
    EXPECT_EQ(sent.frame.at(1), 0x03);
    out.push_back(read_request(sent.frame));
  }
  return out;
}

// Every byte of the block outside [from, to) is as before.
void expect_only_changed(const std::vector<std::uint8_t>& before, const KVRM4410T_Q& dev, std::size_t from,
                         std::size_t to) {
  const auto after = block_bytes(dev);
  for (std::size_t i = 0; i < kvrm::kBlockSize; ++i)
    if (i < from || i >= to) {
      ASSERT_EQ(after[i], before[i]) << "offset " << i;
    }
}

class Polling : public kvtest::DriverTest {};

TEST_F(Polling, RefreshStartsAtStateElevenWithTheFirstRead) {
  dev.requestState_ = 206;
  EXPECT_EQ(dev.RefreshStatus(), 1);
  EXPECT_EQ(dev.requestState_, 11);
  ASSERT_EQ(rec.ops(), (std::vector<std::string>{"refresh_status", "send_data"}));
  EXPECT_EQ(read_request(rec.records_of<kvtest::recorded::SendData>()[0].frame), std::make_pair(256u, 10u));
}

TEST_F(Polling, RoundSendsTheTwentyTwoReadsInOrder) {
  auto meter = patterned_meter();
  EXPECT_EQ(kvtest::run_round(rec, dev, meter), 22);
  EXPECT_EQ(sent_reads(rec), kExpectedReads);
  EXPECT_EQ(dev.requestState_, 32);
  EXPECT_EQ(rec.count("modbus_error"), 0u);
}

TEST_F(Polling, EveryRegisterLandsInItsSlot) {
  auto meter = patterned_meter();
  dev.block()[0] = 0xAB;
  kvtest::run_round(rec, dev, meter);
  for (const auto& [start, count] : kExpectedReads)
    for (unsigned r = start; r < start + count; ++r) ASSERT_EQ(slot(dev, r), pattern(r)) << "register " << r;
  EXPECT_EQ(dev.block()[0], 0xAB);  // the identifier is not polled
}

TEST_F(Polling, ReplyInStateSeventeenChangesOnlyItsOffsets) {
  const auto before = block_bytes(dev);
  dev.requestState_ = 17;
  dev.response_[0] = 0x1234;
  dev.response_[1] = 0xABCD;
  dev.response_[2] = 0xFFFF;  // beyond the step's two registers
  EXPECT_EQ(dev.process_payload(SPModbus::TAB_REGISTERS, 2), 1);
  expect_only_changed(before, dev, 248, 252);
  EXPECT_EQ(slot(dev, 378), 0x1234);
  EXPECT_EQ(slot(dev, 379), 0xABCD);
  EXPECT_EQ(dev.requestState_, 18);
  ASSERT_EQ(rec.count("send_data"), 1u);
  EXPECT_EQ(read_request(rec.records_of<kvtest::recorded::SendData>()[0].frame), std::make_pair(380u, 14u));
}

TEST_F(Polling, ShortReplyInStateThirtyOneStillCopiesTheWholeStep) {
  for (unsigned i = 0; i < 110; ++i) dev.response_[i] = static_cast<std::uint16_t>(0x100 + i);
  dev.requestState_ = 31;
  EXPECT_EQ(dev.process_payload(SPModbus::TAB_REGISTERS, 3), 1);
  for (unsigned i = 0; i < 110; ++i) ASSERT_EQ(slot(dev, 39424 + i), 0x100 + i);
  EXPECT_EQ(read_request(rec.records_of<kvtest::recorded::SendData>().at(0).frame), std::make_pair(39624u, 22u));
}

TEST_F(Polling, RefreshMidRoundStartsOver) {
  auto meter = patterned_meter();
  dev.RefreshStatus();
  EXPECT_EQ(host::pump(rec, dev, meter, 9), 9);  // replies 1..9 handled: state 20
  ASSERT_EQ(dev.requestState_, 20);
  rec.clear();
  meter.set(256, 0x0BAD);

  dev.RefreshStatus();
  EXPECT_EQ(dev.requestState_, 11);
  const auto before = block_bytes(dev);
  ASSERT_EQ(host::pump(rec, dev, meter, 1), 1);
  expect_only_changed(before, dev, 4, 24);
  EXPECT_EQ(slot(dev, 256), 0x0BAD);
  EXPECT_EQ(dev.requestState_, 12);
  const auto reads = sent_reads(rec);
  ASSERT_EQ(reads.size(), 2u);
  EXPECT_EQ(reads[0], std::make_pair(256u, 10u));
  EXPECT_EQ(reads[1], std::make_pair(266u, 20u));
}

TEST_F(Polling, ExtraReplyInStateThirtyTwoCompletesTheRoundAgain) {
  auto meter = patterned_meter();
  kvtest::run_round(rec, dev, meter);
  ASSERT_EQ(rec.count("send_sp"), 1u);
  for (unsigned i = 0; i < 22; ++i) dev.response_[i] = static_cast<std::uint16_t>(0xC000 + i);
  dev.response_[22] = 0xEEEE;
  const auto before = block_bytes(dev);

  EXPECT_EQ(dev.process_payload(SPModbus::TAB_REGISTERS, 22), 0);
  expect_only_changed(before, dev, 864, kvrm::kBlockSize);  // the slots and the fresh stamp
  for (unsigned i = 0; i < 22; ++i) ASSERT_EQ(slot(dev, 39624 + i), 0xC000 + i);
  EXPECT_EQ(dev.requestState_, 32);
  EXPECT_EQ(rec.count("send_sp"), 2u);
  EXPECT_EQ(rec.count("save_history"), 2u);
}

class PollingIgnores : public Polling, public ::testing::WithParamInterface<int> {};

TEST_P(PollingIgnores, StateOutsideThePollingAndWriteStates) {
  dev.requestState_ = GetParam();
  for (unsigned i = 0; i < SPModbus::kResponseRegisters; ++i) dev.response_[i] = 0x5555;
  const auto before = block_bytes(dev);
  EXPECT_EQ(dev.process_payload(SPModbus::TAB_REGISTERS, 10), 1);
  EXPECT_EQ(block_bytes(dev), before);
  EXPECT_EQ(dev.requestState_, GetParam());
  EXPECT_TRUE(rec.records().empty());
}

INSTANTIATE_TEST_SUITE_P(Polling, PollingIgnores, ::testing::Values(0, 10, 33, 310, 320, 500, -1));

TEST_F(Polling, WriteStatesGoToTheConfirmationNotTheBlock) {
  for (int state : {206, 210}) {
    rec.clear();
    dev.requestState_ = state;
    dev.response_[0] = 0x7777;
    const auto before = block_bytes(dev);
    EXPECT_EQ(dev.process_payload(SPModbus::TAB_REGISTERS, 1), 0) << state;
    EXPECT_EQ(block_bytes(dev), before);
    EXPECT_EQ(rec.count("send_data"), 0u);
    EXPECT_EQ(rec.count("send_sp"), 0u);
  }
}

TEST_F(Polling, RejectedReplyStopsTheRoundWhereItIs) {
  auto meter = patterned_meter();
  dev.RefreshStatus();
  host::pump(rec, dev, meter, 4);  // state 15
  ASSERT_TRUE(rec.has_frame());
  rec.take_frame();
  auto bad = host::exception_reply(1, 0x03, 2);
  dev.process(bad.data(), static_cast<unsigned>(bad.size()));
  EXPECT_EQ(dev.requestState_, 15);
  EXPECT_FALSE(rec.has_frame());
  EXPECT_EQ(rec.count("send_sp"), 0u);
  EXPECT_TRUE(dev.lastUpdateTime_.load().is_not_a_date_time());
  EXPECT_FALSE(dev.dataReady_);
}

}  // namespace
