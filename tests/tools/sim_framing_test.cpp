// A simulated slave on a shared line stays in step: frames for other
// addresses and replies of other slaves are cut at their own length, so the
// next request for it is whole, even when nothing separates them.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <vector>

#include "frame_splitter.h"
#include "host/rtu.h"
#include "posix_io.h"
#include "support/runs.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes framed(Bytes body) {
  host::append_crc(body);
  return body;
}

const Bytes kReadFor2 = framed({2, 3, 0x01, 0x6E, 0, 12});
const Bytes kReadFor1 = framed({1, 3, 0x01, 0x00, 0, 10});
const Bytes kWriteManyFor2 = framed({2, 16, 0x01, 0x2C, 0, 2, 4, 0x12, 0x34, 0x56, 0x78});
const Bytes kReplyOf2 = framed({2, 3, 4, 0, 1, 0, 2});
const Bytes kExceptionOf2 = framed({2, 0x83, 2});
const Bytes kWriteEchoOf2 = framed({2, 6, 0x01, 0x2C, 0, 5});

Bytes joined(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

struct SplitCase {
  const char* name;
  Bytes first;
};
void PrintTo(const SplitCase& c, std::ostream* os) { *os << c.name; }

class SimFraming : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SimFraming, ForeignFrameThenOwnRequestBackToBack) {
  meter_sim::FrameSplitter s;
  const Bytes line = joined({GetParam().first, kReadFor1});
  // Byte by byte, as a slow line delivers them.
  std::vector<Bytes> frames;
  for (std::uint8_t b : line) {
    s.add(&b, 1);
    while (auto f = s.next()) frames.push_back(*f);
  }
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0], GetParam().first);
  EXPECT_EQ(frames[1], kReadFor1);
  EXPECT_TRUE(s.empty());
}

INSTANTIATE_TEST_SUITE_P(Sim, SimFraming,
                         ::testing::Values(SplitCase{"ReadRequest", kReadFor2},
                                           SplitCase{"WriteManyRequest", kWriteManyFor2},
                                           SplitCase{"ReadReply", kReplyOf2},
                                           SplitCase{"ExceptionReply", kExceptionOf2},
                                           SplitCase{"WriteEcho", kWriteEchoOf2}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Sim, GarbleEndsAtTheSilence) {
  meter_sim::FrameSplitter s;
  const Bytes noise{0x55, 0x03, 0x00, 0x11, 0x22, 0x33, 0x44, 0x99, 0x01};
  s.add(noise.data(), noise.size());
  EXPECT_FALSE(s.next());
  EXPECT_EQ(s.silence(), noise.size());
  s.add(kReadFor1.data(), kReadFor1.size());
  EXPECT_EQ(s.next(), kReadFor1);
}

TEST(Sim, HalfAFrameWaitsForTheRest) {
  meter_sim::FrameSplitter s;
  s.add(kReadFor1.data(), 5);
  EXPECT_FALSE(s.next());
  s.add(kReadFor1.data() + 5, kReadFor1.size() - 5);
  EXPECT_EQ(s.next(), kReadFor1);
}

// The simulator over its pseudo-terminal: a request for an absent slave and
// one for slave 1 in one write; slave 1 answers its own.
TEST(Sim, AnswersItsOwnRequestRightAfterAForeignOne) {
  tools_test::SimRun sim({"--slave", "1,3"});
  ASSERT_FALSE(sim.path().empty());
  const int fd = ::open(sim.path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  termios t{};
  ASSERT_EQ(::tcgetattr(fd, &t), 0);
  ::cfmakeraw(&t);
  ::tcsetattr(fd, TCSANOW, &t);
  const Bytes both = joined({kReadFor2, kReadFor1});
  ASSERT_TRUE(posix_io::write_all(fd, both.data(), both.size()));
  Bytes reply;
  const auto deadline = posix_io::Clock::now() + tools_test::kEventTimeout;
  while (reply.size() < 25 && posix_io::Clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    std::uint8_t chunk[64];
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n > 0) reply.insert(reply.end(), chunk, chunk + n);
  }
  ::close(fd);
  ASSERT_EQ(reply.size(), 25u) << "5 + 2 x 10 bytes";
  EXPECT_EQ(reply[0], 1);
  EXPECT_EQ(reply[1], 3);
  EXPECT_EQ(reply[2], 20);
  EXPECT_TRUE(host::crc_ok(reply.data(), reply.size()));
}

}  // namespace
