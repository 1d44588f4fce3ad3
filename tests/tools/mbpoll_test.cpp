// An independent Modbus master, mbpoll, against the simulated meter: the
// simulator speaks standard Modbus RTU.
#include <gtest/gtest.h>

#include <regex>

#include "posix_io.h"
#include "support/runs.h"

namespace {

using namespace tools_test;

struct Mbpoll {
  int status = -1;
  std::string out;
  std::string err;
};

Mbpoll mbpoll(const std::string& port, std::vector<std::string> args, std::vector<std::string> writeValues = {},
              const std::string& slave = "1") {
  std::vector<std::string> argv{MBPOLL_PROGRAM, "-m", "rtu", "-b", "9600", "-P", "none", "-a", slave, "-0", "-1",
                                "-o", "2"};
  argv.insert(argv.end(), args.begin(), args.end());
  argv.push_back(port);
  argv.insert(argv.end(), writeValues.begin(), writeValues.end());
  posix_io::SpawnOptions o;
  o.pipeStdout = o.pipeStderr = true;
  std::string error;
  posix_io::Process p = posix_io::Process::spawn(argv, o, &error);
  Collector out(p.stdout_fd()), err(p.stderr_fd());
  Mbpoll r;
  r.status = p.wait(kEventTimeout).value_or(-1);
  out.wait_end(kEventTimeout);
  err.wait_end(kEventTimeout);
  r.out = out.text();
  r.err = err.text();
  return r;
}

// "[366]: 	35" lines, register to text after the tab.
std::map<unsigned, std::string> values(const std::string& out) {
  std::map<unsigned, std::string> v;
  const std::regex line(R"(\[(\d+)\]:\s+(\S+))");
  for (std::sregex_iterator it(out.begin(), out.end(), line), end; it != end; ++it)
    v[static_cast<unsigned>(std::stoul((*it)[1]))] = (*it)[2];
  return v;
}

class MbpollInterop : public ::testing::Test {
protected:
  void SetUp() override {
    if (std::string(MBPOLL_PROGRAM).empty() || std::string(MBPOLL_PROGRAM).find("NOTFOUND") != std::string::npos)
      GTEST_SKIP() << "mbpoll is not installed";
    write_image(dir_.path("img.json"), {{366, 35}, {367, 7240}, {368, 0xFFFF}, {39424, 0x0000}, {39425, 0x3FC0}});
    sim_.emplace(std::vector<std::string>{"--registers", dir_.path("img.json")});
    ASSERT_FALSE(sim_->path().empty());
  }
  TempDir dir_;
  std::optional<SimRun> sim_;
};

TEST_F(MbpollInterop, ReadsTheImagesRegisters) {
  const Mbpoll r = mbpoll(sim_->path(), {"-t", "4", "-r", "366", "-c", "4"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto v = values(r.out);
  EXPECT_EQ(v.at(366), "35");
  EXPECT_EQ(v.at(367), "7240");
  EXPECT_EQ(v.at(368), "65535");
  EXPECT_EQ(v.at(369), "0");
}

TEST_F(MbpollInterop, ReadsFloatsLowWordFirst) {
  const Mbpoll r = mbpoll(sim_->path(), {"-t", "4:float", "-r", "39424", "-c", "1"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(values(r.out).at(39424), "1.5");
}

TEST_F(MbpollInterop, WritesAreStoredAndReadBack) {
  ASSERT_EQ(mbpoll(sim_->path(), {"-t", "4", "-r", "300"}, {"4660", "22136"}).status, 0);
  const Mbpoll r = mbpoll(sim_->path(), {"-t", "4:hex", "-r", "300", "-c", "2"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto v = values(r.out);
  EXPECT_EQ(v.at(300), "0x1234");
  EXPECT_EQ(v.at(301), "0x5678");
}

TEST_F(MbpollInterop, AnswersRightAfterARequestForAnAbsentSlave) {
  const Mbpoll absent = mbpoll(sim_->path(), {"-t", "4", "-r", "366", "-c", "2"}, {}, "5");
  EXPECT_NE(absent.status, 0) << "slave 5 is not on the line";
  for (int i = 0; i < 2; ++i) {
    const Mbpoll r = mbpoll(sim_->path(), {"-t", "4", "-r", "366", "-c", "2"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(values(r.out).at(367), "7240");
  }
}

TEST_F(MbpollInterop, RegistersOutsideTheMapAreIllegalAddresses) {
  const Mbpoll r = mbpoll(sim_->path(), {"-t", "4", "-r", "576", "-c", "1"});
  EXPECT_NE(r.err.find("Illegal data address"), std::string::npos) << r.out << r.err;
  EXPECT_TRUE(values(r.out).empty());
}

}  // namespace
