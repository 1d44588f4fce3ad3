// JSON files nested deeper than the reader takes are refused like any other
// bad file: one line that says why, exit status 2, no abort.
#include <gtest/gtest.h>

#include <string>

#include "command_line.h"
#include "json_file.h"
#include "support/runs.h"

namespace {

using tools_test::Collector;
using tools_test::kRunTimeout;
using tools_test::TempDir;

constexpr const char* kTooDeep = "nested more than 1000 levels deep";

// JSON nested `levels` deep: an object whose member holds nested arrays.
std::string nested(unsigned levels) {
  return "{\"x\": " + std::string(levels - 1, '[') + std::string(levels - 1, ']') + "}";
}

TEST(DeepJson, ReaderTakesTheDeepestAllowedFile) {
  TempDir dir;
  tools_test::write_text(dir.path("deep.json"), nested(json_file::kMaxDepth));
  Json::Value value;
  std::string error;
  EXPECT_EQ(json_file::read(dir.path("deep.json"), &value, &error), json_file::Status::ok) << error;
}

TEST(DeepJson, ReaderRefusesOneLevelMore) {
  TempDir dir;
  tools_test::write_text(dir.path("deep.json"), nested(json_file::kMaxDepth + 1));
  Json::Value value;
  std::string error;
  EXPECT_EQ(json_file::read(dir.path("deep.json"), &value, &error), json_file::Status::not_json);
  EXPECT_EQ(error, kTooDeep);
}

TEST(DeepJson, HostRefusesADeepConfiguration) {
  TempDir dir;
  tools_test::write_text(dir.path("deep.json"), nested(1001));
  const tools_test::Finished run = tools_test::run_host({"--config", dir.path("deep.json")});
  EXPECT_EQ(run.status, cli::kBadUsage) << run.err;
  EXPECT_NE(run.err.find(dir.path("deep.json") + " is not JSON: " + kTooDeep), std::string::npos) << run.err;
  EXPECT_FALSE(tools_test::sanitizer_report(run.err)) << run.err;
}

TEST(DeepJson, SimulatorRefusesADeepRegisterImage) {
  TempDir dir;
  tools_test::write_text(dir.path("deep.json"), nested(1001));
  posix_io::SpawnOptions o;
  o.pipeStderr = true;
  std::string error;
  posix_io::Process sim =
      posix_io::Process::spawn({METER_SIM_PROGRAM, "--registers", dir.path("deep.json")}, o, &error);
  ASSERT_TRUE(sim.running()) << error;
  Collector err(sim.stderr_fd());
  EXPECT_EQ(sim.wait(kRunTimeout), cli::kBadUsage);
  ASSERT_TRUE(err.wait_end(tools_test::kEventTimeout));
  EXPECT_NE(err.text().find("meter-sim: " + dir.path("deep.json") + ": not JSON: " + kTooDeep), std::string::npos)
      << err.text();
  EXPECT_FALSE(tools_test::sanitizer_report(err.text())) << err.text();
}

}  // namespace
