#include <array>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <ostream>

#include "acquisition/data_block.h"
#include "command_line.h"
#include "commissioning.h"
#include "meter_reads.h"
#include "modbus_line.h"
#include "scan.h"
#include "sweep.h"

namespace commissioning {

namespace {

using Clock = std::chrono::steady_clock;

const char* kScanDescription =
    "Finds the devices on a Modbus RTU line: at each speed and parity it asks\n"
    "every address for the frequency register (409). A reply or an exception\n"
    "is a device; a reply with a bad CRC is reported for its address (two\n"
    "slaves at one address, or the wrong speed). Each device found is read as\n"
    "the driver reads a KVRM4410T to tell whether it is one. It stops after\n"
    "the first speed and parity where devices answered, unless --all.";

const char* kScanFooter =
    "Standard output: one line per device and per address with bad CRCs.\n"
    "Standard error: a progress bar on a terminal, else one line per speed\n"
    "and parity. A line that another program holds is refused untouched.\n"
    "Exit status: 0 when a device was found, 1 when none was or the line\n"
    "failed, 2 on bad usage.";

struct ScanOptions {
  std::string port;
  std::vector<unsigned> bauds{9600, 19200, 4800, 2400, 38400, 115200};
  std::vector<char> parities{'N', 'E', 'O'};
  std::vector<unsigned> slaves;
  unsigned timeoutMs = 100;
  bool all = false;
  std::string siteFile;
};

// The progress: redrawn in place on a terminal, one line per combination
// otherwise.
class Reporter {
public:
  Reporter(std::ostream& err, bool terminal) : err_(err), terminal_(terminal) {}
  ~Reporter() { clear(); }

