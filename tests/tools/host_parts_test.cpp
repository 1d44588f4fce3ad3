// The bench host's pure parts: options, commands, line settings, timing,
// log lines.
#include <gtest/gtest.h>

#include <cstring>

#include "bench_backend.h"
#include "command_runner.h"
#include "commands.h"
#include "host_options.h"
#include "line_settings.h"
#include "line_stats.h"
#include "line_timing.h"
#include "serial_worker.h"
#include "site.h"
#include "turns.h"
#include "support/runs.h"

namespace {

using namespace meter_host;

TEST(HostOptions, DefaultsRunUntilInterruptedOnceASecond) {
  const auto r = parse_host_options({});
  EXPECT_EQ(r.error, "");
  EXPECT_EQ(r.options.rounds, 0u);
  EXPECT_EQ(r.options.interval, 1.0);
  EXPECT_EQ(r.options.dataId, 1u);
  EXPECT_FALSE(r.options.port);
  EXPECT_FALSE(r.options.snapshot);
  EXPECT_FALSE(r.options.publishEveryRound);
  EXPECT_TRUE(parse_host_options({"--publish-every-round"}).options.publishEveryRound);
}

TEST(HostOptions, BadUsageIsNamed) {
  const std::pair<std::vector<std::string>, const char*> cases[] = {
      {{"--rounds", "-1"}, "--rounds"},
      {{"--rounds"}, "--rounds"},
      {{"--rounds", "010x"}, "--rounds"},
      {{"--interval", "soon"}, "--interval"},
      {{"--interval", "nan"}, "--interval"},
      {{"--offline-retry", "-1"}, "--offline-retry"},
      {{"--parity", "e"}, "--parity"},
      {{"--baud", "9601"}, "--baud"},
      {{"--slave", "248"}, "--slave"},
      {{"--timeout-ms", "0"}, "--timeout-ms"},
      {{"--data-id", "4294967296"}, "--data-id"},
      {{"--write", "300"}, "--write"},
      {{"--write", "300=70000"}, "16-bit"},
      {{"--ioctl", "abc"}, "--ioctl"},
      {{"--rts", "sideways"}, "--rts"},
      {{"--meter", "0"}, "--meter"},
      {{"--meter", "2:x"}, "data id"},
      {{"--meter", "1", "--meter", "1:5"}, "slave 1 named twice"},
      {{"--meter", "1:7", "--meter", "2:7"}, "data id 7 named twice"},
      {{"--meter", "1", "--slave", "2"}, "--slave"},
      {{"--simulate", "--port", "/dev/ttyUSB0"}, "--port"},
      {{"--port", "/dev/ttyUSB0", "--fault", "slow"}, "--port"},
      {{"--frobnicate"}, "--frobnicate"},
  };
  for (const auto& [args, why] : cases) {
    const auto r = parse_host_options(args);
    EXPECT_NE(r.error.find(why), std::string::npos) << args.front() << ": " << r.error;
  }
}

TEST(HostOptions, ValuesJoinTheOptionWithEqualsOrFollowIt) {
  const auto r = parse_host_options({"--rounds=3", "--baud", "19200", "--slave=0x10", "--interval=0.5"});
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(r.options.rounds, 3u);
  EXPECT_EQ(r.options.baud, 19200u);
  EXPECT_EQ(r.options.slave, 16u);
  EXPECT_EQ(r.options.interval, 0.5);
  EXPECT_EQ(parse_host_options({"--slave", "010"}).options.slave, 10u) << "decimal, never octal";
}

TEST(HostOptions, MetersNameSlaveDataIdAndConfiguration) {
  const auto r = parse_host_options({"--meter", "1", "--meter", "2:20", "--meter", "3:30:c:/m3.json",
                                     "--offline-retry", "5"});
  ASSERT_EQ(r.error, "");
  ASSERT_EQ(r.options.meters.size(), 3u);
  EXPECT_EQ(r.options.meters[0].slave, 1u);
  EXPECT_FALSE(r.options.meters[0].dataId) << "the slave address then";
  EXPECT_EQ(r.options.meters[1].dataId, 20u);
  EXPECT_EQ(r.options.meters[1].config, "");
  EXPECT_EQ(r.options.meters[2].config, "c:/m3.json");
  EXPECT_EQ(r.options.offlineRetry, 5.0);
}

TEST(HostOptions, SimulatorOptionsPassThrough) {
  const auto r = parse_host_options({"--simulate", "--registers", "img.json", "--fault", "bad-crc@2",
                                     "--fault-after", "5", "--line-speed", "--slow-ms", "10"});
  ASSERT_EQ(r.error, "");
  EXPECT_TRUE(r.options.simulate);
  EXPECT_EQ(r.options.simArgs, (std::vector<std::string>{"--registers", "img.json", "--fault", "bad-crc@2",
                                                          "--fault-after", "5", "--slow-ms", "10", "--line-speed"}));
}

TEST(HostOptions, HelpNamesEveryOptionAndTheStdinCommands) {
  const auto r = parse_host_options({"--help"});
  EXPECT_EQ(r.error, "");
  const std::string& help = r.text;
  for (const char* o : {"--plugin", "--config", "--data-id", "--meter", "--site", "--port", "--baud", "--parity",
                        "--slave", "--timeout-ms", "--rs485", "--rts", "--rounds", "--interval", "--offline-retry",
                        "--round-timeout-ms", "--publish-every-round", "--history", "--snapshot", "--write", "--ioctl", "--simulate", "--sim ",
                        "--registers", "--fault ", "--fault-after", "--fault-count", "--slow-ms", "--exception-code",
                        "--line-speed", "--verbose", "--help", "--version", "stats", "help", "quit", "@D", "SIGUSR1",
                        "by-id", "Exit status"})
    EXPECT_NE(help.find(o), std::string::npos) << o;
  EXPECT_EQ(parse_host_options({"--version"}).text.rfind("meter-host ", 0), 0u);
}

TEST(HostSite, FileNamesTheLineAndTheMeters) {
  Site site;
  std::string error;
  ASSERT_TRUE(site_from_json(tools_test::parse_json(R"({"line": {"port": "/dev/serial/by-id/x", "baud": 19200},
      "meters": [{"slave": 1}, {"slave": 2, "dataId": 7, "config": "m2.json"}], "offlineRetry": 10})"),
                             &site, &error))
      << error;
  ASSERT_EQ(site.meters.size(), 2u);
  EXPECT_EQ(site.meters[1].dataId, 7u);
  EXPECT_EQ(site.meters[1].config, "m2.json");
  EXPECT_EQ(site.offlineRetry, 10.0);
  LineSettings s;
  ASSERT_TRUE(resolve_line_settings(HostOptions{}, Json::Value(Json::objectValue), 9600, &s, &error, site.line)) << error;
  EXPECT_EQ(s.port, "/dev/serial/by-id/x");
  EXPECT_EQ(s.baud, 19200u);

