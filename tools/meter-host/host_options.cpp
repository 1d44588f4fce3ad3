#include "host_options.h"

#include "command_line.h"

namespace meter_host {

std::optional<MeterSpec> parse_meter_spec(const std::string& text, std::string* error) {
  const auto first = text.find(':');
  const auto second = first == std::string::npos ? std::string::npos : text.find(':', first + 1);
  MeterSpec m;
  const auto slave = cli::parse_integer(text.substr(0, first), 1, 247);
  if (!slave) {
    *error = "expected SLAVE[:DATAID[:CONFIG]] with a slave address from 1 to 247, got \"" + text + "\"";
    return std::nullopt;
  }
  m.slave = static_cast<unsigned>(*slave);
  if (first != std::string::npos) {
    const std::string id = text.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
    if (!id.empty()) {
      const auto v = cli::parse_integer(id, 0, 4294967295LL);
      if (!v) {
        *error = "data id \"" + id + "\" is not a whole number from 0 to 4294967295";
        return std::nullopt;
      }
      m.dataId = static_cast<std::uint32_t>(*v);
    }
  }
  if (second != std::string::npos) m.config = text.substr(second + 1);
  return m;
}

namespace {

const char* kDescription =
    "The bench host: loads the KVRM4410T plug-in, drives a Modbus RTU line with\n"
    "libmodbus, runs polling rounds of one or several meters and shows what the\n"
    "plug-in publishes.";

const char* kFooter =
    "Line settings not given here come from the site file's \"line\" member, then\n"
    "from the configuration's \"hostSetting\" member (\"port\", \"baud\", \"parity\",\n"
    "\"slave\", \"timeoutMs\"), then from the defaults.\n"
    "\n"
    "Lines on standard input are commands too, taken while rounds run; with\n"
    "several meters \"@D \" in front names the meter of data id D (else the first):\n"
    "  snapshot | write ADDR=VALUE[,VALUE...] | result | ioctl CODE [TEXT] |\n"
    "  stats | help | quit\n"
    "SIGUSR1 prints the line statistics on standard error, as the end of a run does.\n"
    "\n"
    "Standard output carries only the snapshot lines and command answers (with\n"
    "several meters each snapshot line starts with the data id and a space); the\n"
    "plug-in's own diagnostic lines and the host's log go to standard error.\n"
    "Exit status: 0 when every meter completed every round of its turns, 1 on a\n"
    "runtime failure or an incomplete round, 2 on bad usage.";

}  // namespace

std::string duplicate_meter(const std::vector<MeterSpec>& meters) {
  for (std::size_t i = 0; i < meters.size(); ++i)
    for (std::size_t k = 0; k < i; ++k) {
      if (meters[i].slave == meters[k].slave)
        return "slave " + std::to_string(meters[i].slave) + " named twice: one meter per address";
      const auto a = meters[i].dataId.value_or(meters[i].slave), b = meters[k].dataId.value_or(meters[k].slave);
      if (a == b) return "data id " + std::to_string(a) + " named twice: each meter needs its own";
    }
  return {};
}

HostParse parse_host_options(const std::vector<std::string>& args) {
  HostParse r;
  HostOptions& o = r.options;
  CLI::App app(kDescription, "meter-host");
  app.footer(kFooter);
  cli::set_up(app, "meter-host", 34);

  const std::string device = "Plug-in and device";
  app.add_option("--plugin", o.plugin, "plug-in to load (default: the one built beside meter-host)")
      ->type_name("PATH")
      ->group(device);
  app.add_option("--config", o.config, "the devices' JSON configuration (default: {})")->type_name("FILE")->group(device);
  auto* dataId = cli::add_whole(app, "--data-id", [&o](long long v) { o.dataId = static_cast<unsigned>(v); }, 0,
                                4294967295LL, "the single meter's data id (default 1)")
                     ->group(device);
  std::vector<std::string> meters;
  auto* meter = app.add_option("--meter", meters,
                               "a meter on the line, repeatable: data id defaults to the slave\n"
                               "address, the configuration to --config")
                    ->type_name("SLAVE[:DATAID[:CONFIG]]")
                    ->check(CLI::Validator(
                        [](std::string& text) {
                          std::string why;
                          return parse_meter_spec(text, &why) ? std::string() : why;
                        },
                        ""))
                    ->group(device);
  auto* site = app.add_option("--site", o.site, "site file (JSON): \"line\" settings and \"meters\"")
                   ->type_name("FILE")
                   ->group(device);

  const std::string line = "Serial line";
  auto* port = app.add_option("--port", o.port, "serial device, best a /dev/serial/by-id/ path")
                   ->type_name("DEVICE")
                   ->group(line);
  cli::add_whole(app, "--baud", [&o](long long v) { o.baud = static_cast<unsigned>(v); }, 50, 4000000,
                 "line speed, a standard rate from 1200 to 921600\n(default: the driver's, 9600)")
      ->check(cli::one_of(cli::standard_bauds()))->type_name("BAUD")
      ->group(line);
  app.add_option_function<std::string>(
         "--parity", [&o](const std::string& p) { o.parity = p[0]; }, "parity (default N), 8 data bits, 1 stop bit")
      ->check(cli::one_of(std::vector<std::string>{"N", "E", "O"}))
      ->type_name("N|E|O")
      ->group(line);
  auto* slave = cli::add_whole(app, "--slave", [&o](long long v) { o.slave = static_cast<unsigned>(v); }, 1, 247,
                               "the single meter's slave address (default 1)")
                    ->group(line);
  cli::add_whole(app, "--timeout-ms", [&o](long long v) { o.timeoutMs = static_cast<unsigned>(v); }, 1, 600000,
                 "reply time-out per request (default 1000)")
      ->group(line);
  app.add_flag("--rs485", o.rs485, "switch the port's RS-485 mode on (UARTs that drive RS-485)")->group(line);
  app.add_option("--rts", o.rts, "RTS direction control: RTS up or down while sending")
      ->check(cli::one_of(std::vector<std::string>{"up", "down"}))
      ->type_name("up|down")
      ->group(line);

  const std::string rounds = "Rounds";
  cli::add_whole(app, "--rounds", [&o](long long v) { o.rounds = static_cast<unsigned>(v); }, 0, 1000000000,
                 "cycles to run, each giving every online meter one round;\n0: until interrupted (default 0)")
      ->group(rounds);
  app.add_option("--interval", o.interval, "pause between two cycles (default 1)")
      ->check(cli::seconds(86400))
      ->type_name("SECONDS")
      ->group(rounds);
  app.add_flag("--publish-every-round", o.publishEveryRound,
               "start each round of a meter in a later second than its last\n"
               "completed one: the driver stamps rounds to the second and\n"
               "publishes one per second, so every round is then published\n"
               "and checked (at most one round per second)")
      ->group(rounds);
  app.add_option("--offline-retry", o.offlineRetry,
                 "a meter offline after 3 failed rounds in a row is tried\nagain this often (default 30)")
      ->check(cli::seconds(86400))
      ->type_name("SECONDS")
      ->group(rounds);
  cli::add_whole(app, "--round-timeout-ms", [&o](long long v) { o.roundTimeoutMs = static_cast<unsigned>(v); }, 1,
                 86400000, "a round not complete by then is abandoned\n(default: 22 reply time-outs plus twice the wire time)")
      ->group(rounds);
  app.add_option("--history", o.history,
                 "SQLite database of history records and alarms; the newest\nrecord of each meter is loaded at start-up")
      ->type_name("FILE")
      ->group(rounds);
  app.add_flag("--snapshot", o.snapshot,
               "print the snapshot text (command 801) of every completed\nround on standard output, one line each")
      ->group(rounds);
  app.add_option_function<std::string>(
         "--show", [&o](const std::string&) { o.showTable = true; },
         "print every completed round as a table a person reads\n(redrawn in place on a terminal)")
      ->check(cli::one_of(std::vector<std::string>{"table"}))
      ->type_name("table")
      ->group(rounds);
  app.add_option("--check-config", o.checkConfig,
                 "check a configuration and the point file that mode 1\nwould read for --data-id; one line per finding,\nexit 0 when clean, 1 with findings")
      ->type_name("FILE")
      ->group(device);

  const std::string commands = "Commands (run after the first completed round, in the order given)";
  app.add_option_function<std::vector<std::string>>(
         "--write",
         [&o](const std::vector<std::string>& all) {
           for (const auto& t : all) {
             std::string why;
             o.writes.push_back(*parse_write_command(t, &why));
           }
         },
         "write one register (206) or a run (210), then print\n\"control result N\": 1 confirmed, 3 not confirmed,\n-1 no reply")
      ->check(CLI::Validator(
          [](std::string& t) {
            std::string why;
            return parse_write_command(t, &why) ? std::string() : why;
          },
          ""))
      ->type_name("ADDR=VALUE[,VALUE...]")
      ->group(commands);
  app.add_option_function<std::vector<std::string>>(
         "--ioctl",
         [&o](const std::vector<std::string>& all) {
           for (const auto& t : all) {
             std::string why;
             o.ioctls.push_back(*parse_ioctl_command(t, &why));
           }
         },
         "any command code with TEXT as input")
      ->check(CLI::Validator(
          [](std::string& t) {
            std::string why;
            return parse_ioctl_command(t, &why) ? std::string() : why;
          },
          ""))
      ->type_name("CODE[=TEXT]")
      ->group(commands);

  const std::string sim = "Simulated meters (the default when no port is given)";
  auto* simulate = app.add_flag("--simulate", o.simulate, "start meter-sim on a pseudo-terminal and use it")
                       ->group(sim);
  app.add_option("--sim", o.simPath, "meter-sim to start (default: the one built beside)")
      ->type_name("PATH")
      ->group(sim);
  // Passed to meter-sim as given; it checks them.
  std::vector<std::string> registers, faults;
  std::string faultAfter, faultCount, slowMs, exceptionCode;
  bool lineSpeed = false;
  std::vector<CLI::Option*> simOptions{
      app.add_option("--registers", registers, "register image (JSON: register number to value);\nS=FILE for slave S only")
          ->type_name("[S=]FILE"),
      app.add_option("--fault", faults,
                     "fault: no-reply, bad-crc, exception, wrong-echo,\nslow, hold; KIND@S for slave S only")
          ->type_name("KIND[@S]"),
      app.add_option("--fault-after", faultAfter, "requests answered before the fault starts")
          ->check(cli::whole(0, 1000000000))
          ->type_name("N"),
      app.add_option("--fault-count", faultCount, "requests that suffer the fault (0: all)")
          ->check(cli::whole(0, 1000000000))
          ->type_name("N"),
      app.add_option("--slow-ms", slowMs, "delay of its slow replies")->check(cli::whole(0, 600000))->type_name("N"),
      app.add_option("--exception-code", exceptionCode, "code of its exception replies")
          ->check(cli::whole(1, 255))
          ->type_name("N"),
      app.add_flag("--line-speed", lineSpeed, "it takes as long as a real line at the baud rate")};
  for (CLI::Option* opt : simOptions) opt->group(sim)->excludes(port);
  simulate->excludes(port);

  app.add_flag("--verbose", o.verbose, "log every frame and host service call");

  meter->excludes(slave)->excludes(dataId)->excludes(site);

  const cli::Outcome parsed = cli::parse(app, args);
  if (!parsed.proceed) {
    (parsed.status == cli::kDone ? r.text : r.error) = parsed.text;
    return r;
  }
  for (const std::string& text : meters) {
    std::string why;
    o.meters.push_back(*parse_meter_spec(text, &why));
  }
  if (const std::string why = duplicate_meter(o.meters); !why.empty()) r.error = "--meter: " + why;
  for (const auto& f : registers) o.simArgs.insert(o.simArgs.end(), {"--registers", f});
  for (const auto& f : faults) o.simArgs.insert(o.simArgs.end(), {"--fault", f});
  const std::pair<const char*, const std::string*> values[] = {{"--fault-after", &faultAfter},
                                                               {"--fault-count", &faultCount},
                                                               {"--slow-ms", &slowMs},
                                                               {"--exception-code", &exceptionCode}};
  for (const auto& [name, value] : values)
    if (!value->empty()) o.simArgs.insert(o.simArgs.end(), {name, *value});
  if (lineSpeed) o.simArgs.push_back("--line-speed");
  return r;
}

}  // namespace meter_host