  void asking(const Progress& p) {
    if (!terminal_) return;
    err_ << "\r" << progress_text(p, 20) << "\x1b[K" << std::flush;
    drawn_ = true;
  }
  void swept(const Combination& c, std::size_t addresses, Clock::duration took, std::size_t present,
             std::size_t garbled) {
    if (terminal_) return;
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.2f", std::chrono::duration<double>(took).count());
    err_ << describe(c) << ": " << addresses << " addresses in " << seconds << " s, " << present << " answered, "
         << garbled << " bad CRC" << std::endl;
  }
  void clear() {
    if (drawn_) err_ << "\r\x1b[K" << std::flush;
    drawn_ = false;
  }

private:
  std::ostream& err_;
  bool terminal_;
  bool drawn_ = false;
};

bool parse_scan_options(const std::vector<std::string>& args, ScanOptions* o, std::ostream& out, std::ostream& err,
                        int* status) {
  CLI::App app(kScanDescription, "meter-host scan");
  app.footer(kScanFooter);
  cli::set_up(app, "meter-host", 30);
  app.add_option("--port", o->port, "serial device of the line")->type_name("DEVICE")->required();
  app.add_option("--bauds", o->bauds, "speeds to try, in order\n(default 9600,19200,4800,2400,38400,115200)")
      ->delimiter(',')
      ->check(cli::one_of(cli::standard_bauds()))
      ->type_name("LIST");
  std::vector<std::string> parities;
  app.add_option("--parities", parities, "parities to try, in order (default N,E,O)")
      ->delimiter(',')
      ->check(cli::one_of(std::vector<std::string>{"N", "E", "O"}))
      ->type_name("LIST");
  std::string slaves = "1-247";
  app.add_option("--slaves", slaves, "addresses to ask, e.g. 1-247 (default) or 1-10,20")
      ->check(CLI::Validator(
          [](std::string& t) {
            std::string why;
            return parse_slaves(t, &why) ? std::string() : why;
          },
          ""))
      ->type_name("RANGE");
  cli::add_whole(app, "--timeout-ms", [o](long long v) { o->timeoutMs = static_cast<unsigned>(v); }, 1, 60000,
                 "reply time-out per address (default 100)");
  app.add_flag("--all", o->all, "try every speed and parity, also after devices answered");
  app.add_option("--write-site", o->siteFile,
                 "write a site file (for meter-host --site) with the\nKVRM4410T meters found")
      ->type_name("FILE");
  const cli::Outcome parsed = cli::parse(app, args);
  if (!parsed.proceed) {
    *status = parsed.status;
    if (parsed.status == cli::kDone)
      out << parsed.text << std::flush;
    else
      err << parsed.text << "\n(meter-host scan --help lists the options)" << std::endl;
    return false;
  }
  if (!parities.empty()) {
    o->parities.clear();
    for (const std::string& p : parities) o->parities.push_back(p[0]);
  }
  std::string why;
  o->slaves = *parse_slaves(slaves, &why);
  return true;
}

// What one device is: a KVRM4410T sends every range of a round, and a
// frequency a grid has.
void identify(meter_host::ModbusLine& line, const ReadResult& probe, Found* f) {
  if (probe.kind == ReadResult::Kind::exception) {
    f->why = "its answer to register " + std::to_string(kProbeRegister) + ": " + probe.why;
    return;
  }
  f->frequency = probe.registers.at(0) / 100.0;
  std::array<unsigned char, kvrm::kBlockSize> block{};
  if (!read_round(line, static_cast<std::uint8_t>(f->slave), block.data(), &f->why)) return;
  if (!plausible_frequency(*f->frequency)) {
    char text[64];
    std::snprintf(text, sizeof text, "register %u reads %.2f, no grid frequency", kProbeRegister, *f->frequency);
    f->why = text;
    return;
  }
  f->kvrm = true;
}

}  // namespace

int scan_command(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool errIsTerminal) {
  ScanOptions o;
  int status = cli::kDone;
  if (!parse_scan_options(args, &o, out, err, &status)) return status;

  const std::vector<Combination> combos = combinations(o.bauds, o.parities);
  const auto timeout = std::chrono::milliseconds(o.timeoutMs);
  Reporter reporter(err, errIsTerminal);
  std::vector<Found> found;
  Garbled garbled;
  Clock::duration spent{0};
  std::size_t done = 0;  // addresses asked in the sweeps before this one

  for (std::size_t ci = 0; ci < combos.size(); ++ci) {
    const Combination& c = combos[ci];
    meter_host::LineSettings settings;
    settings.port = o.port;
    settings.baud = c.baud;
    settings.parity = c.parity;
    settings.timeoutMs = o.timeoutMs;
    meter_host::ModbusLine line;
    std::string error;
    if (!line.open(settings, &error)) {
      reporter.clear();
      err << "meter-host scan: " << error << std::endl;
      return cli::kFailure;
    }
    const auto started = Clock::now();
    const Sweep swept = sweep(line, o.slaves, [&](std::size_t i, std::size_t answered) {
      if (!errIsTerminal) return;
      // The time left from the mean so far, at first from the physical least.
      const std::size_t asked = done + i;
      const std::chrono::nanoseconds each =
          asked ? std::chrono::nanoseconds((spent + (Clock::now() - started)) / static_cast<long long>(asked))
                : sweep_limit(1, c, timeout);
      const std::size_t remaining = (o.slaves.size() - i) + (combos.size() - ci - 1) * o.slaves.size();
      reporter.asking(Progress{ci, combos.size(), c, i, o.slaves.size(), o.slaves[i], found.size() + answered,
                               std::chrono::ceil<std::chrono::seconds>(each * static_cast<long long>(remaining))});
    });
    spent += swept.took;
    done += o.slaves.size();
    if (!swept.lost.empty()) {
      reporter.clear();
      err << "meter-host scan: " << o.port << ": " << swept.lost << std::endl;
      return cli::kFailure;
    }
    for (unsigned slave : swept.garbled) garbled[slave].push_back(c);
    const auto& present = swept.present;
    reporter.swept(c, o.slaves.size(), swept.took, present.size(), swept.garbled.size());
    for (const auto& [slave, probe] : present) {
      Found f;
      f.slave = slave;
      f.at = c;
      identify(line, probe, &f);
      found.push_back(f);
    }
    if (!present.empty() && !o.all) break;
  }
  reporter.clear();

  for (const Found& f : found) out << found_line(f) << "\n";
  for (const auto& [slave, where] : garbled) out << garbled_line(slave, where) << "\n";
  out << std::flush;
  if (found.empty()) err << "meter-host scan: no device answered on " << o.port << std::endl;

  if (!o.siteFile.empty()) {
    const Json::Value site = site_file(o.port, found);
    if (site.isNull()) {
      err << "meter-host scan: no KVRM4410T found: " << o.siteFile << " not written" << std::endl;
      return cli::kFailure;
    }
    std::ofstream file(o.siteFile);
    file << site_text(site);
    if (!file.flush()) {
      err << "meter-host scan: cannot write " << o.siteFile << std::endl;
      return cli::kFailure;
    }
    err << "meter-host scan: site file " << o.siteFile << " written: " << site["meters"].size() << " meter"
        << (site["meters"].size() == 1 ? "" : "s") << " at " << site["line"]["baud"].asUInt() << " 8"
        << site["line"]["parity"].asString() << "1" << std::endl;
  }
  return found.empty() ? cli::kFailure : cli::kDone;
}

}  // namespace commissioning
