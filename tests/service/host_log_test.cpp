// The host's log lines with and without the journal: "<N>" priorities on
// every line when standard error is the stream JOURNAL_STREAM names, the
// lines as they always were otherwise, every message in one write.
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "host_log.h"

namespace {

using meter_host::Log;
using meter_host::Priority;

TEST(HostLogBytes, WithoutTheJournalTheLinesStayAsTheyWere) {
  EXPECT_EQ(meter_host::log_bytes("meter-host: ", "meter 1 (slave 1) offline", Priority::warning, false),
            "meter-host: meter 1 (slave 1) offline\n");
  EXPECT_EQ(meter_host::log_bytes("meter-host: ", "line 1\nline 2\n", Priority::error, false),
            "meter-host: line 1\nline 2\n");
}

struct JournalCase {
  const char* name;
  const char* text;
  Priority priority;
  const char* bytes;
};
void PrintTo(const JournalCase& c, std::ostream* os) { *os << c.name; }

class HostLogJournal : public ::testing::TestWithParam<JournalCase> {};

TEST_P(HostLogJournal, EveryLineStartsWithItsPriority) {
  const JournalCase& c = GetParam();
  EXPECT_EQ(meter_host::log_bytes("meter-host: ", c.text, c.priority, true), c.bytes);
}

INSTANTIATE_TEST_SUITE_P(Host, HostLogJournal,
                         ::testing::Values(JournalCase{"error", "cannot read the site", Priority::error,
                                                       "<3>cannot read the site\n"},
                                           JournalCase{"warning", "line lost: EIO", Priority::warning,
                                                       "<4>line lost: EIO\n"},
                                           JournalCase{"info", "round 1 completed", Priority::info,
                                                       "<6>round 1 completed\n"},
                                           JournalCase{"debug", "read 256+10", Priority::debug, "<7>read 256+10\n"},
                                           JournalCase{"several_lines", "stats\nmeter 1: 3 rounds\nmeter 2: 0 rounds",
                                                       Priority::info,
                                                       "<6>stats\n<6>meter 1: 3 rounds\n<6>meter 2: 0 rounds\n"},
                                           JournalCase{"ending_in_a_line_end", "a\nb\n", Priority::warning,
                                                       "<4>a\n<4>b\n"},
                                           JournalCase{"empty", "", Priority::info, "<6>\n"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(HostJournalStream, ReadsDeviceAndInode) {
  EXPECT_EQ(meter_host::journal_stream("8:123456"), std::make_pair(8ULL, 123456ULL));
  for (const char* bad : {"", "8", "8:", ":5", "x:5", "8:5x", "-8:5", "99999999999999999999999:1"})
    EXPECT_FALSE(meter_host::journal_stream(bad)) << bad;
  EXPECT_FALSE(meter_host::journal_stream(nullptr));
}

// One end of a datagram pair: every write(2) arrives as one datagram, so a
// message that came in two writes would show as two.
class Datagrams {
public:
  Datagrams() { EXPECT_EQ(::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, fds_), 0); }
  ~Datagrams() {
    ::close(fds_[0]);
    ::close(fds_[1]);
  }
  int writer() const { return fds_[0]; }
  std::string stream_name() const {
    struct stat st {};
    ::fstat(fds_[0], &st);
    return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
  }
  // Every datagram written so far, in order.
  std::vector<std::string> taken() {
    std::vector<std::string> got;
    char buffer[65536];
    for (ssize_t n; (n = ::recv(fds_[1], buffer, sizeof buffer, MSG_DONTWAIT)) >= 0;)
      got.emplace_back(buffer, static_cast<std::size_t>(n));
    return got;
  }

private:
  int fds_[2] = {-1, -1};
};

void write_every_kind(Log& log) {
  log.error("the site does not load");
  log.warning("meter 2 (slave 2) offline");
  log.line("round 3 completed");
  log.detail("read 256+10");
  log.line("stats\nmeter 1: 3 rounds");
}

TEST(HostLog, WhenStandardErrorIsTheJournalEveryLineCarriesItsPriority) {
  Datagrams out;
  ::setenv("JOURNAL_STREAM", out.stream_name().c_str(), 1);
  Log log(out.writer(), true);
  ::unsetenv("JOURNAL_STREAM");
  write_every_kind(log);
  EXPECT_EQ(out.taken(),
            (std::vector<std::string>{"<3>the site does not load\n", "<4>meter 2 (slave 2) offline\n",
                                      "<6>round 3 completed\n", "<7>read 256+10\n",
                                      "<6>stats\n<6>meter 1: 3 rounds\n"}));
}

TEST(HostLog, WithoutJournalStreamTheLinesAreUnchanged) {
  Datagrams out;
  ::unsetenv("JOURNAL_STREAM");
  Log log(out.writer(), false);
  write_every_kind(log);
  EXPECT_EQ(out.taken(), (std::vector<std::string>{"meter-host: the site does not load\n",
                                                   "meter-host: meter 2 (slave 2) offline\n",
                                                   "meter-host: round 3 completed\n",
                                                   "meter-host: stats\nmeter 1: 3 rounds\n"}));
}

TEST(HostLog, AJournalStreamThatIsAnotherFileIsNotOurs) {
  Datagrams out, other;
  ::setenv("JOURNAL_STREAM", other.stream_name().c_str(), 1);
  Log log(out.writer());
  ::unsetenv("JOURNAL_STREAM");
  log.warning("meter 2 (slave 2) offline");
  EXPECT_EQ(out.taken(), std::vector<std::string>{"meter-host: meter 2 (slave 2) offline\n"});
}

}  // namespace
