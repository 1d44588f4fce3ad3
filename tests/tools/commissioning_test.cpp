// Commissioning: meter-host scan and check-wiring against the simulated
// meter as a site wires it, and their pure parts called directly.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <cmath>
#include <fstream>
#include <sstream>

#include "host/rtu.h"
#include "port_lock.h"
#include "scan.h"
#include "sim_options.h"
#include "slave.h"
#include "support/runs.h"
#include "wiring_checks.h"

// Named: the suite's files share unity batches.
namespace commissioning_tests {
namespace {

using namespace tools_test;
using commissioning::Check;
using commissioning::Combination;
using commissioning::Verdict;

std::string joined(const std::vector<std::string>& lines) {
  std::string all;
  for (const auto& l : lines) all += l + "\n";
  return all;
}

// ---- the scan's plain parts

TEST(Scan, SlaveRangesAreAddressesOneTo247) {
  std::string why;
  EXPECT_EQ(commissioning::parse_slaves("1-247", &why)->size(), 247u);
  EXPECT_EQ(*commissioning::parse_slaves("2,7,9-10,7", &why), (std::vector<unsigned>{2, 7, 9, 10}));
  for (const char* bad : {"0", "1-248", "5-3", "x", "", "1,,2", "0-4"})
    EXPECT_FALSE(commissioning::parse_slaves(bad, &why)) << bad;
}

TEST(Scan, SiteFileTakesTheSettingsWithTheMostMeters) {
  using commissioning::Found;
  const Combination slow{9600, 'N'}, fast{19200, 'E'};
  Found other{5, slow, 50.0, false, "exception 1"};
  const std::vector<Found> found{{3, slow, 50.0, true, ""}, other, {2, fast, 50.0, true, ""}, {7, fast, 50.0, true, ""}};
  const Json::Value site = commissioning::site_file("/dev/ttyUSB0", found);
  EXPECT_EQ(site, parse_json(R"({"line": {"port": "/dev/ttyUSB0", "baud": 19200, "parity": "E"},
                                 "meters": [{"slave": 2}, {"slave": 7}]})"));
  EXPECT_TRUE(commissioning::site_file("/dev/ttyUSB0", {other}).isNull()) << "no KVRM4410T, no site";
  EXPECT_EQ(commissioning::site_text(site), "{\n"
                                            "  \"line\": {\"port\": \"/dev/ttyUSB0\", \"baud\": 19200, \"parity\": \"E\"},\n"
                                            "  \"meters\": [\n"
                                            "    {\"slave\": 2},\n"
                                            "    {\"slave\": 7}\n"
                                            "  ]\n"
                                            "}\n");
}

TEST(Scan, SweepLimitIsRequestWireTimePlusTimeOutPerAddress) {
  // 8 bytes of 11 bits at 19200 baud, and 100 ms, for 247 addresses.
  EXPECT_EQ(commissioning::sweep_limit(247, Combination{19200, 'E'}, std::chrono::milliseconds(100)),
            247 * (std::chrono::nanoseconds(88000000000LL / 19200) + std::chrono::milliseconds(100)));
}

TEST(Scan, ProgressShowsCombinationAddressFoundAndTimeLeft) {
  commissioning::Progress p{1, 4, Combination{19200, 'E'}, 56, 247, 57, 2, std::chrono::seconds(72)};
  EXPECT_EQ(commissioning::progress_text(p, 10), "[###.......] 19200 8E1 (2/4) · address 57 (57/247) · found 2 · 1 min 12 s left");
}

// ---- the wiring check's plain parts

// A balanced import at 230 V, 10 A and 10 degrees on every phase.
commissioning::WiringReading balanced() {
  commissioning::WiringReading r;
  const double angles[] = {10.0, 10.0, 10.0};
  for (std::size_t p = 0; p < 3; ++p) {
    auto& ph = r.phase[p];
    ph.voltage = 230;
    ph.current = 10;
    ph.apparent = 2.3;
    ph.angle = angles[p];
    ph.powerFactor = std::cos(angles[p] * M_PI / 180);
    ph.active = ph.apparent * ph.powerFactor;
    ph.reactive = ph.apparent * std::sin(angles[p] * M_PI / 180);
    ph.lineVoltage = 230 * std::sqrt(3.0);
  }
  r.frequency = 50.0;
  for (const auto& ph : r.phase) r.active += ph.active, r.reactive += ph.reactive, r.apparent += ph.apparent;
  return r;
}

const Check& named(const std::vector<Check>& checks, const std::string& name) {
  for (const Check& c : checks)
    if (c.name == name) return c;
  throw std::runtime_error("no check " + name);
}

TEST(WiringCheck, BalancedImportPassesEveryCheck) {
  for (const Check& c : commissioning::check_wiring(balanced(), {})) EXPECT_EQ(c.verdict, Verdict::pass) << check_line(c);
}

TEST(WiringCheck, ReversedCtIsNamedWithItsEvidenceAndRemedy) {
  auto r = balanced();
  r.phase[1].active = -2.64;
  r.phase[1].angle = 191.4;
  const Check c = named(commissioning::check_wiring(r, {}), "phase B power flow");
  EXPECT_EQ(c.verdict, Verdict::fail);
  EXPECT_EQ(c.text, "phase B current transformer reversed: P_B = -2.64 kW while A and C are positive, angle B 191.4°: "
                    "swap the CT's S1/S2 leads");
}

TEST(WiringCheck, LoadGateFollowsTheCtRating) {
  auto r = balanced();
  for (auto& ph : r.phase) ph.current = 8, ph.angle = 180;  // 8 A: below 10 % of 100 A, above 0.5 A
  commissioning::WiringSettings s;
  EXPECT_EQ(named(commissioning::check_wiring(r, s), "phase A power flow").verdict, Verdict::fail);
  s.ctPrimary = 100;
  const Check c = named(commissioning::check_wiring(r, s), "phase A power flow");
  EXPECT_EQ(c.verdict, Verdict::warn);
  EXPECT_NE(c.text.find("skipped: I_A = 8.00 A is below 10.00 A"), std::string::npos) << c.text;
}

TEST(WiringCheck, ExpectingExportTurnsTheWindowRound) {
  auto r = balanced();
  for (auto& ph : r.phase) ph.angle = 190, ph.active = -ph.active;
  r.active = -r.active;
  commissioning::WiringSettings s;
  s.expect = commissioning::Expect::export_power;
  EXPECT_EQ(named(commissioning::check_wiring(r, s), "phase C power flow").verdict, Verdict::pass);
  s.expect = commissioning::Expect::both;
  EXPECT_EQ(named(commissioning::check_wiring(r, s), "phase C power flow").verdict, Verdict::pass);
}

TEST(WiringCheck, FrequencyBoundsOfTheGrid) {
  auto r = balanced();
  const std::pair<double, Verdict> cases[] = {{50.4, Verdict::pass}, {49.6, Verdict::pass}, {51.0, Verdict::warn},
                                              {47.5, Verdict::warn}, {52.5, Verdict::fail}, {46.5, Verdict::fail}};
  for (const auto& [hz, verdict] : cases) {
    r.frequency = hz;
    EXPECT_EQ(named(commissioning::check_wiring(r, {}), "frequency").verdict, verdict) << hz;
  }
}

TEST(WiringCheck, WorstVerdictOfTheRoundsIsKept) {
  const std::vector<std::vector<Check>> rounds{{{"a", Verdict::pass, "1"}, {"b", Verdict::warn, "1"}},
                                               {{"a", Verdict::fail, "2"}, {"b", Verdict::pass, "2"}},
                                               {{"a", Verdict::warn, "3"}, {"b", Verdict::warn, "3"}}};
  const auto worst = commissioning::worst_of(rounds);
  ASSERT_EQ(worst.size(), 2u);
  EXPECT_EQ(check_line(worst[0]), "FAIL  a: 2");
  EXPECT_EQ(check_line(worst[1]), "warn  b: 1");
}

// ---- the simulated meter's live image, however it is wired

std::int64_t int32_at(const meter_sim::Slave& s, unsigned reg) {
  return static_cast<std::int32_t>((static_cast<std::uint32_t>(s.image().get(reg)) << 16) | s.image().get(reg + 1));
}

class SimWiring : public ::testing::TestWithParam<const char*> {};

TEST_P(SimWiring, LiveImageIsPhysicallyConsistent) {
  meter_sim::Wiring w;
  std::string why;
  ASSERT_TRUE(meter_sim::add_wiring(GetParam(), &w, &why)) << why;
  meter_sim::Slave s(1, meter_sim::RegisterImage(), true, meter_sim::FaultPlan{}, w);
  for (unsigned round = 0; round < 3; ++round) {
    std::vector<std::uint8_t> request(host::kMaxFrameSize);
    request.resize(host::build_read_request(request.data(), 1, 366, 56));
    ASSERT_FALSE(s.handle(request.data(), request.size(), 0.0).frame.empty());
    std::int64_t p = 0, q = 0, sum = 0;
    for (unsigned k = 0; k < 3; ++k) {
      const double volts = int32_at(s, 366 + 2 * k) / 1e4, amps = int32_at(s, 372 + 2 * k) / 1e4;
      const double apparent = int32_at(s, 396 + 2 * k) / 1e4, active = int32_at(s, 380 + 2 * k) / 1e4;
      const double angle = s.image().get(406 + k) / 10.0;
      EXPECT_NEAR(apparent, volts * amps / 1000, 0.0002) << "S = U x I, phase " << k;
      // The angle register's 0.1 degree steps: 0.05 degrees is 0.00087 rad.
      EXPECT_NEAR(active, apparent * std::cos(angle * M_PI / 180), 0.0009 * apparent + 0.0002)
          << "P = S cos angle, phase " << k;
      EXPECT_NEAR(static_cast<std::int16_t>(s.image().get(403 + k)) / 1000.0, std::cos(angle * M_PI / 180), 0.0015)
          << "PF = cos angle, phase " << k;
      p += int32_at(s, 380 + 2 * k), q += int32_at(s, 388 + 2 * k), sum += int32_at(s, 396 + 2 * k);
    }
    EXPECT_EQ(int32_at(s, 378), p) << "total active power = sum of the phases";
    EXPECT_EQ(int32_at(s, 386), q);
    EXPECT_EQ(int32_at(s, 394), sum);
  }
}

INSTANTIATE_TEST_SUITE_P(Sim, SimWiring,
                         ::testing::Values("low-load", "reversed-ct:B", "swapped-ct:CA", "missing-voltage:A", "export",
                                           "reversed-ct:A,swapped-ct:BC,low-load"),
                         [](const auto& info) {
                           std::string name;
                           for (const char* c = info.param; *c; ++c) name += std::isalnum(*c) ? *c : '_';
                           return name;
                         });

TEST(Sim, WiringOptionsAreChecked) {
  for (const char* bad : {"reversed-ct:D", "swapped-ct:AA", "sideways", "swapped-ct:AB,swapped-ct:BC", "export@4"})
    EXPECT_NE(meter_sim::parse_sim_options({"--wiring", bad}).error, "") << bad;
  const auto r = meter_sim::parse_sim_options({"--slave", "1,2", "--wiring", "export", "--wiring", "reversed-ct:C@2"});
  ASSERT_EQ(r.error, "");
  const auto setups = r.options.setups();
  EXPECT_EQ(meter_sim::describe(setups[0].wiring), "export");
  EXPECT_EQ(meter_sim::describe(setups[1].wiring), "reversed-ct:C, export");
}

// ---- scan against meter-sim

TEST(Scan, FindsTheMetersAmongSilentAddressesAndWritesARunnableSite) {
  TempDir dir;
  SimRun sim({"--slave", "2,7,9", "--fault", "bad-crc@9", "--baud", "19200", "--parity", "E"});
  ASSERT_FALSE(sim.path().empty());
  const Finished scan = run_host({"scan", "--port", sim.path(), "--bauds", "9600,19200", "--parities", "N,E",
                                  "--slaves", "1-3,7-9", "--timeout-ms", "150", "--write-site", dir.path("site.json")});
  ASSERT_EQ(scan.status, 0) << scan.err;
  EXPECT_EQ(scan.out, (std::vector<std::string>{
                          "slave 2 at 19200 8E1: KVRM4410T", "slave 7 at 19200 8E1: KVRM4410T",
                          "address 9: 1 reply with a bad CRC (19200 8E1): two slaves at one address, or the line's "
                          "speed is another"}));
  // Piped: one line per speed and parity tried, none after the one that found.
  EXPECT_EQ(count_of(scan.err, " addresses in "), 4u) << scan.err;
  EXPECT_NE(scan.err.find("19200 8E1: 6 addresses in "), std::string::npos) << scan.err;

  const Finished host = run_host({"--site", dir.path("site.json"), "--rounds", "1", "--interval", "0"});
  EXPECT_EQ(host.status, 0) << host.err;
  EXPECT_NE(host.err.find("meter 2 (slave 2): round 1 completed"), std::string::npos) << host.err;
  EXPECT_NE(host.err.find("meter 7 (slave 7): round 1 completed"), std::string::npos) << host.err;
}

TEST(Scan, AtAnotherSpeedAGarblingLineShowsBadCrcs) {
  SimRun sim({"--slave", "2", "--baud", "19200", "--parity", "E", "--garble-baud"});
  const Finished scan = run_host({"scan", "--port", sim.path(), "--bauds", "9600,19200", "--parities", "E",
                                  "--slaves", "2", "--timeout-ms", "150"});
  ASSERT_EQ(scan.status, 0) << scan.err;
  EXPECT_EQ(scan.out, (std::vector<std::string>{"slave 2 at 19200 8E1: KVRM4410T",
                                                "address 2: 1 reply with a bad CRC (9600 8E1): two slaves at one "
                                                "address, or the line's speed is another"}));
}

TEST(Scan, TellsAKvrmFromAnotherDevice) {
  SimRun sim({"--slave", "1,3", "--fault", "exception@3"});
  const Finished scan =
      run_host({"scan", "--port", sim.path(), "--bauds", "9600", "--parities", "N", "--slaves", "1-3", "--timeout-ms", "150"});
  ASSERT_EQ(scan.status, 0) << scan.err;
  EXPECT_EQ(scan.out, (std::vector<std::string>{"slave 1 at 9600 8N1: KVRM4410T",
                                                "slave 3 at 9600 8N1: answers, not a KVRM4410T (its answer to "
                                                "register 409: exception 4)"}));
}

TEST(Scan, NoDeviceExitsOne) {
  SimRun sim({"--slave", "1"});
  const Finished scan = run_host({"scan", "--port", sim.path(), "--bauds", "9600", "--parities", "N,E", "--slaves",
                                  "2-3", "--timeout-ms", "50"});
  EXPECT_EQ(scan.status, 1);
  EXPECT_TRUE(scan.out.empty()) << joined(scan.out);
  EXPECT_NE(scan.err.find("no device answered"), std::string::npos) << scan.err;
}

TEST(Scan, RefusesALockedPortSendingNothing) {
  SimRun sim({"--verbose"});
  posix_io::PortLock lock;
  std::string error;
  ASSERT_TRUE(lock.take(sim.path(), &error)) << error;
  const Finished refused = run_host({"scan", "--port", sim.path(), "--slaves", "1", "--timeout-ms", "50"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find(sim.path() + " is in use by process " + std::to_string(::getpid())), std::string::npos)
      << refused.err;
  lock.release();
  const Finished scan = run_host({"scan", "--port", sim.path(), "--bauds", "9600", "--parities", "N", "--slaves", "1"});
  ASSERT_EQ(scan.status, 0) << scan.err;
  // The identification's last read: everything before it is in the log.
  ASSERT_TRUE(sim.err().wait_for("read 39624+22", kEventTimeout));
  const std::string log = sim.err().text();
  EXPECT_EQ(count_of(log, "read 409+1"), 1u) << "only the second scan asked\n" << log;
  EXPECT_EQ(count_of(log, "not understood"), 0u) << log;
}

TEST(Scan, RefusesAPortARunningHostHolds) {
  SimRun sim({});
  HostRun host({"--port", sim.path(), "--interval", "0"});
  ASSERT_TRUE(host.err().wait_for("round 1 completed", kEventTimeout)) << host.err_text();
  const Finished scan = run_host({"scan", "--port", sim.path(), "--slaves", "1"});
  EXPECT_EQ(scan.status, 1);
  EXPECT_NE(scan.err.find("is in use by process " + std::to_string(host.pid()) + " (meter-host)"), std::string::npos)
      << scan.err;
  host.send("quit");
  EXPECT_EQ(host.wait(), 0) << host.err_text();
}

struct UsageCase {
  std::vector<std::string> args;
  const char* why;
};
void PrintTo(const UsageCase& c, std::ostream* os) {
  for (const std::string& arg : c.args) *os << (&arg == &c.args.front() ? "" : " ") << arg;
}

class CommissioningUsage : public ::testing::TestWithParam<UsageCase> {};

TEST_P(CommissioningUsage, BadUsageExitsWithTwoAndSaysWhy) {
  const Finished run = run_host(GetParam().args);
  EXPECT_EQ(run.status, 2) << run.err;
  EXPECT_NE(run.err.find(GetParam().why), std::string::npos) << run.err;
  EXPECT_TRUE(run.out.empty());
}

INSTANTIATE_TEST_SUITE_P(Commissioning, CommissioningUsage,
                         ::testing::Values(UsageCase{{"scan", "--slaves", "1"}, "--port"},
                                           UsageCase{{"scan", "--port", "/dev/null", "--slaves", "0"}, "--slaves"},
                                           UsageCase{{"scan", "--port", "/dev/null", "--bauds", "9601"}, "--bauds"},
                                           UsageCase{{"scan", "--port", "/dev/null", "--parities", "N,X"}, "--parities"},
                                           UsageCase{{"check-wiring", "--port", "/dev/null", "--expect", "sideways"},
                                                     "--expect"},
                                           UsageCase{{"check-wiring", "--port", "/dev/null", "--frequency", "55"},
                                                     "--frequency"}));

// ---- check-wiring against meter-sim wired each way

struct WiringCase {
  const char* name;
  std::vector<std::string> simArgs;
  std::vector<std::string> checkArgs;
  int status;
  std::vector<std::string> lines;  // each must be on standard output
  const char* summary;
};
void PrintTo(const WiringCase& c, std::ostream* os) { *os << c.name; }

class CheckWiring : public ::testing::TestWithParam<WiringCase> {};

TEST_P(CheckWiring, NamesTheFaultAndThePhase) {
  const WiringCase& c = GetParam();
  SimRun sim(c.simArgs);
  std::vector<std::string> args{"check-wiring", "--port", sim.path()};
  args.insert(args.end(), c.checkArgs.begin(), c.checkArgs.end());
  const Finished run = run_host(args);
  const std::string out = joined(run.out);
  EXPECT_EQ(run.status, c.status) << out << run.err;
  for (const std::string& line : c.lines) EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;
  ASSERT_FALSE(run.out.empty());
  EXPECT_EQ(run.out.back(), c.summary) << out;
}

const std::string kReversed = "phase B power flow: phase B current transformer reversed: P_B = ";
const std::string kSwapped = "the CTs of phases ";

INSTANTIATE_TEST_SUITE_P(
    Commissioning, CheckWiring,
    ::testing::Values(
        WiringCase{"Healthy", {}, {}, 0, {"pass  phase A power flow: P_A = "}, "18 pass, 0 warn, 0 fail"},
        WiringCase{"ReversedCtA", {"--wiring", "reversed-ct:A"}, {}, 1,
                   {"FAIL  phase A power flow: phase A current transformer reversed: P_A = -",
                    "while B and C are positive, angle A "}, "17 pass, 0 warn, 1 fail"},
        WiringCase{"ReversedCtB", {"--wiring", "reversed-ct:B"}, {}, 1, {"FAIL  " + kReversed + "-", "swap the CT's S1/S2 leads"},
                   "17 pass, 0 warn, 1 fail"},
        WiringCase{"ReversedCtC", {"--wiring", "reversed-ct:C"}, {"--rounds", "1"}, 1,
                   {"FAIL  phase C power flow: phase C current transformer reversed"}, "17 pass, 0 warn, 1 fail"},
        WiringCase{"SwappedCtAB", {"--wiring", "swapped-ct:AB"}, {}, 1,
                   {"FAIL  phase A power flow: phase A carries phase B's current",
                    "FAIL  phase B power flow: phase B carries phase A's current", kSwapped + "A and B are swapped"},
                   "16 pass, 0 warn, 2 fail"},
        WiringCase{"SwappedCtBC", {"--wiring", "swapped-ct:BC"}, {}, 1,
                   {"FAIL  phase B power flow: phase B carries phase C's current", kSwapped + "B and C are swapped"},
                   "16 pass, 0 warn, 2 fail"},
        WiringCase{"SwappedCtCA", {"--wiring", "swapped-ct:CA"}, {}, 1,
                   {"FAIL  phase C power flow: phase C carries phase A's current", kSwapped + "A and C are swapped"},
                   "16 pass, 0 warn, 2 fail"},
        WiringCase{"MissingVoltageA", {"--wiring", "missing-voltage:A"}, {}, 1,
                   {"FAIL  phase A voltage: phase A voltage missing: U_A = 0.8 V", "warn  line voltage AB: skipped"},
                   "13 pass, 4 warn, 1 fail"},
        WiringCase{"MissingVoltageB", {"--wiring", "missing-voltage:B"}, {}, 1,
                   {"FAIL  phase B voltage: phase B voltage missing"}, "13 pass, 4 warn, 1 fail"},
        WiringCase{"MissingVoltageC", {"--wiring", "missing-voltage:C"}, {}, 1,
                   {"FAIL  phase C voltage: phase C voltage missing", "check the voltage tap and fuse of phase C"},
                   "13 pass, 4 warn, 1 fail"},
        WiringCase{"LowLoad", {"--wiring", "low-load"}, {}, 0,
                   {"warn  phase A power flow: skipped: I_A = 0.", "warn  current unbalance: skipped"},
                   "14 pass, 4 warn, 0 fail"},
        WiringCase{"LowLoadHidesAReversedCt", {"--wiring", "low-load,reversed-ct:B"}, {"--ct-primary", "5"}, 0,
                   {"warn  phase B power flow: skipped: I_B = 0."}, "14 pass, 4 warn, 0 fail"},
        WiringCase{"Export", {"--wiring", "export"}, {}, 1,
                   {"FAIL  phase C power flow: power flows the other way on every phase", "the site exports"},
                   "15 pass, 0 warn, 3 fail"},
        WiringCase{"ExportExpected", {"--wiring", "export"}, {"--expect", "export"}, 0, {}, "18 pass, 0 warn, 0 fail"},
        WiringCase{"ReversedCtAtAnotherAddress", {"--slave", "4", "--wiring", "reversed-ct:B", "--baud", "19200"},
                   {"--slave", "4", "--baud", "19200"}, 1, {"slave 4 at ", "FAIL  " + kReversed},
                   "17 pass, 0 warn, 1 fail"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CheckWiring, AMeterThatDoesNotAnswerFails) {
  SimRun sim({"--slave", "1"});
  const Finished run = run_host({"check-wiring", "--port", sim.path(), "--slave", "2", "--timeout-ms", "50"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("round 1: read 256+10: no reply within 50 ms"), std::string::npos) << run.err;
}

}  // namespace
}  // namespace commissioning_tests
