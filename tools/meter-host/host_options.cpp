#include "host_options.h"

#include <algorithm>
#include <array>

#include "cli_number.h"

namespace meter_host {

const char* host_usage() {
  return "usage: meter-host [options]\n"
         "The bench host: loads the KVRM4410T plug-in, drives a Modbus RTU line with\n"
         "libmodbus, runs polling rounds and shows what the plug-in publishes.\n"
         "\n"
         "Plug-in and device:\n"
         "  --plugin PATH        plug-in to load (default: the one built beside meter-host)\n"
         "  --config FILE        the device's JSON configuration (default: {})\n"
         "  --data-id N          the device's data id (default 1)\n"
         "\n"
         "Serial line (these override the configuration's \"hostSetting\" member,\n"
         "which may carry \"port\", \"baud\", \"parity\", \"slave\" and \"timeoutMs\"):\n"
         "  --port DEVICE        serial device, e.g. /dev/ttyUSB0\n"
         "  --baud N             line speed (default: the driver's, 9600)\n"
         "  --parity N|E|O       parity (default N), 8 data bits, 1 stop bit\n"
         "  --slave N            the meter's slave address (default 1)\n"
         "  --timeout-ms N       reply time-out per request (default 1000)\n"
         "\n"
         "Rounds:\n"
         "  --rounds N           status refreshes to run, 0: until interrupted (default 0)\n"
         "  --interval SECONDS   from one refresh to the next (default 1)\n"
         "  --round-timeout-ms N a round not complete by then is abandoned\n"
         "                       (default: 22 reply time-outs plus twice the wire time)\n"
         "  --history FILE       SQLite database of history records and alarms; its\n"
         "                       newest record of the data id is loaded at start-up\n"
         "  --snapshot           print the snapshot text (command 801) of every\n"
         "                       completed round on standard output, one line each\n"
         "  --show table         print every completed round as a table a person reads\n"
         "                       (redrawn in place on a terminal)\n"
         "  --check-config FILE  check a configuration and the point file that mode 1\n"
         "                       would read for --data-id; one line per finding, exit\n"
         "                       0 when clean, 1 with findings\n"
         "\n"
         "Commands (run after the first completed round, in the order given):\n"
         "  --write ADDR=VALUE[,VALUE...]  write one register (206) or a run (210), then\n"
         "                       print \"control result N\": 1 confirmed, 3 not\n"
         "                       confirmed, -1 no reply within the time-out\n"
         "  --ioctl CODE[=TEXT]  any command code with TEXT as input\n"
         "Lines on standard input are commands too, taken while rounds run:\n"
         "  snapshot | write ADDR=VALUE[,VALUE...] | result | ioctl CODE [TEXT] | quit\n"
         "\n"
         "Simulated meter (the default when no port is given):\n"
         "  --simulate           start meter-sim on a pseudo-terminal and use it\n"
         "  --sim PATH           meter-sim to start (default: the one built beside)\n"
         "  --registers FILE     its register image (JSON: register number to value)\n"
         "  --fault KIND         its fault: no-reply, bad-crc, exception, wrong-echo, slow\n"
         "  --fault-after N      requests it answers before the fault starts\n"
         "  --fault-count N      requests that suffer the fault (0: all)\n"
         "  --slow-ms N          delay of its slow replies\n"
         "  --exception-code N   code of its exception replies\n"
         "  --line-speed         it takes as long as a real line at the baud rate\n"
         "\n"
         "  --verbose            log every frame and host service call\n"
         "  --help               this text\n"
         "\n"
         "Standard output carries only the snapshot lines and command answers; the\n"
         "plug-in's own diagnostic lines and the host's log go to standard error.\n"
         "Exit status: 0 when every requested round completed, 1 on a runtime\n"
         "failure or an incomplete round, 2 on bad usage.\n";
}

namespace {

// Options that take a value and go to meter-sim as they stand.
constexpr std::array<const char*, 5> kSimValueOptions{{"--fault", "--fault-after", "--fault-count", "--slow-ms",
                                                       "--exception-code"}};

}  // namespace

HostParse parse_host_options(const std::vector<std::string>& args) {
  HostParse r;
  HostOptions& o = r.options;
  bool portGiven = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    std::string text;
    auto value = [&]() { return cli::take_value(args, i, &text, &r.error); };
    auto number = [&](long long min, long long max, unsigned* out) {
      long long v = 0;
      if (!cli::take_integer(args, i, min, max, &v, &r.error)) return false;
      *out = static_cast<unsigned>(v);
      return true;
    };
    unsigned n = 0;
    if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a == "--plugin") {
      if (!value()) return r;
      o.plugin = text;
    } else if (a == "--config") {
      if (!value()) return r;
      o.config = text;
    } else if (a == "--data-id") {
      if (!number(0, 4294967295LL, &o.dataId)) return r;
    } else if (a == "--port") {
      if (!value()) return r;
      o.port = text;
      portGiven = true;
    } else if (a == "--baud") {
      if (!number(50, 4000000, &n)) return r;
      o.baud = n;
    } else if (a == "--parity") {
      if (!value()) return r;
      if (text != "N" && text != "E" && text != "O") {
        r.error = "--parity: expected N, E or O, got \"" + text + "\"";
        return r;
      }
      o.parity = text[0];
    } else if (a == "--slave") {
      if (!number(1, 247, &n)) return r;
      o.slave = n;
    } else if (a == "--timeout-ms") {
      if (!number(1, 600000, &n)) return r;
      o.timeoutMs = n;
    } else if (a == "--rounds") {
      if (!number(0, 1000000000, &o.rounds)) return r;
    } else if (a == "--interval") {
      if (!value()) return r;
      const auto s = cli::parse_seconds(text, 86400.0);
      if (!s) {
        r.error = "--interval: expected seconds from 0 to 86400, got \"" + text + "\"";
        return r;
      }
      o.interval = *s;
    } else if (a == "--round-timeout-ms") {
      if (!number(1, 86400000, &n)) return r;
      o.roundTimeoutMs = n;
    } else if (a == "--history") {
      if (!value()) return r;
      o.history = text;
    } else if (a == "--snapshot") {
      o.snapshot = true;
    } else if (a == "--show") {
      if (!value()) return r;
      if (text != "table") {
        r.error = "--show: expected table, got \"" + text + "\"";
        return r;
      }
      o.showTable = true;
    } else if (a == "--check-config") {
      if (!value()) return r;
      o.checkConfig = text;
    } else if (a == "--write") {
      if (!value()) return r;
      std::string why;
      auto cmd = parse_write_command(text, &why);
      if (!cmd) {
        r.error = "--write: " + why;
        return r;
      }
      o.writes.push_back(*cmd);
    } else if (a == "--ioctl") {
      if (!value()) return r;
      std::string why;
      auto cmd = parse_ioctl_command(text, &why);
      if (!cmd) {
        r.error = "--ioctl: " + why;
        return r;
      }
      o.ioctls.push_back(*cmd);
    } else if (a == "--simulate") {
      o.simulate = true;
    } else if (a == "--sim") {
      if (!value()) return r;
      o.simPath = text;
    } else if (a == "--registers") {
      if (!value()) return r;
      o.simArgs.insert(o.simArgs.end(), {a, text});
    } else if (std::find(kSimValueOptions.begin(), kSimValueOptions.end(), a) != kSimValueOptions.end()) {
      if (!value()) return r;
      o.simArgs.insert(o.simArgs.end(), {a, text});
    } else if (a == "--line-speed") {
      o.simArgs.push_back(a);
    } else if (a == "--verbose") {
      o.verbose = true;
    } else {
      r.error = "unknown option \"" + a + "\"";
      return r;
    }
  }
  if (o.simulate && portGiven) {
    r.error = "--simulate and --port exclude each other";
  } else if (!o.simArgs.empty() && portGiven) {
    r.error = "simulator options (" + o.simArgs.front() + ") need --simulate, not --port";
  }
  return r;
}

}  // namespace meter_host
