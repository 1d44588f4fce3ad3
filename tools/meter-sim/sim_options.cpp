#include "sim_options.h"

#include <algorithm>

#include "command_line.h"

namespace meter_sim {

namespace {

const char* kDescription =
    "Simulated KVRM4410T meters: Modbus RTU slaves on one line, each serving\n"
    "holding registers 256..575, 39424..39533 and 39624..39645 with functions\n"
    "3, 6 and 16. Without --port it creates a pseudo-terminal and prints the path\n"
    "to connect to on its first line of standard output. It runs until SIGINT or\n"
    "SIGTERM.";

const char* kFooter =
    "Every slave stays in step with whatever else is on the line: it reads and\n"
    "ignores requests for other addresses and replies of other slaves.\n"
    "Exit status: 0 when stopped, 1 when the line cannot be opened, 2 on bad usage.";

// "1,2,3": distinct slave addresses.
std::string parse_slave_list(const std::string& text, std::vector<unsigned>* out) {
  std::vector<unsigned> list;
  std::size_t from = 0;
  for (;;) {
    const auto comma = text.find(',', from);
    const std::string item = text.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
    const auto v = cli::parse_integer(item, 1, 247);
    if (!v) return "slave address \"" + item + "\" is not a whole number from 1 to 247";
    if (std::find(list.begin(), list.end(), *v) != list.end()) return "slave " + item + " named twice";
    list.push_back(static_cast<unsigned>(*v));
    if (comma == std::string::npos) break;
    from = comma + 1;
  }
  if (out) *out = list;
  return {};
}

// "TEXT@S" or "S=TEXT" splits into the slave and the text; without the
// slave part, nothing.
std::optional<unsigned> slave_part(const std::string& text, char mark, bool slaveFirst, std::string* rest) {
  const auto at = slaveFirst ? text.find(mark) : text.rfind(mark);
  if (at == std::string::npos) return std::nullopt;
  const std::string number = slaveFirst ? text.substr(0, at) : text.substr(at + 1);
  const auto v = cli::parse_integer(number, 1, 247);
  if (!v) return std::nullopt;
  *rest = slaveFirst ? text.substr(at + 1) : text.substr(0, at);
  return static_cast<unsigned>(*v);
}

CLI::Validator checked(std::string (*check)(const std::string&)) {
  return CLI::Validator([check](std::string& text) { return check(text); }, "");
}

std::string check_fault(const std::string& text) {
  std::string kind = text;
  slave_part(text, '@', false, &kind);
  if (parse_fault(kind)) return {};
  return "unknown fault \"" + text + "\" (no-reply, bad-crc, exception, wrong-echo, slow, hold; KIND@S for one slave)";
}

std::string check_wiring(const std::string& text) {
  std::string kinds = text;
  slave_part(text, '@', false, &kinds);
  Wiring w;
  std::string why;
  return add_wiring(kinds, &w, &why) ? std::string() : why + "; KIND[,KIND...]@S for one slave";
}

}  // namespace

std::vector<SlaveSetup> SimOptions::setups() const {
  std::vector<SlaveSetup> out;
  for (unsigned s : slaves) {
    SlaveSetup setup;
    setup.address = s;
    const auto image = slaveRegisters.find(s);
    setup.registers = image != slaveRegisters.end() ? image->second : registers;
    setup.faults = faults;
    const auto fault = slaveFaults.find(s);
    if (fault != slaveFaults.end()) setup.faults.kind = fault->second;
    const auto wiringOf = slaveWiring.find(s);
    setup.wiring = wiringOf != slaveWiring.end() ? wiringOf->second : wiring;
    out.push_back(setup);
  }
  return out;
}

SimParse parse_sim_options(const std::vector<std::string>& args) {
  SimParse r;
  SimOptions& o = r.options;
  CLI::App app(kDescription, "meter-sim");
  app.footer(kFooter);
  cli::set_up(app, "meter-sim", 30);

  app.add_option("--port", o.port, "serve this serial device instead of a pseudo-terminal")->type_name("DEVICE");
  app.add_option_function<std::string>(
         "--slave", [&o](const std::string& t) { parse_slave_list(t, &o.slaves); },
         "slave addresses served, 1..247, comma-separated (default 1)")
      ->check(checked([](const std::string& t) { return parse_slave_list(t, nullptr); }))
      ->type_name("S[,S...]");
  cli::add_whole(app, "--baud", [&o](long long v) { o.baud = static_cast<unsigned>(v); }, 50, 4000000,
                 "line speed, a standard rate from 1200 to 921600\n(default 9600)")
      ->check(cli::one_of(cli::standard_bauds()))->type_name("BAUD");
  app.add_option_function<std::string>(
         "--parity", [&o](const std::string& p) { o.parity = p[0]; }, "parity (default N)")
      ->check(cli::one_of(std::vector<std::string>{"N", "E", "O"}))
      ->type_name("N|E|O");
  std::vector<std::string> registers, faults;
  app.add_option("--registers", registers,
                 "register image: a JSON object of decimal register number to\n"
                 "16-bit value; other registers read 0 and nothing moves.\n"
                 "S=FILE gives slave S its own image (repeatable). Default: a\n"
                 "live image per slave whose values move on every read and\n"
                 "whose energy counters grow")
      ->type_name("[S=]FILE");
  app.add_option("--fault", faults,
                 "no-reply, bad-crc, exception, wrong-echo (writes only),\n"
                 "slow, or hold (the reply waits for SIGUSR1); KIND@S for\n"
                 "slave S only (repeatable)")
      ->check(checked(check_fault))
      ->type_name("KIND[@S]");
  cli::add_whole(app, "--fault-after", [&o](long long v) { o.faults.after = static_cast<unsigned>(v); }, 0,
                 1000000000, "requests to a slave answered normally before its fault\nstarts (0)");
  cli::add_whole(app, "--fault-count", [&o](long long v) { o.faults.count = static_cast<unsigned>(v); }, 0,
                 1000000000, "requests that suffer the fault, 0: all (default 0)");
  cli::add_whole(app, "--slow-ms", [&o](long long v) { o.faults.slowDelay = std::chrono::milliseconds(v); }, 0,
                 600000, "delay of a slow reply (default 2000)");
  cli::add_whole(app, "--exception-code",
                 [&o](long long v) { o.faults.exceptionCode = static_cast<std::uint8_t>(v); }, 1, 255,
                 "code of the exception reply (default 4)");
  app.add_flag("--line-speed", o.lineSpeed,
               "take as long as the line at --baud: wait out the request's\n"
               "wire time and send the reply at that speed");
  std::vector<std::string> wirings;
  app.add_option("--wiring", wirings,
                 "how the live image's meter is wired: reversed-ct:A|B|C,\n"
                 "swapped-ct:AB|BC|CA, missing-voltage:A|B|C, low-load,\n"
                 "export; several with commas or repeated; KIND@S for\n"
                 "slave S only (default: wired right)")
      ->check(checked(check_wiring))
      ->type_name("KIND[,KIND...][@S]");
  app.add_flag("--garble-baud", o.garbleBaud,
               "a master at another speed gets a reply that fails the CRC\n"
               "instead of none (on a pseudo-terminal, where the speed\n"
               "and parity a master set are known)");
  app.add_flag("--verbose", o.verbose, "log every request on standard error");

  const cli::Outcome parsed = cli::parse(app, args);
  if (!parsed.proceed) {
    (parsed.status == cli::kDone ? r.text : r.error) = parsed.text;
    return r;
  }
  auto served = [&o](unsigned s) { return std::find(o.slaves.begin(), o.slaves.end(), s) != o.slaves.end(); };
  for (const std::string& f : registers) {
    std::string file;
    if (const auto s = slave_part(f, '=', true, &file)) {
      if (!served(*s)) r.error = "--registers " + f + ": slave " + std::to_string(*s) + " is not served (--slave)";
      o.slaveRegisters[*s] = file;
    } else {
      o.registers = f;
    }
  }
  for (const std::string& f : faults) {
    std::string kind = f;
    if (const auto s = slave_part(f, '@', false, &kind)) {
      if (!served(*s)) r.error = "--fault " + f + ": slave " + std::to_string(*s) + " is not served (--slave)";
      o.slaveFaults[*s] = *parse_fault(kind);
    } else {
      o.faults.kind = *parse_fault(kind);
    }
  }
  for (const std::string& text : wirings) {
    std::string kinds = text, why;
    if (const auto s = slave_part(text, '@', false, &kinds)) {
      if (!served(*s)) r.error = "--wiring " + text + ": slave " + std::to_string(*s) + " is not served (--slave)";
      Wiring& w = o.slaveWiring.try_emplace(*s, o.wiring).first->second;
      add_wiring(kinds, &w, &why);
    } else {
      add_wiring(kinds, &o.wiring, &why);
      for (auto& [slave, w] : o.slaveWiring) add_wiring(kinds, &w, &why);
    }
  }
  return r;
}

}  // namespace meter_sim