  for (const char* text : {R"({})", R"({"meters": []})", R"({"meters": [{"slave": 0}]})",
                           R"({"meters": [{"slave": 1, "dataId": "x"}]})", R"({"meters": [{"slave": 1}, {"slave": 1}]})",
                           R"({"meters": [{"slave": 1}], "offlineRetry": -1})"}) {
    EXPECT_FALSE(site_from_json(tools_test::parse_json(text), &site, &error)) << text;
    EXPECT_NE(error.find("the site's"), std::string::npos) << error;
  }
}

struct WriteTextCase {
  const char* text;
  bool ok;
  unsigned address;
  std::vector<std::uint16_t> values;
};
void PrintTo(const WriteTextCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class HostWriteCommand : public ::testing::TestWithParam<WriteTextCase> {};

TEST_P(HostWriteCommand, ParsesAddressAndValues) {
  std::string error;
  const auto cmd = parse_write_command(GetParam().text, &error);
  ASSERT_EQ(cmd.has_value(), GetParam().ok) << error;
  if (!cmd) return;
  EXPECT_EQ(cmd->address, GetParam().address);
  EXPECT_EQ(cmd->values, GetParam().values);
}

INSTANTIATE_TEST_SUITE_P(Host, HostWriteCommand,
                         ::testing::Values(WriteTextCase{"300=5", true, 300, {5}},
                                           WriteTextCase{"0x9A00=0xFFFF,0", true, 0x9A00, {0xFFFF, 0}},
                                           WriteTextCase{"300=-1,-32768", true, 300, {0xFFFF, 0x8000}},
                                           WriteTextCase{"65535=1", true, 65535, {1}},
                                           WriteTextCase{"65535=1,2", false, 0, {}},
                                           WriteTextCase{"300=", false, 0, {}},
                                           WriteTextCase{"300=1,,2", false, 0, {}},
                                           WriteTextCase{"=1", false, 0, {}},
                                           WriteTextCase{"300=-32769", false, 0, {}},
                                           WriteTextCase{"300=1.5", false, 0, {}}));

TEST(HostCommands, OneValueWritesWithCode206InHostOrder) {
  const IoRequest r = write_request(WriteCommand{0x0130, {0xABCD}});
  EXPECT_EQ(r.code, 206);
  ASSERT_EQ(r.input.size(), 4u);
  std::uint16_t words[2];
  std::memcpy(words, r.input.data(), sizeof words);
  EXPECT_EQ(words[0], 0x0130);
  EXPECT_EQ(words[1], 0xABCD);
}

TEST(HostCommands, SeveralValuesWriteWithCode210) {
  const IoRequest r = write_request(WriteCommand{300, {1, 2, 3}});
  EXPECT_EQ(r.code, 210);
  ASSERT_EQ(r.input.size(), 8u);
  std::uint16_t words[4];
  std::memcpy(words, r.input.data(), sizeof words);
  EXPECT_EQ(words[0], 300);
  EXPECT_EQ(words[3], 3);
}

TEST(HostCommands, LinesOfStandardInput) {
  EXPECT_EQ(parse_command("").kind, CommandKind::empty);
  EXPECT_EQ(parse_command("  # note").kind, CommandKind::empty);
  EXPECT_EQ(parse_command("snapshot").kind, CommandKind::snapshot);
  EXPECT_EQ(parse_command("snapshot now").kind, CommandKind::invalid);
  EXPECT_EQ(parse_command("result\r").kind, CommandKind::result);
  EXPECT_EQ(parse_command("quit").kind, CommandKind::quit);
  const Command w = parse_command("write 300=1,2");
  ASSERT_EQ(w.kind, CommandKind::write);
  EXPECT_EQ(w.write.values.size(), 2u);
  const Command i = parse_command("ioctl 310 {\"signal_id\": \"a b\"}");
  ASSERT_EQ(i.kind, CommandKind::ioctl);
  EXPECT_EQ(i.ioctl.code, 310);
  EXPECT_EQ(i.ioctl.input, "{\"signal_id\": \"a b\"}");
  EXPECT_EQ(parse_command("ioctl 801").ioctl.input, "");
  EXPECT_EQ(parse_command("ioctl x").kind, CommandKind::invalid);
  EXPECT_EQ(parse_command("stats").kind, CommandKind::stats);
  EXPECT_FALSE(parse_command("snapshot").meter) << "the first meter";
  const Command named = parse_command("@12 write 300=5");
  ASSERT_EQ(named.kind, CommandKind::write);
  EXPECT_EQ(named.meter, 12u);
  EXPECT_EQ(parse_command("@2   ioctl 801").ioctl.code, 801);
  EXPECT_EQ(parse_command("@x snapshot").kind, CommandKind::invalid);
  EXPECT_EQ(parse_command("@3").kind, CommandKind::invalid);
  const Command bad = parse_command("reboot");
  EXPECT_EQ(bad.kind, CommandKind::invalid);
  EXPECT_NE(bad.error.find("reboot"), std::string::npos);
}

TEST(HostCommands, IoctlAnswersShowTextOrHex) {
  IoctlOutcome text{0, 3, {'{', '}', '\n'}};
  EXPECT_EQ(ioctl_line(801, text), "ioctl 801 result 0, 3 bytes: {}");
  IoctlOutcome binary{0, 4, {0xFF, 0xFF, 0xFF, 0xFF}};
  EXPECT_EQ(ioctl_line(1, binary), "ioctl 1 result 0, 4 bytes: 0xffffffff");
  EXPECT_EQ(ioctl_line(310, IoctlOutcome{-1, 0, {}}), "ioctl 310 result -1, 0 bytes");
  const std::string chinese = "{\"电网频率\":50}";
  IoctlOutcome utf8{0, static_cast<int>(chinese.size()), std::vector<unsigned char>(chinese.begin(), chinese.end())};
  EXPECT_EQ(ioctl_line(801, utf8), "ioctl 801 result 0, " + std::to_string(chinese.size()) + " bytes: " + chinese);
  IoctlOutcome cut{0, 2, {0xE7, 0x94}};
  EXPECT_EQ(ioctl_line(801, cut), "ioctl 801 result 0, 2 bytes: 0xe794");
}

using kvtest::json;

TEST(HostLineSettings, CommandLineOverConfigurationOverDefaults) {
  const Json::Value config =
      json(R"({"hostSetting": {"port": "/dev/ttyS1", "baud": "19200", "parity": "E", "slave": 3, "timeoutMs": 250}})");
  LineSettings s;
  std::string error;
  ASSERT_TRUE(resolve_line_settings(HostOptions{}, config, 9600, &s, &error)) << error;
  EXPECT_EQ(s.port, "/dev/ttyS1");
  EXPECT_EQ(s.baud, 19200u);
  EXPECT_EQ(s.parity, 'E');
  EXPECT_EQ(s.slave, 3u);
  EXPECT_EQ(s.timeoutMs, 250u);

  HostOptions o;
  o.port = "/dev/ttyUSB0";
  o.baud = 4800;
  o.slave = 9;
  ASSERT_TRUE(resolve_line_settings(o, config, 9600, &s, &error));
  EXPECT_EQ(s.port, "/dev/ttyUSB0");
  EXPECT_EQ(s.baud, 4800u);
  EXPECT_EQ(s.slave, 9u);
  EXPECT_EQ(s.parity, 'E');

  ASSERT_TRUE(resolve_line_settings(HostOptions{}, json("{}"), 9600, &s, &error));
  EXPECT_EQ(s.port, "");
  EXPECT_EQ(s.baud, 9600u) << "the driver's speed";
  EXPECT_EQ(s.parity, 'N');
  EXPECT_EQ(s.slave, 1u);
  EXPECT_EQ(s.timeoutMs, 1000u);
}

TEST(HostLineSettings, BadHostSettingsAreRefused) {
  for (const char* text : {R"({"hostSetting": 5})", R"({"hostSetting": {"baud": "fast"}})",
                           R"({"hostSetting": {"slave": 0}})", R"({"hostSetting": {"parity": "X"}})",
                           R"({"hostSetting": {"port": 7}})", R"({"hostSetting": {"baud": 9601}})",
                           R"({"hostSetting": {"rts": "left"}})", R"({"hostSetting": {"rs485": "yes"}})"}) {
    LineSettings s;
    std::string error;
    EXPECT_FALSE(resolve_line_settings(HostOptions{}, json(text), 9600, &s, &error)) << text;
    EXPECT_NE(error.find("hostSetting"), std::string::npos) << error;
  }
}

TEST(HostLineSettings, ConfigurationFileMustBeOneObject) {
  tools_test::TempDir dir;
  Json::Value config;
  std::string error;
  EXPECT_TRUE(read_config("", &config, &error));
  EXPECT_TRUE(config.isObject());
  tools_test::write_text(dir.path("list.json"), "[1]");
  EXPECT_FALSE(read_config(dir.path("list.json"), &config, &error));
  tools_test::write_text(dir.path("broken.json"), "{");
  EXPECT_FALSE(read_config(dir.path("broken.json"), &config, &error));
  EXPECT_FALSE(read_config(dir.path("absent.json"), &config, &error));
}

TEST(LineTiming, RoundAt9600Is1400Milliseconds) {
  const auto wire = rtu_line::round_wire_time(9600, false);
  EXPECT_NEAR(std::chrono::duration<double>(wire).count(), 1.400, 0.0005);
  EXPECT_EQ(rtu_line::wire_time(1190, 9600, false).count(), 1239583333);
}

TEST(LineTiming, SilenceIsThreeAndAHalfCharactersUpTo19200) {
  EXPECT_EQ(rtu_line::silence(9600, false).count(), 3645833);
  EXPECT_EQ(rtu_line::silence(9600, true).count(), 4010416);
  EXPECT_EQ(rtu_line::silence(19200, false).count(), 1822916);
  EXPECT_EQ(rtu_line::silence(38400, false), std::chrono::microseconds(1750));
}

TEST(HostTurns, ThreeFailedRoundsInARowTakeAMeterOffline) {
  using namespace std::chrono_literals;
  Turns turns(2, 30s);
  const Turns::Clock::time_point t0{};
  EXPECT_EQ(turns.record(0, false, t0), TurnChange::none);
  EXPECT_EQ(turns.record(0, true, t0), TurnChange::none) << "a completed round resets the count";
  EXPECT_EQ(turns.record(0, false, t0), TurnChange::none);
  EXPECT_EQ(turns.record(0, false, t0), TurnChange::none);
  EXPECT_TRUE(turns.due(0, t0 + 1s));
  EXPECT_EQ(turns.record(0, false, t0 + 1s), TurnChange::offline);
  EXPECT_FALSE(turns.due(0, t0 + 30s));
  EXPECT_TRUE(turns.due(0, t0 + 31s)) << "the retry";
  EXPECT_TRUE(turns.due(1, t0)) << "the other meter is unaffected";
  EXPECT_EQ(turns.record(0, false, t0 + 31s), TurnChange::none) << "still offline";
  EXPECT_FALSE(turns.due(0, t0 + 60s));
  EXPECT_EQ(turns.record(0, true, t0 + 61s), TurnChange::back_online);
  EXPECT_TRUE(turns.due(0, t0 + 61s));
}

TEST(HostTurns, WithEveryMeterOfflineTheCycleWaitsForTheFirstRetry) {
  using namespace std::chrono_literals;
  Turns turns(2, 30s);
  const Turns::Clock::time_point t0{};
  for (int i = 0; i < 3; ++i) turns.record(0, false, t0);
  EXPECT_EQ(turns.next_due(t0 + 1s), t0 + 1s) << "meter 1 is online";
  for (int i = 0; i < 3; ++i) turns.record(1, false, t0 + 5s);
  EXPECT_EQ(turns.next_due(t0 + 6s), t0 + 30s);
}

TEST(HostLine, ReopeningBacksOffToThirtySeconds) {
  std::vector<long> delays{kFirstReopen.count()};
  while (delays.size() < 7) delays.push_back(next_reopen_delay(std::chrono::seconds(delays.back())).count());
  EXPECT_EQ(delays, (std::vector<long>{1, 2, 4, 8, 16, 30, 30}));
}

TEST(HostStats, ExceptionsAreNamedByTheirCode) {
  EXPECT_EQ(exception_text(2), "exception 2 (illegal data address)");
  EXPECT_EQ(exception_text(4), "exception 4 (slave device failure)");
  EXPECT_EQ(exception_text(99), "exception 99 (unknown)");
  LineStats line;
  line.port = "/dev/ttyS0";
  line.bytesOut = 480;
  line.bytesIn = 480;
  line.seconds = 2;
  MeterStats m;
  m.dataId = 7;
  m.slave = 3;
  m.roundsCompleted = 2;
  m.lastRound = std::chrono::milliseconds(1500);
  m.allRounds = std::chrono::milliseconds(2800);
  m.exceptions[2] = 5;
  const std::string text = stats_text(line, {m});
  EXPECT_NE(text.find("utilisation 50.0 %"), std::string::npos) << text;
  EXPECT_NE(text.find("meter 7 (slave 3): rounds 2 completed"), std::string::npos) << text;
  EXPECT_NE(text.find("5 x exception 2 (illegal data address)"), std::string::npos) << text;
  EXPECT_NE(text.find("last 1500 ms, mean 1400 ms"), std::string::npos) << text;
}

TEST(HostLog, AlarmLinesReadPlainly) {
  EXPECT_EQ(threshold_bool_line(2, "A相电压", "0406101001", "251.5", "当前值251.5高于阈值:250", true),
            "threshold: A相电压 = 251.5 alarm 0406101001 level 2 IN ALARM: 当前值251.5高于阈值:250");
  EXPECT_EQ(threshold_bool_line(2, "A相电压", "0406101001", "240", "", false),
            "threshold: A相电压 = 240 alarm 0406101001 level 2 normal");
  EXPECT_EQ(threshold_line("0406001006", "A相电压", 230.1f, 1),
            "threshold check: A相电压 = 230.100006 (signal id 0406001006, flag 1)");
  EXPECT_EQ(ao_report_line("0401001001", 0.1f), "analog report: signal id 0401001001 = 0.100000001");
}

}  // namespace
