#include <array>
#include <ostream>

#include "acquisition/data_block.h"
#include "command_line.h"
#include "commissioning.h"
#include "meter_reads.h"
#include "modbus_line.h"
#include "wiring_checks.h"

namespace commissioning {

namespace {

const char* kCheckDescription =
    "Reads a few polling rounds of one KVRM4410T and judges its wiring: the\n"
    "frequency, each phase and line voltage, the unbalance, the direction and\n"
    "angle of each phase's power (a reversed or swapped CT), and whether the\n"
    "totals and apparent powers agree with the phases. One line per check:\n"
    "pass, warn or FAIL, with the values it used and what to do.";

const char* kCheckFooter =
    "Angle and direction checks are skipped with a warning for a phase whose\n"
    "current is below 10 % of --ct-primary (0.5 A without it).\n"
    "Exit status: 0 when no check failed (warnings allowed), 1 when one did or\n"
    "the meter could not be read, 2 on bad usage.";

struct CheckOptions {
  meter_host::LineSettings line;
  unsigned rounds = 3;
  WiringSettings wiring;
};

}  // namespace

int check_wiring_command(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  CheckOptions o;
  o.line.baud = 9600;
  CLI::App app(kCheckDescription, "meter-host check-wiring");
  app.footer(kCheckFooter);
  cli::set_up(app, "meter-host", 30);
  app.add_option("--port", o.line.port, "serial device of the line")->type_name("DEVICE")->required();
  cli::add_whole(app, "--baud", [&o](long long v) { o.line.baud = static_cast<unsigned>(v); }, 50, 4000000,
                 "line speed (default 9600)")
      ->check(cli::one_of(cli::standard_bauds()))
      ->type_name("BAUD");
  app.add_option_function<std::string>(
         "--parity", [&o](const std::string& p) { o.line.parity = p[0]; }, "parity (default N)")
      ->check(cli::one_of(std::vector<std::string>{"N", "E", "O"}))
      ->type_name("N|E|O");
  cli::add_whole(app, "--slave", [&o](long long v) { o.line.slave = static_cast<unsigned>(v); }, 1, 247,
                 "the meter's slave address (default 1)");
  cli::add_whole(app, "--timeout-ms", [&o](long long v) { o.line.timeoutMs = static_cast<unsigned>(v); }, 1, 600000,
                 "reply time-out per request (default 1000)");
  cli::add_whole(app, "--rounds", [&o](long long v) { o.rounds = static_cast<unsigned>(v); }, 1, 1000,
                 "rounds to read; each check takes its worst (default 3)");
  app.add_option("--nominal-voltage", o.wiring.nominalVoltage, "nominal phase voltage (default 230)")
      ->check(CLI::Range(50.0, 1000.0).description(""))
      ->type_name("V");
  app.add_option_function<std::string>(
         "--frequency", [&o](const std::string& f) { o.wiring.nominalFrequency = f == "60" ? 60.0 : 50.0; },
         "nominal frequency (default 50)")
      ->check(cli::one_of(std::vector<std::string>{"50", "60"}))
      ->type_name("50|60");
  app.add_option("--ct-primary", o.wiring.ctPrimary, "the CTs' rated primary current, for the load gate")
      ->check(CLI::Range(0.1, 100000.0).description(""))
      ->type_name("A");
  app.add_option_function<std::string>(
         "--expect",
         [&o](const std::string& e) {
           o.wiring.expect = e == "export" ? Expect::export_power : e == "both" ? Expect::both : Expect::import_power;
         },
         "power flow expected: import (default), export or both")
      ->check(cli::one_of(std::vector<std::string>{"import", "export", "both"}))
      ->type_name("import|export|both");

  const cli::Outcome parsed = cli::parse(app, args);
  if (!parsed.proceed) {
    (parsed.status == cli::kDone ? out : err) << parsed.text << (parsed.status == cli::kDone ? "" : "\n")
                                              << std::flush;
    if (parsed.status != cli::kDone) err << "(meter-host check-wiring --help lists the options)" << std::endl;
    return parsed.status;
  }

  meter_host::ModbusLine line;
  std::string error;
  if (!line.open(o.line, &error)) {
    err << "meter-host check-wiring: " << error << std::endl;
    return cli::kFailure;
  }
  const std::string where = "slave " + std::to_string(o.line.slave) + " at " + o.line.port + ", " +
                            std::to_string(o.line.baud) + " 8" + o.line.parity + "1";
  std::vector<std::vector<Check>> rounds;
  for (unsigned n = 1; n <= o.rounds; ++n) {
    std::array<unsigned char, kvrm::kBlockSize> block{};
    std::string why;
    if (!read_round(line, static_cast<std::uint8_t>(o.line.slave), block.data(), &why)) {
      err << "meter-host check-wiring: " << where << ", round " << n << ": " << why << std::endl;
      return cli::kFailure;
    }
    rounds.push_back(check_wiring(wiring_reading(block.data()), o.wiring));
  }
  out << where << ": " << o.rounds << (o.rounds == 1 ? " round" : " rounds") << " read\n";
  unsigned counts[3] = {};
  for (const Check& c : worst_of(rounds)) {
    out << check_line(c) << "\n";
    ++counts[static_cast<int>(c.verdict)];
  }
  out << counts[0] << " pass, " << counts[1] << " warn, " << counts[2] << " fail" << std::endl;
  return counts[static_cast<int>(Verdict::fail)] > 0 ? cli::kFailure : cli::kDone;
}

}  // namespace commissioning
