#include "sim_options.h"

#include "cli_number.h"

namespace meter_sim {

const char* sim_usage() {
  return "usage: meter-sim [options]\n"
         "A simulated KVRM4410T meter: a Modbus RTU slave serving holding registers\n"
         "256..575, 39424..39533 and 39624..39645 with functions 3, 6 and 16.\n"
         "Without --port it creates a pseudo-terminal and prints the path to connect\n"
         "to on its first line of standard output. It runs until SIGINT or SIGTERM.\n"
         "\n"
         "  --port DEVICE       serve this serial device instead of a pseudo-terminal\n"
         "  --slave N           slave address, 1..247 (default 1)\n"
         "  --baud N            line speed (default 9600)\n"
         "  --parity N|E|O      parity (default N)\n"
         "  --registers FILE    register image: a JSON object of decimal register\n"
         "                      number to 16-bit value; other registers read 0 and\n"
         "                      nothing moves. Default: a live image whose values move\n"
         "                      on every read and whose energy counters grow\n"
         "  --fault KIND        no-reply, bad-crc, exception, wrong-echo (writes only)\n"
         "                      or slow\n"
         "  --fault-after N     requests answered normally before the fault starts (0)\n"
         "  --fault-count N     requests that suffer the fault, 0: all (default 0)\n"
         "  --slow-ms N         delay of a slow reply (default 2000)\n"
         "  --exception-code N  code of the exception reply (default 4)\n"
         "  --line-speed        take as long as the line at --baud: wait out the\n"
         "                      request's wire time and send the reply at that speed\n"
         "  --verbose           log every request on standard error\n"
         "  --help              this text\n";
}

SimParse parse_sim_options(const std::vector<std::string>& args) {
  SimParse r;
  SimOptions& o = r.options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string* out) { return cli::take_value(args, i, out, &r.error); };
    auto number = [&](long long min, long long max, long long* out) {
      return cli::take_integer(args, i, min, max, out, &r.error);
    };
    long long n = 0;
    std::string text;
    if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a == "--port") {
      if (!value(&o.port)) return r;
    } else if (a == "--slave") {
      if (!number(1, 247, &n)) return r;
      o.slave = static_cast<unsigned>(n);
    } else if (a == "--baud") {
      if (!number(50, 4000000, &n)) return r;
      o.baud = static_cast<unsigned>(n);
    } else if (a == "--parity") {
      if (!value(&text)) return r;
      if (text != "N" && text != "E" && text != "O") {
        r.error = "--parity: expected N, E or O, got \"" + text + "\"";
        return r;
      }
      o.parity = text[0];
    } else if (a == "--registers") {
      if (!value(&o.registers)) return r;
    } else if (a == "--fault") {
      if (!value(&text)) return r;
      const auto f = parse_fault(text);
      if (!f) {
        r.error = "--fault: unknown fault \"" + text + "\" (no-reply, bad-crc, exception, wrong-echo, slow)";
        return r;
      }
      o.faults.kind = *f;
    } else if (a == "--fault-after") {
      if (!number(0, 1000000000, &n)) return r;
      o.faults.after = static_cast<unsigned>(n);
    } else if (a == "--fault-count") {
      if (!number(0, 1000000000, &n)) return r;
      o.faults.count = static_cast<unsigned>(n);
    } else if (a == "--slow-ms") {
      if (!number(0, 600000, &n)) return r;
      o.faults.slowDelay = std::chrono::milliseconds(n);
    } else if (a == "--exception-code") {
      if (!number(1, 255, &n)) return r;
      o.faults.exceptionCode = static_cast<std::uint8_t>(n);
    } else if (a == "--line-speed") {
      o.lineSpeed = true;
    } else if (a == "--verbose") {
      o.verbose = true;
    } else {
      r.error = "unknown option \"" + a + "\"";
      return r;
    }
  }
  return r;
}

}  // namespace meter_sim
