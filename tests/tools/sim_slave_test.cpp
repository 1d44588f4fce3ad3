// The simulated meter's answers, called directly.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "host/rtu.h"
#include "meter_model.h"
#include "register_image.h"
#include "sim_options.h"
#include "slave.h"
#include "support/runs.h"

namespace {

using meter_sim::Fault;
using meter_sim::FaultPlan;
using meter_sim::RegisterImage;
using meter_sim::Slave;

std::vector<std::uint8_t> frame(std::vector<std::uint8_t> body) {
  host::append_crc(body);
  return body;
}

// Frames built by hand: the tests also send requests outside the limits.
std::vector<std::uint8_t> request(std::uint8_t slave, std::uint8_t function, unsigned first, unsigned second) {
  std::vector<std::uint8_t> f{slave, function};
  host::put_word(f, first);
  host::put_word(f, second);
  return f;
}

std::vector<std::uint8_t> read_request(unsigned start, unsigned count, std::uint8_t slave = 1) {
  return frame(request(slave, host::kReadHoldingRegisters, start, count));
}

std::vector<std::uint8_t> write_one(unsigned address, unsigned value, std::uint8_t slave = 1) {
  return frame(request(slave, host::kWriteSingleRegister, address, value));
}

std::vector<std::uint8_t> write_many(unsigned address, const std::vector<std::uint16_t>& values) {
  std::vector<std::uint8_t> f = request(1, host::kWriteMultipleRegisters, address, static_cast<unsigned>(values.size()));
  f.push_back(static_cast<std::uint8_t>(2 * values.size()));
  for (std::uint16_t v : values) host::put_word(f, v);
  return frame(f);
}

meter_sim::Reply ask(Slave& s, const std::vector<std::uint8_t>& request, double elapsed = 0.0) {
  return s.handle(request.data(), request.size(), elapsed);
}

Slave static_slave(FaultPlan plan = {}) {
  RegisterImage image;
  image.set(256, 0x1234);
  image.set(575, 0xBEEF);
  image.set(39424, 0x0102);
  image.set(39645, 0xFFFF);
  return Slave(1, image, false, plan);
}

unsigned word(const std::vector<std::uint8_t>& f, std::size_t at) { return host::word_at(&f.at(at)); }

struct RangeCase {
  unsigned start;
  unsigned count;
  bool served;
};
void PrintTo(const RangeCase& c, std::ostream* os) { *os << c.count << " from " << c.start; }

class SimRanges : public ::testing::TestWithParam<RangeCase> {};

TEST_P(SimRanges, ServesTheThreeBlocksAndRefusesTheRest) {
  Slave s = static_slave();
  const RangeCase c = GetParam();
  const auto r = ask(s, read_request(c.start, c.count));
  ASSERT_TRUE(host::crc_ok(r.frame.data(), r.frame.size()));
  if (c.served) {
    ASSERT_EQ(r.frame.size(), 5 + 2 * c.count);
    EXPECT_EQ(r.frame[1], 3);
    EXPECT_EQ(r.frame[2], 2 * c.count);
  } else {
    ASSERT_EQ(r.frame.size(), 5u);
    EXPECT_EQ(r.frame[1], 0x83);
    EXPECT_EQ(r.frame[2], meter_sim::kIllegalAddress);
  }
}

INSTANTIATE_TEST_SUITE_P(Sim, SimRanges,
                         ::testing::Values(RangeCase{256, 10, true}, RangeCase{566, 10, true},
                                           RangeCase{575, 1, true}, RangeCase{255, 1, false},
                                           RangeCase{255, 2, false}, RangeCase{570, 10, false},
                                           RangeCase{576, 1, false}, RangeCase{39424, 110, true},
                                           RangeCase{39423, 1, false}, RangeCase{39530, 5, false},
                                           RangeCase{39534, 1, false}, RangeCase{39624, 22, true},
                                           RangeCase{39623, 2, false}, RangeCase{39645, 1, true},
                                           RangeCase{39646, 1, false}, RangeCase{0, 1, false}));

TEST(Sim, ReadsRegistersInOrderHighByteFirst) {
  Slave s = static_slave();
  const auto r = ask(s, read_request(39644, 2));
  ASSERT_EQ(r.frame.size(), 9u);
  EXPECT_EQ(word(r.frame, 3), 0u);
  EXPECT_EQ(word(r.frame, 5), 0xFFFFu);
  const auto first = ask(s, read_request(256, 1));
  EXPECT_EQ(first.frame[3], 0x12);
  EXPECT_EQ(first.frame[4], 0x34);
}

TEST(Sim, CountsOutsideOneTo125AreIllegalValues) {
  Slave s = static_slave();
  for (unsigned count : {0u, 126u}) {
    const auto r = ask(s, read_request(256, count));
    ASSERT_EQ(r.frame.size(), 5u);
    EXPECT_EQ(r.frame[1], 0x83);
    EXPECT_EQ(r.frame[2], meter_sim::kIllegalValue);
  }
}

TEST(Sim, UnknownFunctionIsIllegal) {
  Slave s = static_slave();
  const auto r = ask(s, frame({1, 4, 1, 0, 0, 1}));
  ASSERT_EQ(r.frame.size(), 5u);
  EXPECT_EQ(r.frame[1], 0x84);
  EXPECT_EQ(r.frame[2], meter_sim::kIllegalFunction);
}

TEST(Sim, SingleWriteIsStoredAndEchoed) {
  Slave s = static_slave();
  const auto request = write_one(300, 0xABCD);
  const auto r = ask(s, request);
  EXPECT_EQ(r.frame, request);  // the echo is the request itself
  EXPECT_EQ(s.image().get(300), 0xABCD);
  const auto outside = ask(s, write_one(100, 1));
  EXPECT_EQ(outside.frame[1], 0x86);
  EXPECT_EQ(outside.frame[2], meter_sim::kIllegalAddress);
}

TEST(Sim, MultipleWriteIsStoredAndAnswersAddressAndCount) {
  Slave s = static_slave();
  const auto r = ask(s, write_many(39530, {1, 2, 3, 4}));
  ASSERT_EQ(r.frame.size(), 8u);
  EXPECT_EQ(r.frame[1], 16);
  EXPECT_EQ(word(r.frame, 2), 39530u);
  EXPECT_EQ(word(r.frame, 4), 4u);
  EXPECT_EQ(s.image().get(39530), 1);
  EXPECT_EQ(s.image().get(39533), 4);
  const auto across = ask(s, write_many(39532, {1, 2, 3}));
  EXPECT_EQ(across.frame[1], 0x90);
  EXPECT_EQ(across.frame[2], meter_sim::kIllegalAddress);
}

TEST(Sim, OtherSlavesAndGarbleAreIgnored) {
  Slave s = static_slave();
  EXPECT_TRUE(ask(s, read_request(256, 1, 2)).frame.empty());
  auto bad = read_request(256, 1);
  bad.back() ^= 1;
  EXPECT_TRUE(ask(s, bad).frame.empty());
  EXPECT_EQ(s.requests(), 0u);
}

TEST(Sim, BroadcastWriteIsStoredWithoutReply) {
  Slave s = static_slave();
  EXPECT_TRUE(ask(s, write_one(260, 77, 0)).frame.empty());
  EXPECT_EQ(s.image().get(260), 77);
}

struct WindowCase {
  unsigned after;
  unsigned count;
  std::vector<bool> hits;  // requests 1..n
};
void PrintTo(const WindowCase& c, std::ostream* os) { *os << c.count << " after " << c.after; }

class SimFaultWindow : public ::testing::TestWithParam<WindowCase> {};

TEST_P(SimFaultWindow, StartsAfterSomeRequestsAndLastsItsCount) {
  FaultPlan plan;
  plan.kind = Fault::no_reply;
  plan.after = GetParam().after;
  plan.count = GetParam().count;
  for (std::size_t i = 0; i < GetParam().hits.size(); ++i)
    EXPECT_EQ(plan.hits(static_cast<unsigned>(i + 1)), GetParam().hits[i]) << "request " << i + 1;
}

INSTANTIATE_TEST_SUITE_P(Sim, SimFaultWindow,
                         ::testing::Values(WindowCase{0, 0, {true, true, true}},
                                           WindowCase{2, 0, {false, false, true, true}},
                                           WindowCase{2, 1, {false, false, true, false}},
                                           WindowCase{0, 2, {true, true, false}}));

TEST(Sim, NoReplyFaultLosesTheRequest) {
  FaultPlan plan;
  plan.kind = Fault::no_reply;
  plan.after = 1;
  plan.count = 1;
  Slave s = static_slave(plan);
  EXPECT_FALSE(ask(s, read_request(256, 1)).frame.empty());
  const auto lost = ask(s, write_one(300, 5));
  EXPECT_TRUE(lost.frame.empty());
  EXPECT_TRUE(lost.faulted);
  EXPECT_EQ(s.image().get(300), 0) << "a lost request changes nothing";
  EXPECT_FALSE(ask(s, read_request(256, 1)).frame.empty());
}

TEST(Sim, BadCrcFaultSpoilsOnlyTheCrc) {
  FaultPlan plan;
  plan.kind = Fault::bad_crc;
  Slave s = static_slave(plan);
  Slave clean = static_slave();
  const auto r = ask(s, read_request(256, 2));
  const auto good = ask(clean, read_request(256, 2));
  ASSERT_EQ(r.frame.size(), good.frame.size());
  EXPECT_FALSE(host::crc_ok(r.frame.data(), r.frame.size()));
  EXPECT_TRUE(std::equal(r.frame.begin(), r.frame.end() - 2, good.frame.begin()));
}

TEST(Sim, ExceptionFaultAnswersTheConfiguredCode) {
  FaultPlan plan;
  plan.kind = Fault::exception;
  plan.exceptionCode = 6;
  Slave s = static_slave(plan);
  const auto r = ask(s, read_request(256, 2));
  EXPECT_EQ(r.frame, frame({1, 0x83, 6}));
}

TEST(Sim, WrongEchoFaultTouchesWritesOnly) {
  FaultPlan plan;
  plan.kind = Fault::wrong_echo;
  Slave s = static_slave(plan);
  const auto read = ask(s, read_request(256, 1));
  EXPECT_FALSE(read.faulted);
  EXPECT_EQ(word(read.frame, 3), 0x1234u);
  const auto one = ask(s, write_one(300, 41));
  EXPECT_TRUE(one.faulted);
  EXPECT_EQ(word(one.frame, 4), 42u);
  const auto many = ask(s, write_many(300, {1, 2}));
  EXPECT_EQ(word(many.frame, 4), 3u);
  EXPECT_TRUE(host::crc_ok(many.frame.data(), many.frame.size()));
}

TEST(Sim, SlowFaultHoldsTheReply) {
  FaultPlan plan;
  plan.kind = Fault::slow;
  plan.slowDelay = std::chrono::milliseconds(1500);
  Slave s = static_slave(plan);
  const auto r = ask(s, read_request(256, 1));
  EXPECT_EQ(r.delay, std::chrono::milliseconds(1500));
  EXPECT_TRUE(host::crc_ok(r.frame.data(), r.frame.size()));
}

TEST(Sim, HoldFaultKeepsTheReplyForARelease) {
  FaultPlan plan;
  plan.kind = *meter_sim::parse_fault("hold");
  plan.after = 1;
  plan.count = 1;
  Slave s = static_slave(plan);
  const auto first = ask(s, read_request(256, 1));
  EXPECT_FALSE(first.held);
  const auto second = ask(s, read_request(256, 1));
  EXPECT_TRUE(second.held);
  EXPECT_TRUE(second.faulted) << "logged, so that its driver knows when to release it";
  EXPECT_EQ(second.delay, std::chrono::milliseconds(0));
  EXPECT_EQ(second.frame, first.frame) << "the reply itself is whole";
}

double int32_at(const Slave& s, unsigned reg) {
  const auto raw = static_cast<std::int32_t>((static_cast<std::uint32_t>(s.image().get(reg)) << 16) | s.image().get(reg + 1));
  return raw;
}

float float_at(const Slave& s, unsigned reg) {
  const std::uint32_t raw = (static_cast<std::uint32_t>(s.image().get(reg + 1)) << 16) | s.image().get(reg);
  float f;
  std::memcpy(&f, &raw, sizeof f);
  return f;
}

TEST(Sim, LiveImageIsAPlausibleMeter) {
  Slave s(1, RegisterImage(), true, FaultPlan{});
  ask(s, read_request(366, 56));
  for (unsigned reg : {366u, 368u, 370u}) {
    EXPECT_GT(int32_at(s, reg) / 10000, 220.0);
    EXPECT_LT(int32_at(s, reg) / 10000, 240.0);
  }
  EXPECT_NEAR(s.image().get(409) / 100.0, 50.0, 0.1);
  EXPECT_GT(static_cast<std::int16_t>(s.image().get(402)), 900);
  EXPECT_LT(int32_at(s, 390), 0) << "phase B reactive power leads";
}

TEST(Sim, LiveValuesMoveOnEveryRead) {
  Slave s(1, RegisterImage(), true, FaultPlan{});
  ask(s, read_request(366, 2));
  const double first = int32_at(s, 366);
  ask(s, read_request(366, 2));
  EXPECT_NE(int32_at(s, 366), first);
}

TEST(Sim, EnergyGrowsWithTimeInEveryResolution) {
  Slave s(1, RegisterImage(), true, FaultPlan{});
  ask(s, read_request(266, 2), 0.0);
  ask(s, read_request(456, 2), 0.0);
  ask(s, read_request(39434, 2), 0.0);
  const double low = int32_at(s, 266), high = int32_at(s, 456);
  const float ratio = float_at(s, 39434);
  ask(s, read_request(266, 2), 3600.0);
  ask(s, read_request(456, 2), 3600.0);
  ask(s, read_request(39434, 2), 3600.0);
  EXPECT_NEAR(int32_at(s, 266) - low, 850.0, 1.0) << "8.5 kWh an hour at 0.01";
  EXPECT_NEAR(int32_at(s, 456) - high, 8500.0, 1.0) << "at 0.001";
  EXPECT_NEAR(float_at(s, 39434) - ratio, 8.5f * meter_sim::MeterModel::kRatio, 1.0f) << "ratio-scaled";
  EXPECT_NEAR(high / 10.0, low, 1.0) << "both resolutions count the same energy";
}

TEST(Sim, WrittenRegistersStopMoving) {
  Slave s(1, RegisterImage(), true, FaultPlan{});
  ask(s, write_many(366, {0, 1000}));
  ask(s, read_request(366, 4));
  ask(s, read_request(366, 4));
  EXPECT_EQ(int32_at(s, 366), 1000.0);
  EXPECT_FALSE(s.image().pinned(368));
}

TEST(Sim, ImageFileSetsRegisters) {
  tools_test::TempDir dir;
  tools_test::write_text(dir.path("img.json"), R"({"366": 35, "367": 7240, "402": -150, "39645": 65535})");
  std::string error;
  const auto image = meter_sim::read_image_file(dir.path("img.json"), &error);
  EXPECT_EQ(error, "");
  EXPECT_EQ(image, (std::map<unsigned, std::uint16_t>{{366, 35}, {367, 7240}, {402, 0xFF6A}, {39645, 0xFFFF}}));
}

TEST(Sim, ImageFileFaultsAreNamed) {
  tools_test::TempDir dir;
  const std::pair<const char*, const char*> cases[] = {
      {R"([1, 2])", "one object"},          {R"({"255": 1})", "not a register"},
      {R"({"x": 1})", "not a register"},    {R"({"300": 65536})", "16-bit"},
      {R"({"300": 1.5})", "16-bit"},        {R"({"300": "1"})", "16-bit"},
      {R"({"300": 1,)", "not JSON"},
  };
  for (const auto& [text, why] : cases) {
    tools_test::write_text(dir.path("bad.json"), text);
    std::string error;
    EXPECT_TRUE(meter_sim::read_image_file(dir.path("bad.json"), &error).empty()) << text;
    EXPECT_NE(error.find(why), std::string::npos) << text << ": " << error;
  }
  std::string error;
  meter_sim::read_image_file(dir.path("absent.json"), &error);
  EXPECT_NE(error.find("cannot open"), std::string::npos);
}

TEST(Sim, OptionsAreCheckedWithClearMessages) {
  const std::pair<std::vector<std::string>, const char*> cases[] = {
      {{"--slave", "0"}, "--slave"},         {{"--slave"}, "--slave"},
      {{"--slave", "1,1"}, "named twice"},   {{"--baud", "fast"}, "--baud"},
      {{"--baud", "9601"}, "--baud"},        {{"--parity", "X"}, "--parity"},
      {{"--fault", "fire"}, "unknown fault"}, {{"--fault", "slow@4"}, "slave 4 is not served"},
      {{"--registers", "2=a.json"}, "slave 2 is not served"}, {{"--bogus"}, "--bogus"},
  };
  for (const auto& [args, why] : cases) {
    const auto r = meter_sim::parse_sim_options(args);
    EXPECT_NE(r.error.find(why), std::string::npos) << r.error;
  }
  const auto ok = meter_sim::parse_sim_options(
      {"--slave", "7", "--fault", "slow", "--fault-after", "3", "--fault-count", "2", "--slow-ms", "250"});
  EXPECT_EQ(ok.error, "");
  EXPECT_EQ(ok.options.slaves, std::vector<unsigned>{7});
  EXPECT_EQ(ok.options.faults.kind, Fault::slow);
  EXPECT_EQ(ok.options.faults.after, 3u);
  EXPECT_EQ(ok.options.faults.count, 2u);
  EXPECT_EQ(ok.options.faults.slowDelay, std::chrono::milliseconds(250));
  EXPECT_EQ(meter_sim::parse_sim_options({"--version"}).text.rfind("meter-sim ", 0), 0u);
  EXPECT_NE(meter_sim::parse_sim_options({"--help"}).text.find("--fault KIND[@S]"), std::string::npos);
}

TEST(Sim, EachSlaveHasItsOwnImageAndFault) {
  const auto r = meter_sim::parse_sim_options({"--slave", "1,2,3", "--registers", "all.json", "--registers",
                                               "2=two.json", "--fault", "no-reply@3", "--fault-count", "2"});
  ASSERT_EQ(r.error, "");
  const auto setups = r.options.setups();
  ASSERT_EQ(setups.size(), 3u);
  EXPECT_EQ(setups[0].registers, "all.json");
  EXPECT_EQ(setups[1].registers, "two.json");
  EXPECT_EQ(setups[0].faults.kind, Fault::none);
  EXPECT_EQ(setups[2].faults.kind, Fault::no_reply);
  EXPECT_EQ(setups[2].faults.count, 2u);
  const auto every = meter_sim::parse_sim_options({"--slave", "4,5", "--fault", "slow"}).options.setups();
  EXPECT_EQ(every[0].faults.kind, Fault::slow);
  EXPECT_EQ(every[1].faults.kind, Fault::slow);
  EXPECT_EQ(every[0].registers, "") << "its own live image";
}

}  // namespace
